// A process that uses a known share of the CPU: each of its threads spins for BUSY_US
// microseconds of its own CPU time, then sleeps SLEEP_US, again and again. Ends after SECONDS or
// when its parent dies.
// usage: duty_child BUSY_US SLEEP_US THREADS SECONDS
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

namespace {

struct duty_cycle {
    long busy_ns;
    long sleep_ns;
};

long long clock_ns(clockid_t clock) {
    timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void* duty(void* arg) {
    const duty_cycle* d = static_cast<const duty_cycle*>(arg);
    const timespec pause = {d->sleep_ns / 1000000000, d->sleep_ns % 1000000000};
    for (;;) {
        const long long until = clock_ns(CLOCK_THREAD_CPUTIME_ID) + d->busy_ns;
        while (clock_ns(CLOCK_THREAD_CPUTIME_ID) < until) {
        }
        nanosleep(&pause, nullptr);
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    duty_cycle d = {atol(argv[1]) * 1000, atol(argv[2]) * 1000};
    const int threads = atoi(argv[3]);
    alarm(static_cast<unsigned>(atoi(argv[4])));  // SIGALRM's default action ends the process
    for (int i = 1; i < threads; i++) {
        pthread_t t;
        pthread_create(&t, nullptr, duty, &d);
    }
    duty(&d);
}
