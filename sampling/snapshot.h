#pragma once
#include <stdint.h>

// The record of one sample of the node. Plain and fixed-size: it owns no other memory.
#define MAX_CORES 256
#define MAX_PROCS 4096
#define CPU_SAMPLE_MS 80

#ifndef PLATFORM_NAME
#error "PLATFORM_NAME must be defined by the build"
#endif

struct core_row {
    int32_t core;  // the core's index as printed
    double pct;    // busy share in percent
};

struct proc_row {
    int32_t pid;
    char name[64];   // executable or command name, UTF-8, at most 63 bytes
    double cpu;      // CPU use in percent of one CPU
    int32_t rss_kb;  // resident memory in KiB; 0 when unavailable
    char state;      // scheduling state letter; 0 means none
};

struct sys_snapshot {
    int32_t ok;  // 1: valid sample; 0: failed, never printed as metrics
    char platform[16];
    char host[128];
    double cpu_pct;
    core_row cores[MAX_CORES];
    int32_t ncores;
    char cpu_model[128];
    double mem_total_kb;
    double mem_used_kb;
    double mem_free_kb;
    double mem_cached_kb;
    double swap_total_kb;
    double swap_used_kb;
    double uptime_sec;
    double load1;
    double load5;
    double load15;
    int32_t load_available;
    proc_row processes[MAX_PROCS];
    int32_t proc_count;
};

// `used` as a percentage of `total`, held to 0..100; 0 when `total` is not above 0.
inline double share_pct(double used, double total) {
    if (!(total > 0)) return 0;
    const double p = used * 100.0 / total;
    return p < 0 ? 0 : (p > 100 ? 100 : p);
}

// Fills `snap` completely from this machine's counters; the outcome is snap->ok.
// Takes at least CPU_SAMPLE_MS when the first CPU reading succeeds.
void sample_system(sys_snapshot* snap);
