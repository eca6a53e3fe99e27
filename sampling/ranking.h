#pragma once
#include "sampling/snapshot.h"

// Orderings of process rows in the form qsort takes; each returns exactly -1, 0 or 1.
// By CPU: highest cpu first, then largest rss_kb. By memory: largest rss_kb first, then highest cpu.
int proc_cmp_cpu(const void* a, const void* b);
int proc_cmp_mem(const void* a, const void* b);

// Sorts the valid process rows of `snap` in place and returns how many of them to show:
// the smaller of proc_count and `top`.
int rank_processes(sys_snapshot* snap, bool sort_by_mem, int top);
