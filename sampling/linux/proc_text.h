#pragma once
#include <stddef.h>
#include <stdint.h>

// Small readers of the kernel's text files: a cursor over [p, end), never past end, no allocation.
struct text_cursor {
    const char* p;
    const char* end;
};

// A counter as read from a file; a negative value (a malformed file) counts as 0.
inline uint64_t counter(int64_t v) { return v > 0 ? static_cast<uint64_t>(v) : 0; }

// Skips spaces and tabs (not line feeds).
void skip_blanks(text_cursor* c);

// Reads an optionally signed decimal integer after blanks; false when no digit follows.
// Values beyond the int64 range saturate.
bool read_int(text_cursor* c, int64_t* value);

// Reads a decimal number with an optional fraction ("23249.77") after blanks; false when no digit
// follows.
bool read_decimal(text_cursor* c, double* value);

// Skips the rest of the current field (up to the next blank or line feed).
void skip_field(text_cursor* c);

// Moves to the start of the next line; false at the end of the text.
bool next_line(text_cursor* c);

// When the line at the cursor has the form "key<blanks>:" with exactly `key`, moves past the
// colon and returns true; otherwise leaves the cursor alone.
bool take_key(text_cursor* c, const char* key);

// Copies the rest of the line, without surrounding white space, into `out` (capacity bytes,
// NUL-terminated), cut so that no UTF-8 sequence is split.
void copy_trimmed_line(text_cursor c, char* out, size_t capacity);

// Copies [text, text + len) into `out` (capacity bytes, NUL-terminated), cut so that no UTF-8
// sequence is split. Returns the bytes copied.
size_t copy_cut(const char* text, size_t len, char* out, size_t capacity);
