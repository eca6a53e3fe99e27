// Runs a program a number of times, one after the other, with standard output going to
// /dev/null and the caller's environment, and prints one line per run:
//   <wall nanoseconds> <peak RSS KiB> <user+system CPU microseconds> <exit status>
// Timing covers spawn to reap, which is what a CGI host pays per request.
//
// The kernel's ru_maxrss of a child also counts the memory of the process it was forked or
// spawned from, so it never reads below this runner's own size. With --hwm the program runs
// traced instead, and the peak column is its own VmHWM, read when it is about to exit; the
// other columns are then not meaningful for timing.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static long long now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static long long tv_us(const timeval& tv) { return tv.tv_sec * 1000000LL + tv.tv_usec; }

// A wait status as a shell reports it: the exit status, or 128 + the signal that ended it.
static int exit_code(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// VmHWM of a live process in KiB, or -1.
static long vm_hwm_kb(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE* f = fopen(path, "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    while (fgets(line, sizeof line, f)) {
        if (strncmp(line, "VmHWM:", 6) == 0) kb = atol(line + 6);
    }
    fclose(f);
    return kb;
}

// Runs the program once under ptrace, stopping it at its exit to read its peak. Returns the
// peak in KiB, or -1; `status` receives the wait status.
static long traced_peak(char** argv, int sink, int* status) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        dup2(sink, STDOUT_FILENO);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execve(argv[0], argv, environ);
        _exit(127);
    }
    long peak = -1;
    bool options_set = false;
    for (;;) {
        if (waitpid(pid, status, 0) != pid) return -1;
        if (!WIFSTOPPED(*status)) return peak;
        int forward = 0;
        if (*status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            peak = vm_hwm_kb(pid);
        } else if (WSTOPSIG(*status) == SIGTRAP && !options_set) {
            // The stop after execve: from here on, stop once more at the exit.
            ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(PTRACE_O_TRACEEXIT));
            options_set = true;
        } else {
            forward = WSTOPSIG(*status);
        }
        ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(forward)));
    }
}

int main(int argc, char** argv) {
    bool hwm = argc > 1 && strcmp(argv[1], "--hwm") == 0;
    if (hwm) {
        argc--;
        argv++;
    }
    if (argc < 3) {
        fprintf(stderr, "usage: %s [--hwm] RUNS PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const int runs = atoi(argv[1]);
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink < 0) return 2;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sink, STDOUT_FILENO);
    for (int i = 0; hwm && i < runs; i++) {
        int status = 0;
        const long peak = traced_peak(argv + 2, sink, &status);
        printf("0 %ld 0 %d\n", peak, exit_code(status));
    }
    for (int i = 0; !hwm && i < runs; i++) {
        pid_t pid;
        const long long t0 = now_ns();
        if (posix_spawn(&pid, argv[2], &actions, nullptr, argv + 2, environ) != 0) {
            perror("posix_spawn");
            return 2;
        }
        int status = 0;
        rusage ru;
        if (wait4(pid, &status, 0, &ru) != pid) return 2;
        const long long t1 = now_ns();
        printf("%lld %ld %lld %d\n", t1 - t0, ru.ru_maxrss, tv_us(ru.ru_utime) + tv_us(ru.ru_stime), exit_code(status));
    }
    return 0;
}
