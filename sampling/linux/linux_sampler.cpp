// The Linux sampler: every figure but the processes' CPU time comes from the kernel's text files
// under a proc root, read relative to the root's directory handle.
//
// The CPU window holds nothing but the wait, so that the machine's figures do not count the
// probe. Just outside it lie the two readings of the processes' CPU clocks; just inside those,
// the two readings of "stat". The processes' stat files are read after the window, once each:
// they give each start time after both readings, so a pid taken over by a new process in the
// meantime is caught, and a process that ended in the window has no row.
#include "sampling/linux/linux_sampler.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "sampling/linux/cpu_window.h"
#include "sampling/linux/process_walk.h"
#include "sampling/linux/system_figures.h"

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

    // One stat file per process listed at the first reading. A process started since then shows
    // from the next request on.
    const double max_pct = 100.0 * (snap->ncores > 0 ? snap->ncores : 1);
    for (int i = 0; i < w.count && snap->proc_count < MAX_PROCS; i++) {
        process_stat stat;
        if (!read_process_stat(root_fd, w.p[i].pid, &stat)) continue;  // ended
        double pct;
        if (!window_cpu_pct(w, i, stat, clocks.monotonic_ns(clocks.ctx), max_pct, &pct)) continue;
        proc_row* row = &snap->processes[snap->proc_count++];
        *row = stat.row;
        row->cpu = pct;
    }

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
