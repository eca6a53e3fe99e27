#pragma once
#include "sampling/counters.h"
#include "sampling/windows/win_ops.h"

// Fills `c` through the Windows platform operations, once and without waiting: the machine's
// idle, kernel and user time (no per-CPU figures), physical memory, the page file as swap, boot
// time, the number of processes (Windows reports no states) and, when `with_processes` is true,
// each process's CPU time and working set. Cached memory and load are not measured.
void read_counters_windows(node_counters* c, const win_ops* ops, bool with_processes);
