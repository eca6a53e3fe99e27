#pragma once
#include <stdint.h>
#include <time.h>

#include "sampling/linux/process_clock.h"
#include "sampling/linux/process_walk.h"

// Each process's CPU time at both ends of the CPU window, and the share of one CPU it used in
// between. A process is read by its CPU-time clock; where the clock is refused, by the tick
// counts of its stat file, whose second reading is the walk after the window.

enum reading_kind : uint8_t { READ_BY_CLOCK, READ_BY_TICKS };

struct process_reading {
    int32_t pid;
    clockid_t clock;         // READ_BY_CLOCK: the process's CPU-time clock
    reading_kind kind;
    uint8_t second;          // READ_BY_CLOCK: how the clock answered the second reading
    uint64_t first_cpu;      // nanoseconds (clock) or ticks (stat)
    uint64_t second_cpu;     // READ_BY_CLOCK only
    int64_t first_at;        // CLOCK_MONOTONIC of each reading, nanoseconds
    int64_t second_at;
};

struct window_readings {
    process_reading p[MAX_PROCS];
    int count;
    uint64_t open_tick;      // boot time in stat ticks when the first reading began
    double ticks_per_sec;
};

// The first reading, just before the window opens: every listed process's CPU clock, or its stat
// ticks where the clock cannot be read.
void open_readings(int root_fd, const linux_clock_ops& clocks, window_readings* w);

// The second reading, just after the window closes: the clock of each process read by its clock.
// Opens no file.
void close_readings(const linux_clock_ops& clocks, window_readings* w);

// The share of one CPU, in percent and at most `max_pct`, that the process of reading `i` used
// between its own two readings; `stat` is its stat file read after the window, at `read_at`
// (CLOCK_MONOTONIC). 0 for a process that started after the first reading began (its pid taken
// over by a new process). Returns false when the process gets no row: its clock said it had
// ended at the second reading.
bool window_cpu_pct(const window_readings& w, int i, const process_stat& stat, int64_t read_at, double max_pct,
                    double* pct);
