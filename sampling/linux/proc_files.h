#pragma once
#include <stddef.h>

// Whole-file reads relative to a proc root's directory handle, with one open, one read and one
// close each: the kernel produces these files on open and read, so nothing is kept open.

// Reads the file at `path` under the root into `buf` (at most cap - 1 bytes, NUL-terminated).
// Returns the length, or -1 when the file cannot be opened or read.
long read_small(int root_fd, const char* path, char* buf, size_t cap);

// Like read_small, but keeps reading until the buffer is full or the file ends.
long read_whole(int root_fd, const char* path, char* buf, size_t cap);
