#pragma once
#include "sampling/counters.h"
#include "sampling/linux/process_clock.h"

// Fills `c` from a proc tree whose root is open as `root_fd` (normally "/proc"), reading each
// file once: "stat" (CPU time per CPU and mode, boot time), "meminfo", "loadavg", the host name,
// the CPU model and one walk over the processes' stat files (counts by state, and the rows
// when `with_processes` is true, each with its CPU seconds from its CPU-time clock in `clocks`).
void read_counters_linux(node_counters* c, int root_fd, bool with_processes, const linux_clock_ops& clocks);
