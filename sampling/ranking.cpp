#include "sampling/ranking.h"

#include <algorithm>

int proc_cmp_cpu(const void* a, const void* b) {
    const proc_row* x = static_cast<const proc_row*>(a);
    const proc_row* y = static_cast<const proc_row*>(b);
    if (y->cpu > x->cpu) return 1;
    if (x->cpu > y->cpu) return -1;
    if (x->rss_kb < y->rss_kb) return 1;
    if (x->rss_kb > y->rss_kb) return -1;
    return 0;
}

int proc_cmp_mem(const void* a, const void* b) {
    const proc_row* x = static_cast<const proc_row*>(a);
    const proc_row* y = static_cast<const proc_row*>(b);
    if (x->rss_kb < y->rss_kb) return 1;
    if (x->rss_kb > y->rss_kb) return -1;
    if (y->cpu > x->cpu) return 1;
    if (x->cpu > y->cpu) return -1;
    return 0;
}

int rank_processes(sys_snapshot* snap, bool sort_by_mem, int top) {
    int n = snap->proc_count;
    if (n > MAX_PROCS) n = MAX_PROCS;
    if (n <= 0) return 0;
    // std::sort rather than qsort: the C library's qsort takes a heap buffer as large as the
    // table (and asks the kernel for the memory size first); this sorts in place.
    int (*const cmp)(const void*, const void*) = sort_by_mem ? proc_cmp_mem : proc_cmp_cpu;
    std::sort(snap->processes, snap->processes + n,
              [cmp](const proc_row& a, const proc_row& b) { return cmp(&a, &b) < 0; });
    return top < n ? (top > 0 ? top : 0) : n;
}
