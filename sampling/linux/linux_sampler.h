#pragma once
#include "sampling/snapshot.h"

// Runs between the two readings of the CPU window in place of the wait (tests change the tree
// under the root there). Returns the seconds that the per-process CPU figures cover, or a value
// not above 0 to have them measured.
typedef double (*window_hook)(void* ctx);

// Fills `snap` completely from a proc tree: `root_fd` is an open directory handle of its root
// (normally "/proc"). Without a hook the CPU window lasts CPU_SAMPLE_MS from the first reading.
void sample_linux(sys_snapshot* snap, int root_fd, window_hook hook, void* hook_ctx);
