#include "sampling/linux/cpu_window.h"

#include <string.h>

namespace {

struct open_pass {
    int root_fd;
    const linux_clock_ops* clocks;
    window_readings* w;
};

bool read_first(void* ctx, int32_t pid) {
    open_pass* o = static_cast<open_pass*>(ctx);
    window_readings* w = o->w;
    if (w->count >= MAX_PROCS) return false;
    const linux_clock_ops& c = *o->clocks;
    process_reading* r = &w->p[w->count];
    memset(r, 0, sizeof *r);
    r->pid = pid;
    r->first_at = c.monotonic_ns(c.ctx);
    if (read_cpu_time(c, pid, &r->clock, &r->first_cpu)) {
        r->kind = READ_BY_CLOCK;
    } else {
        // No clock for this process: its tick counts instead, or nothing when it has ended.
        process_stat s;
        if (!read_process_stat(o->root_fd, pid, &s)) return true;
        r->kind = READ_BY_TICKS;
        r->first_at = c.monotonic_ns(c.ctx);
        r->first_cpu = s.cpu_ticks;
    }
    w->count++;
    return true;
}

}  // namespace

void open_readings(int root_fd, const linux_clock_ops& clocks, window_readings* w) {
    w->count = 0;
    w->ticks_per_sec = stat_ticks_per_sec();
    const int64_t boot = clocks.boot_ns(clocks.ctx);
    const double tick = static_cast<double>(boot > 0 ? boot : 0) / 1e9 * w->ticks_per_sec;
    w->open_tick = tick < 1.8e19 ? static_cast<uint64_t>(tick) : UINT64_MAX;
    open_pass o = {root_fd, &clocks, w};
    for_each_pid(root_fd, read_first, &o);
}

void close_readings(const linux_clock_ops& clocks, window_readings* w) {
    for (int i = 0; i < w->count; i++) {
        process_reading* r = &w->p[i];
        if (r->kind != READ_BY_CLOCK) continue;
        r->second_at = clocks.monotonic_ns(clocks.ctx);
        r->second = static_cast<uint8_t>(clocks.read_cpu_clock(clocks.ctx, r->clock, &r->second_cpu));
    }
}

bool window_cpu_pct(const window_readings& w, int i, const process_stat& stat, int64_t read_at, double max_pct,
                    double* pct) {
    *pct = 0;
    // Start times count in whole ticks, so a process started in the tick in which the first
    // reading began may be a newcomer on a reused pid: it gets no figure rather than another's.
    if (stat.start_ticks >= w.open_tick) return true;
    const process_reading& r = w.p[i];
    uint64_t used = 0;
    double interval_ns = 0;
    double units_per_sec = 1e9;
    if (r.kind == READ_BY_CLOCK) {
        if (r.second == CPU_CLOCK_GONE) return false;
        if (r.second != CPU_CLOCK_READ) return true;
        used = r.second_cpu > r.first_cpu ? r.second_cpu - r.first_cpu : 0;  // a clock never goes back; if it did: none
        interval_ns = static_cast<double>(r.second_at) - static_cast<double>(r.first_at);
    } else {
        used = stat.cpu_ticks > r.first_cpu ? stat.cpu_ticks - r.first_cpu : 0;
        interval_ns = static_cast<double>(read_at) - static_cast<double>(r.first_at);
        units_per_sec = w.ticks_per_sec;
    }
    if (!(interval_ns > 0) || used == 0) return true;
    const double p = static_cast<double>(used) / units_per_sec / (interval_ns / 1e9) * 100.0;
    *pct = p < max_pct ? p : max_pct;
    return true;
}
