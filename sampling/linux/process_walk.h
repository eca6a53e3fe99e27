#pragma once
#include <stddef.h>
#include <stdint.h>

#include "sampling/snapshot.h"

// The two walks over the process directories of a proc root. The first keeps each process's CPU
// ticks; the second fills one row per process and the ticks it used since the first.

struct first_walk {
    int32_t pid[MAX_PROCS];
    uint64_t ticks[MAX_PROCS];
    int count;
    bool ascending;  // pids strictly ascending, as /proc lists them
};

void walk_first(int root_fd, first_walk* w);

// Second walk: one row per process, with its tick count since the first walk in `cpu` for now.
void walk_second(int root_fd, sys_snapshot* snap, const first_walk& w, double kib_per_page);

// Turns the tick counts in `cpu` into percent of one CPU over `window_sec`, at most all cores busy.
void ticks_to_percent(sys_snapshot* snap, double window_sec);

// One process as a single walk finds it, from one read of its stat file.
struct process_visit {
    int32_t pid;
    const char* name;  // the command name, not NUL-terminated
    size_t name_len;
    char state;          // the state letter, 0 when unreadable
    uint64_t cpu_ticks;  // utime + stime, in clock ticks
    int64_t rss_pages;
};

// Calls visit(ctx, p) for every process under the root, in directory order; a process that
// vanished before its stat file was read is passed over.
void visit_processes(int root_fd, void (*visit)(void* ctx, const process_visit& p), void* ctx);
