#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "sampling/linux/linux_sampler.h"

// Stands in for the wait of the CPU window.
static void no_wait(void*, int64_t) {}

// One whole sample of this machine's /proc (system files, both readings of the processes' CPU
// clocks and the process walk) without the wait. The "procs" counter is the number of rows, so
// time / procs is the cost of one process.
static void sample_linux_without_wait(benchmark::State& state) {
    static sys_snapshot snap;
    const int root_fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    linux_clock_ops clocks = system_clock_ops();
    clocks.sleep_until = no_wait;
    for (auto _ : state) {
        sample_linux(&snap, root_fd, clocks);
        benchmark::DoNotOptimize(snap.proc_count);
    }
    state.counters["procs"] = snap.proc_count;
    close(root_fd);
}
BENCHMARK(sample_linux_without_wait)->Unit(benchmark::kMicrosecond);
