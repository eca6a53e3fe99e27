// The Linux sampler: every figure but the processes' CPU time comes from the kernel's text files
// under a proc root, read relative to the root's directory handle.
//
// The CPU window holds nothing but the wait, so that the machine's figures do not count the
// probe. Just outside it lie the two readings of the processes' CPU clocks; just inside those,
// the two readings of "stat". The walk over the processes' stat files comes after the window:
// it sees each process's start time after both readings, so a pid taken over by a new process in
// the meantime is caught, and a process that ended in the window has no row.
#include "sampling/linux/linux_sampler.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "sampling/linux/cpu_window.h"
#include "sampling/linux/process_walk.h"
#include "sampling/linux/system_figures.h"

namespace {

struct row_filler {
    sys_snapshot* snap;
    const window_readings* w;
    const linux_clock_ops* clocks;
    double max_pct;
    int cursor;
};

bool add_row(void* ctx, const process_stat& stat) {
    row_filler* f = static_cast<row_filler*>(ctx);
    if (f->snap->proc_count >= MAX_PROCS) return false;
    const int64_t read_at = f->clocks->monotonic_ns(f->clocks->ctx);
    double pct;
    if (!window_cpu_pct(*f->w, &f->cursor, stat, read_at, f->max_pct, &pct)) return true;  // ended
    proc_row* row = &f->snap->processes[f->snap->proc_count++];
    *row = stat.row;
    row->cpu = pct;
    return true;
}

}  // namespace

void sample_linux(sys_snapshot* snap, int root_fd, const linux_clock_ops& clocks) {
    memset(snap, 0, sizeof *snap);
    strcpy(snap->platform, PLATFORM_NAME);

    window_readings w;
    open_readings(root_fd, clocks, &w);
    cpu_reading r1, r2;
    const int64_t window_start = clocks.monotonic_ns(clocks.ctx);
    if (!read_cpu(root_fd, &r1)) return;
    clocks.sleep_until(clocks.ctx, window_start + static_cast<int64_t>(CPU_SAMPLE_MS) * 1000000);
    if (!read_cpu(root_fd, &r2)) return;
    close_readings(clocks, &w);
    fill_cpu(snap, r1, r2);

    row_filler f = {snap, &w, &clocks, 100.0 * (snap->ncores > 0 ? snap->ncores : 1), 0};
    walk_process_stats(root_fd, add_row, &f);

    read_host(root_fd, snap);
    read_cpu_model(root_fd, snap);
    read_memory(root_fd, snap);
    read_uptime_and_load(root_fd, snap);
    snap->ok = snap->mem_total_kb > 0 ? 1 : 0;
}

void sample_system(sys_snapshot* snap) {
    const int root_fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_fd < 0) {
        memset(snap, 0, sizeof *snap);
        strcpy(snap->platform, PLATFORM_NAME);
        return;
    }
    sample_linux(snap, root_fd, system_clock_ops());
    close(root_fd);
}
