// The Linux sampler: every figure comes from the kernel's text files under a proc root, read
// relative to the root's directory handle.
#include "sampling/linux/linux_sampler.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "sampling/linux/process_walk.h"
#include "sampling/linux/system_figures.h"

namespace {

int64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleep_until(int64_t deadline_ns) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(deadline_ns / 1000000000);
    ts.tv_nsec = static_cast<long>(deadline_ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace

void sample_linux(sys_snapshot* snap, int root_fd, window_hook hook, void* hook_ctx) {
    // The window opens with the first reading. Clearing the record comes after it: the record
    // spans hundreds of pages that fault in on first touch, which costs time only outside the window.
    cpu_reading r1, r2;
    const int64_t window_start = now_ns();
    const bool first_read = read_cpu(root_fd, &r1);
    memset(snap, 0, sizeof *snap);
    strcpy(snap->platform, PLATFORM_NAME);
    if (!first_read) return;

    first_walk w;
    const int64_t walk1_start = now_ns();
    walk_first(root_fd, &w);
    const int64_t walk1_mid = walk1_start + (now_ns() - walk1_start) / 2;

    // Everything read only once is read inside the window, where it costs no time.
    read_host(root_fd, snap);
    read_cpu_model(root_fd, snap);
    read_memory(root_fd, snap);
    read_uptime_and_load(root_fd, snap);

    double window_sec = 0;
    if (hook) {
        window_sec = hook(hook_ctx);
    } else {
        sleep_until(window_start + static_cast<int64_t>(CPU_SAMPLE_MS) * 1000000);
    }

    if (!read_cpu(root_fd, &r2)) {
        snap->ok = 0;
        return;
    }
    fill_cpu(snap, r1, r2);

    const long page = sysconf(_SC_PAGESIZE);
    const int64_t walk2_start = now_ns();
    walk_second(root_fd, snap, w, static_cast<double>(page > 0 ? page : 4096) / 1024.0);
    // Each process is read at about the same point of both walks: the window is midpoint to midpoint.
    const int64_t walk2_mid = walk2_start + (now_ns() - walk2_start) / 2;
    if (window_sec <= 0) window_sec = static_cast<double>(walk2_mid - walk1_mid) / 1e9;
    ticks_to_percent(snap, window_sec);

    snap->ok = snap->mem_total_kb > 0 ? 1 : 0;
}

void sample_system(sys_snapshot* snap) {
    const int root_fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_fd < 0) {
        memset(snap, 0, sizeof *snap);
        strcpy(snap->platform, PLATFORM_NAME);
        return;
    }
    sample_linux(snap, root_fd, nullptr, nullptr);
    close(root_fd);
}
