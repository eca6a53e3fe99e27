#include "sampling/windows/win_counters.h"

#include <math.h>
#include <string.h>

#include "sampling/windows/win_sampler.h"

namespace {

const double TICKS_PER_SECOND = 1e7;                  // 100 ns units
const double UNIX_EPOCH_AS_FILETIME = 11644473600.0;  // seconds from 1601-01-01 to 1970-01-01

void read_cpu_times(node_counters* c, const win_ops* ops) {
    uint64_t idle, kernel, user;
    if (!ops->get_system_times(ops->ctx, &idle, &kernel, &user)) return;
    cpu_time_row* row = &c->cpus[c->ncpus++];
    row->cpu = CPU_WHOLE_MACHINE;
    row->modes = (1u << MODE_IDLE) | (1u << MODE_KERNEL) | (1u << MODE_USER);
    row->seconds[MODE_IDLE] = static_cast<double>(idle) / TICKS_PER_SECOND;
    // The system's kernel time includes its idle time.
    row->seconds[MODE_KERNEL] = static_cast<double>(kernel > idle ? kernel - idle : 0) / TICKS_PER_SECOND;
    row->seconds[MODE_USER] = static_cast<double>(user) / TICKS_PER_SECOND;
}

void read_memory(node_counters* c, const win_ops* ops) {
    win_memory_status m;
    memset(&m, 0, sizeof m);
    if (!ops->global_memory_status(ops->ctx, &m)) return;
    c->mem_total_bytes = static_cast<double>(m.total_phys);
    c->mem_available_bytes = static_cast<double>(m.avail_phys);
    c->swap_total_bytes = static_cast<double>(m.total_page_file);
    c->swap_free_bytes = static_cast<double>(m.avail_page_file);
    c->have |= HAVE_MEM_TOTAL | HAVE_MEM_AVAILABLE | HAVE_SWAP_TOTAL | HAVE_SWAP_FREE;
}

void read_boot_time(node_counters* c, const win_ops* ops) {
    const double now = static_cast<double>(ops->system_time(ops->ctx)) / TICKS_PER_SECOND - UNIX_EPOCH_AS_FILETIME;
    const double up = static_cast<double>(ops->tick_count64(ops->ctx)) / 1000.0;
    if (now <= up) return;  // a clock before 1970 tells nothing
    // Whole seconds: the two clocks are read a moment apart, and the figure should not wobble.
    c->boot_time_seconds = floor(now - up + 0.5);
    c->have |= HAVE_BOOT_TIME;
}

// One process's CPU time and working set, through one handle.
void read_process(counter_proc_row* row, const win_ops* ops) {
    void* process = ops->open_process(ops->ctx, WIN_PROCESS_ACCESS, static_cast<uint32_t>(row->pid));
    if (!process) return;
    uint64_t bytes = 0, kernel = 0, user = 0;
    if (ops->working_set_size(ops->ctx, process, &bytes)) {
        row->resident_bytes = static_cast<double>(bytes);
        row->measured |= PROC_RESIDENT;
    }
    if (ops->process_times(ops->ctx, process, &kernel, &user)) {
        row->cpu_seconds = (static_cast<double>(kernel) + static_cast<double>(user)) / TICKS_PER_SECOND;
        row->measured |= PROC_CPU;
    }
    ops->close_handle(ops->ctx, process);
}

void read_processes(node_counters* c, const win_ops* ops, bool with_processes) {
    void* snapshot = ops->create_process_snapshot(ops->ctx);
    if (!snapshot) return;
    win_process_entry entry;
    memset(&entry, 0, sizeof entry);
    int32_t count = 0;
    for (int ok = ops->process_first(ops->ctx, snapshot, &entry); ok; ok = ops->process_next(ops->ctx, snapshot, &entry)) {
        count++;
        if (!with_processes || c->proc_rows >= MAX_PROCS) continue;
        counter_proc_row* row = &c->processes[c->proc_rows++];
        memset(row, 0, sizeof *row);
        row->pid = static_cast<int32_t>(entry.pid);
        utf16_to_utf8(entry.exe_file, sizeof entry.exe_file / sizeof entry.exe_file[0], row->name, sizeof row->name);
        read_process(row, ops);
    }
    ops->close_handle(ops->ctx, snapshot);
    if (count == 0) return;
    c->procs_in_state[0] = count;
    c->have |= HAVE_PROC_COUNT;
}

}  // namespace

void read_counters_windows(node_counters* c, const win_ops* ops, bool with_processes) {
    clear_counters(c);
    read_computer_name(ops, c->host, sizeof c->host);
    read_cpu_times(c, ops);
    read_memory(c, ops);
    read_boot_time(c, ops);
    read_processes(c, ops, with_processes);
}
