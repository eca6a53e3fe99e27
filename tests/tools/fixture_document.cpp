// Samples a proc tree given as an argument and writes the metrics document built from it, so that
// the end-to-end checks can parse what a sample of unusual input turns into.
// usage: fixture_document PROC_ROOT [cpu|mem] [TOP]
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "api/metrics.h"
#include "sampling/linux/linux_sampler.h"
#include "sampling/ranking.h"

// The pids of a fixture tree are not this machine's: their CPU-time clocks are not to be read,
// so the sampler falls back to the tree's tick counts.
static cpu_clock_answer no_process_clock(void*, int32_t, clockid_t*) { return CPU_CLOCK_REFUSED; }

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 2;
    static sys_snapshot snap;
    linux_clock_ops clocks = system_clock_ops();
    clocks.process_clock = no_process_clock;
    sample_linux(&snap, fd, clocks);
    close(fd);
    const bool by_mem = argc > 2 && strcmp(argv[2], "mem") == 0;
    const int shown = rank_processes(&snap, by_mem, argc > 3 ? atoi(argv[3]) : 25);
    write_metrics_document(&snap, "2000-01-01T00:00:00Z", shown, by_mem);
    return 0;
}
