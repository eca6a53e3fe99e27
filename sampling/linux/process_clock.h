#pragma once
#include <stdint.h>
#include <time.h>

#include "sampling/linux/process_walk.h"

// The clocks that the Linux sampler reads besides the proc files, as a small table so that tests
// can put fakes in their place. `ctx` is handed back to every call.

// How a process's CPU-time clock answered.
enum cpu_clock_answer {
    CPU_CLOCK_READ,     // the figure was read
    CPU_CLOCK_GONE,     // no such process (it has ended)
    CPU_CLOCK_REFUSED,  // the kernel or a sandbox does not give this clock
};

struct linux_clock_ops {
    void* ctx;
    // clock_getcpuclockid: the CPU-time clock of process `pid`, its whole thread group.
    cpu_clock_answer (*process_clock)(void* ctx, int32_t pid, clockid_t* clock);
    // clock_gettime on such a clock: the CPU time used so far in nanoseconds, including the slice
    // now running.
    cpu_clock_answer (*read_cpu_clock)(void* ctx, clockid_t clock, uint64_t* ns);
    // CLOCK_MONOTONIC in nanoseconds.
    int64_t (*monotonic_ns)(void* ctx);
    // CLOCK_BOOTTIME in nanoseconds: the clock that process start times count from.
    int64_t (*boot_ns)(void* ctx);
    // Returns when CLOCK_MONOTONIC reaches `deadline_ns`.
    void (*sleep_until)(void* ctx, int64_t deadline_ns);
};

// The table bound to this machine's clocks.
linux_clock_ops system_clock_ops();

// Both steps through `clocks`: the CPU-time clock of `pid` into `clock`, then its reading into
// `ns`; true when both succeed.
bool read_cpu_time(const linux_clock_ops& clocks, int32_t pid, clockid_t* clock, uint64_t* ns);

// The CPU time that process `pid` has used so far, in nanoseconds, from its CPU-time clock;
// false when the clock cannot be read (the process has ended, or the clock is refused).
bool read_process_cpu_ns(int32_t pid, uint64_t* ns);

// The CPU seconds that the process of `stat` has used so far: from its CPU-time clock, or from
// the stat file's tick counts where the clock cannot be read.
double process_cpu_seconds(const process_stat& stat);

// The same through the clocks of `clocks` (tests give fakes in place of the machine's).
double process_cpu_seconds(const linux_clock_ops& clocks, const process_stat& stat);

// Clock ticks per second of the counts in the stat files.
double stat_ticks_per_sec();
