// Runs a program a number of times, one after the other, with standard output going to
// /dev/null and the caller's environment, and prints one line per run:
//   <wall nanoseconds> <peak RSS KiB> <user+system CPU microseconds> <exit status>
// Timing covers spawn to reap, which is what a CGI host pays per request.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
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

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s RUNS PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const int runs = atoi(argv[1]);
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink < 0) return 2;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sink, STDOUT_FILENO);
    for (int i = 0; i < runs; i++) {
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
        printf("%lld %ld %lld %d\n", t1 - t0, ru.ru_maxrss, tv_us(ru.ru_utime) + tv_us(ru.ru_stime),
               WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
    return 0;
}
