#pragma once
#include <stdint.h>

#include "sampling/snapshot.h"

// The raw counters of the node as the system keeps them, read once with no window: cumulative
// CPU seconds, memory in bytes, boot time, load, process counts and, on request, per-process
// rows. A scraper that reads them at its own interval computes the rates itself. Plain and
// fixed-size like the sample record; a figure the platform does not measure has its bit clear
// in `have` and is left out of every document.

// Modes of CPU time: the kernel's order of a "cpu" line of /proc/stat, then Windows' kernel time
// (which there excludes idle, so that the modes of a row add up to its whole time).
enum cpu_mode {
    MODE_USER,
    MODE_NICE,
    MODE_SYSTEM,
    MODE_IDLE,
    MODE_IOWAIT,
    MODE_IRQ,
    MODE_SOFTIRQ,
    MODE_STEAL,
    MODE_KERNEL,
    CPU_MODES
};

inline const char* cpu_mode_name(int mode) {
    static const char* const names[CPU_MODES] = {"user", "nice",    "system", "idle",  "iowait",
                                                 "irq",  "softirq", "steal",  "kernel"};
    return mode >= 0 && mode < CPU_MODES ? names[mode] : "";
}

#define CPU_WHOLE_MACHINE (-1)  // a row that covers every CPU together (no per-CPU figures)

struct cpu_time_row {
    int32_t cpu;                // the CPU's number, or CPU_WHOLE_MACHINE
    uint32_t modes;             // bit (1 << mode) for each mode measured
    double seconds[CPU_MODES];  // cumulative seconds in each mode
};

// Bits of `have`: which of the single figures were measured.
enum counter_figure : uint32_t {
    HAVE_MEM_TOTAL = 1u << 0,
    HAVE_MEM_AVAILABLE = 1u << 1,
    HAVE_MEM_CACHED = 1u << 2,
    HAVE_SWAP_TOTAL = 1u << 3,
    HAVE_SWAP_FREE = 1u << 4,
    HAVE_BOOT_TIME = 1u << 5,
    HAVE_LOAD = 1u << 6,
    HAVE_PROC_COUNT = 1u << 7,  // procs_in_state holds the process table's counts
};

// Bits of a process row's `measured`.
enum proc_figure : uint32_t {
    PROC_CPU = 1u << 0,       // cpu_seconds was read
    PROC_RESIDENT = 1u << 1,  // resident_bytes was read
};

// Processes counted by the state letter the platform reports; index 0 counts processes of a
// platform that reports no states.
#define PROC_STATE_SLOTS 128

struct counter_proc_row {
    int32_t pid;
    uint32_t measured;      // proc_figure bits; a figure not read is 0 and left out
    char name[64];          // UTF-8 as far as the platform gives it, at most 63 bytes
    double cpu_seconds;     // cumulative CPU time of the process
    double resident_bytes;  // resident memory (working set)
};

struct node_counters {
    char platform[16];
    char host[128];       // empty when unknown
    char cpu_model[128];  // empty when unknown
    uint32_t have;        // counter_figure bits
    cpu_time_row cpus[MAX_CORES];
    int32_t ncpus;  // valid rows of cpus; 0 when CPU time could not be read
    double mem_total_bytes;
    double mem_available_bytes;
    double mem_cached_bytes;
    double swap_total_bytes;
    double swap_free_bytes;
    double boot_time_seconds;  // seconds since 1970-01-01 UTC
    double load1;
    double load5;
    double load15;
    int32_t procs_in_state[PROC_STATE_SLOTS];
    int32_t proc_rows;  // valid rows of processes; 0 unless rows were asked for
    // Last, so that clearing the record can stop before the table: rows are written as they come.
    counter_proc_row processes[MAX_PROCS];
};

// Fills `c` from this machine's counters, once, without waiting; per-process rows only when
// `with_processes` is true. Every field that is not read is zero and its `have` bit clear.
void read_counters(node_counters* c, bool with_processes);

// Clears everything but the process table, and sets the platform name.
void clear_counters(node_counters* c);

// Orders the per-process rows, largest first, by resident memory or else by CPU seconds, and
// returns how many of them to show: the smaller of proc_rows and `top`.
int rank_counter_processes(node_counters* c, bool by_resident, int top);
