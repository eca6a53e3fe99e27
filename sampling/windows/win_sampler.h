#pragma once
#include <stddef.h>
#include <stdint.h>

#include "sampling/snapshot.h"
#include "sampling/windows/win_ops.h"

// Fills `snap` completely through the Windows platform operations in `ops`: computer name,
// CPU busy share over CPU_SAMPLE_MS, physical memory, page file as swap, uptime and one row per
// process with its working set. The outcome is snap->ok.
void sample_windows(sys_snapshot* snap, const win_ops* ops);

// The computer name into `out` (capacity bytes, NUL-terminated); left alone when unavailable.
void read_computer_name(const win_ops* ops, char* out, size_t capacity);

// Converts the NUL-terminated UTF-16 text `units` (read at most `max_units` units) to UTF-8 in
// `out`, NUL-terminated within `capacity` bytes and cut at a character boundary. Surrogate pairs
// are combined; an unpaired surrogate becomes U+FFFD. Returns the number of bytes written.
size_t utf16_to_utf8(const uint16_t* units, size_t max_units, char* out, size_t capacity);
