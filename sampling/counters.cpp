#include "sampling/counters.h"

#include <stddef.h>
#include <string.h>

#include <algorithm>

void clear_counters(node_counters* c) {
    // The process table is most of the record; its rows are written before they are read.
    memset(c, 0, offsetof(node_counters, processes));
    strcpy(c->platform, PLATFORM_NAME);
}

namespace {

bool before_by_cpu(const counter_proc_row& a, const counter_proc_row& b) {
    if (a.cpu_seconds != b.cpu_seconds) return a.cpu_seconds > b.cpu_seconds;
    return a.resident_bytes > b.resident_bytes;
}

bool before_by_resident(const counter_proc_row& a, const counter_proc_row& b) {
    if (a.resident_bytes != b.resident_bytes) return a.resident_bytes > b.resident_bytes;
    return a.cpu_seconds > b.cpu_seconds;
}

}  // namespace

int rank_counter_processes(node_counters* c, bool by_resident, int top) {
    const int n = c->proc_rows < MAX_PROCS ? c->proc_rows : MAX_PROCS;
    if (n <= 0 || top <= 0) return 0;
    const int shown = top < n ? top : n;
    // Only the shown rows need their order.
    std::partial_sort(c->processes, c->processes + shown, c->processes + n,
                      by_resident ? before_by_resident : before_by_cpu);
    return shown;
}
