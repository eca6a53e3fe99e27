#pragma once
#include <stdint.h>

#include "sampling/snapshot.h"

// The system-wide figures of a proc root: CPU counters, host name, CPU model, memory, uptime, load.

// One "cpu" line: busy is user, nice, system, irq, softirq and steal (guest time is already inside
// user and nice); idle is idle and iowait.
struct cpu_line {
    int32_t core;  // N of "cpuN"
    uint64_t busy;
    uint64_t idle;
};

struct cpu_reading {
    cpu_line total;
    cpu_line cores[MAX_CORES];
    int32_t ncores;
};

// Reads the "cpu" lines of "stat"; false when the total line is missing or unreadable.
bool read_cpu(int root_fd, cpu_reading* r);

// Sets the total and per-core busy percentages from two readings; a core is matched by its number.
void fill_cpu(sys_snapshot* snap, const cpu_reading& r1, const cpu_reading& r2);

void read_host(int root_fd, sys_snapshot* snap);
void read_cpu_model(int root_fd, sys_snapshot* snap);
void read_memory(int root_fd, sys_snapshot* snap);
void read_uptime_and_load(int root_fd, sys_snapshot* snap);
