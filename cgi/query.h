#pragma once
#include <stddef.h>

// Finds `key` in the raw query string (at its start or right after "&", followed by "="),
// copies at most capacity-1 raw bytes of its value into `out`, then URL-decodes it in place.
// Returns 1 when the key was found (also with an empty value), 0 otherwise; `out` is always
// a NUL-terminated string afterwards. `capacity` must be at least 2.
int get_query_val(const char* query, const char* key, char* out, size_t capacity);
