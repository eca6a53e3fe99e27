#pragma once
#include <stdint.h>
#include <string.h>

#include "sampling/linux/proc_text.h"
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

// Calls visit(core, counters) for each "cpu" line of a stat text [buf, buf + n) that holds at
// least the four oldest counters: core is N of "cpuN", or -1 for the total line; counters holds
// CPU_STAT_FIELDS values in the kernel's order (user, nice, system, idle, iowait, irq, softirq,
// steal), those the line lacks set to -1. With `cut` (the buffer was full) a last line without
// its line feed is passed over.
#define CPU_STAT_FIELDS 8
template <typename Visit>
void for_each_cpu_line(const char* buf, long n, bool cut, Visit visit) {
    text_cursor c = {buf, buf + n};
    do {
        if (c.end - c.p < 4 || memcmp(c.p, "cpu", 3) != 0) continue;
        if (cut && !memchr(c.p, '\n', static_cast<size_t>(c.end - c.p))) break;
        text_cursor line = {c.p + 3, c.end};
        int32_t core = -1;
        if (*line.p != ' ' && *line.p != '\t') {
            int64_t n_core;
            if (!read_int(&line, &n_core) || n_core < 0 || n_core > INT32_MAX) continue;
            if (line.p >= line.end || (*line.p != ' ' && *line.p != '\t')) continue;
            core = static_cast<int32_t>(n_core);
        }
        int64_t v[CPU_STAT_FIELDS] = {-1, -1, -1, -1, -1, -1, -1, -1};
        int got = 0;
        while (got < CPU_STAT_FIELDS && read_int(&line, &v[got])) got++;
        if (got >= 4) visit(core, static_cast<const int64_t*>(v));
    } while (next_line(&c));
}

// Reads the "cpu" lines of "stat"; false when the total line is missing or unreadable.
bool read_cpu(int root_fd, cpu_reading* r);

// Sets the total and per-core busy percentages from two readings; a core is matched by its number.
void fill_cpu(sys_snapshot* snap, const cpu_reading& r1, const cpu_reading& r2);

// The same figures for a caller with its own record.

// The host name, or nothing when the file is missing; cut to `capacity` without splitting UTF-8.
void read_host_name(int root_fd, char* out, size_t capacity);
// The first processor's model name, or nothing when none is found.
void read_cpu_model_name(int root_fd, char* out, size_t capacity);

// The lines of "meminfo" that the figures use, in KiB; seen[k] tells whether line k was there.
enum meminfo_key { MEM_TOTAL, MEM_FREE, MEM_AVAILABLE, MEM_BUFFERS, MEM_CACHED, MEM_RECLAIMABLE, SWAP_TOTAL,
                   SWAP_FREE, MEMINFO_KEYS };
struct meminfo {
    double kib[MEMINFO_KEYS];
    bool seen[MEMINFO_KEYS];
};
// False when the file cannot be read; every line not found is left unseen and 0.
bool read_meminfo(int root_fd, meminfo* m);

// The 1, 5 and 15 minute load averages of "loadavg"; false when they cannot be read.
bool read_loadavg(int root_fd, double* load3);

// Into the sample record.
void read_host(int root_fd, sys_snapshot* snap);
void read_cpu_model(int root_fd, sys_snapshot* snap);
void read_memory(int root_fd, sys_snapshot* snap);
void read_uptime_and_load(int root_fd, sys_snapshot* snap);
