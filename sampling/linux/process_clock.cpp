#include "sampling/linux/process_clock.h"

#include <errno.h>
#include <unistd.h>

namespace {

// No pid goes beyond the kernel's PID_MAX_LIMIT. The clock id holds the pid in its upper bits,
// so a larger number would wrap onto another one (0 meaning the calling process itself).
const int32_t PID_LIMIT = 4194304;

cpu_clock_answer process_clock(void*, int32_t pid, clockid_t* clock) {
    if (pid <= 0 || pid > PID_LIMIT) return CPU_CLOCK_GONE;
    const int err = clock_getcpuclockid(static_cast<pid_t>(pid), clock);
    if (err == 0) return CPU_CLOCK_READ;
    return err == ESRCH ? CPU_CLOCK_GONE : CPU_CLOCK_REFUSED;
}

cpu_clock_answer read_cpu_clock(void*, clockid_t clock, uint64_t* ns) {
    timespec ts;
    // The kernel answers EINVAL for the clock of a process that no longer exists.
    if (clock_gettime(clock, &ts) != 0) return errno == EINVAL ? CPU_CLOCK_GONE : CPU_CLOCK_REFUSED;
    *ns = static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
    return CPU_CLOCK_READ;
}

int64_t clock_ns(clockid_t clock) {
    timespec ts;
    if (clock_gettime(clock, &ts) != 0) return 0;
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t monotonic_ns(void*) { return clock_ns(CLOCK_MONOTONIC); }

int64_t boot_ns(void*) { return clock_ns(CLOCK_BOOTTIME); }

void sleep_until(void*, int64_t deadline_ns) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(deadline_ns / 1000000000);
    ts.tv_nsec = static_cast<long>(deadline_ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace

linux_clock_ops system_clock_ops() {
    linux_clock_ops ops = {nullptr, process_clock, read_cpu_clock, monotonic_ns, boot_ns, sleep_until};
    return ops;
}

bool read_cpu_time(const linux_clock_ops& clocks, int32_t pid, clockid_t* clock, uint64_t* ns) {
    return clocks.process_clock(clocks.ctx, pid, clock) == CPU_CLOCK_READ &&
           clocks.read_cpu_clock(clocks.ctx, *clock, ns) == CPU_CLOCK_READ;
}

bool read_process_cpu_ns(int32_t pid, uint64_t* ns) {
    clockid_t clock;
    return read_cpu_time(system_clock_ops(), pid, &clock, ns);
}

double process_cpu_seconds(const process_stat& stat) { return process_cpu_seconds(system_clock_ops(), stat); }

double process_cpu_seconds(const linux_clock_ops& clocks, const process_stat& stat) {
    clockid_t clock;
    uint64_t ns;
    if (read_cpu_time(clocks, stat.row.pid, &clock, &ns)) return static_cast<double>(ns) / 1e9;
    return static_cast<double>(stat.cpu_ticks) / stat_ticks_per_sec();
}

double stat_ticks_per_sec() {
    const long tck = sysconf(_SC_CLK_TCK);
    return tck > 0 ? static_cast<double>(tck) : 100.0;
}
