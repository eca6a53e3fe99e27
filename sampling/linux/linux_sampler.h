#pragma once
#include "sampling/linux/process_clock.h"
#include "sampling/snapshot.h"

// Fills `snap` completely from a proc tree: `root_fd` is an open directory handle of its root
// (normally "/proc"); `clocks` gives the processes' CPU-time clocks, the time and the wait of the
// CPU window, which lasts CPU_SAMPLE_MS from just before the first reading of "stat".
void sample_linux(sys_snapshot* snap, int root_fd, const linux_clock_ops& clocks);
