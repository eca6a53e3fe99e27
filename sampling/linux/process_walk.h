#pragma once
#include <stdint.h>

#include "sampling/snapshot.h"

// The process directories of a proc root: listing their pids, and one walk that reads each
// process's "<pid>/stat" once.

// What one "<pid>/stat" says about its process.
struct process_stat {
    proc_row row;          // pid, name, state and rss_kb; cpu is left 0
    uint64_t cpu_ticks;    // utime + stime, in clock ticks (sysconf(_SC_CLK_TCK) per second)
    uint64_t start_ticks;  // when the process started, in clock ticks since boot
};

// Called with each pid in directory order; returns false to stop.
typedef bool (*pid_visit)(void* ctx, int32_t pid);

// Called with each process whose stat file could be read; returns false to stop.
typedef bool (*process_visit)(void* ctx, const process_stat& stat);

// Lists the numeric directories under the root, opening no file.
void for_each_pid(int root_fd, pid_visit visit, void* ctx);

// Reads "<pid>/stat" of every process in directory order, one open and one read each, and hands
// what it says to `visit`. A process whose file cannot be read (it has ended) is skipped.
void walk_process_stats(int root_fd, process_visit visit, void* ctx);

// Reads one process's "<pid>/stat"; false when it cannot be read.
bool read_process_stat(int root_fd, int32_t pid, process_stat* out);
