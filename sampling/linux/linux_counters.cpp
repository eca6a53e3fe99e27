#include "sampling/linux/linux_counters.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "sampling/linux/proc_files.h"
#include "sampling/linux/proc_text.h"
#include "sampling/linux/process_walk.h"
#include "sampling/linux/system_figures.h"

namespace {

struct walk_state {
    node_counters* c;
    bool with_processes;
    const linux_clock_ops* clocks;
};

bool count_process(void* ctx, const process_stat& stat) {
    walk_state* w = static_cast<walk_state*>(ctx);
    node_counters* c = w->c;
    const unsigned char state = static_cast<unsigned char>(stat.row.state);
    // A process whose state could not be read is counted with the other unreadable ones, under 0.
    c->procs_in_state[state < PROC_STATE_SLOTS ? state : 0]++;
    if (!w->with_processes || c->proc_rows >= MAX_PROCS) return true;
    counter_proc_row* row = &c->processes[c->proc_rows++];
    row->pid = stat.row.pid;
    row->measured = PROC_CPU | PROC_RESIDENT;
    memcpy(row->name, stat.row.name, sizeof row->name);
    row->cpu_seconds = process_cpu_seconds(*w->clocks, stat);
    row->resident_bytes = static_cast<double>(stat.row.rss_kb) * 1024.0;
    return true;
}

void read_stat(node_counters* c, int root_fd, double ticks_per_sec) {
    char buf[65536];
    const long n = read_whole(root_fd, "stat", buf, sizeof buf);
    if (n <= 0) return;
    cpu_time_row total = {};
    bool have_total = false;
    for_each_cpu_line(buf, n, n >= static_cast<long>(sizeof buf) - 1, [&](int32_t core, const int64_t* v) {
        cpu_time_row* row = nullptr;
        if (core >= 0 && c->ncpus < MAX_CORES) {
            row = &c->cpus[c->ncpus++];
        } else if (core < 0 && !have_total) {
            row = &total;
            have_total = true;
        }
        if (!row) return;
        memset(row, 0, sizeof *row);
        row->cpu = core;
        for (int mode = 0; mode < CPU_STAT_FIELDS; mode++) {
            if (v[mode] < 0) continue;  // an older kernel's shorter line
            row->modes |= 1u << mode;
            row->seconds[mode] = static_cast<double>(v[mode]) / ticks_per_sec;
        }
    });
    // Without per-CPU lines the total line stands for the machine.
    if (c->ncpus == 0 && have_total) c->cpus[c->ncpus++] = total;

    const char* btime = strstr(buf, "\nbtime ");
    if (btime) {
        text_cursor line = {btime + 7, buf + n};
        int64_t seconds;
        if (read_int(&line, &seconds) && seconds > 0) {
            c->boot_time_seconds = static_cast<double>(seconds);
            c->have |= HAVE_BOOT_TIME;
        }
    }
}

void read_memory_bytes(node_counters* c, int root_fd) {
    meminfo m;
    if (!read_meminfo(root_fd, &m)) return;
    const struct {
        double* bytes;
        meminfo_key key;
        uint32_t bit;
    } figures[] = {
        {&c->mem_total_bytes, MEM_TOTAL, HAVE_MEM_TOTAL},
        {&c->mem_available_bytes, MEM_AVAILABLE, HAVE_MEM_AVAILABLE},
        {&c->mem_cached_bytes, MEM_CACHED, HAVE_MEM_CACHED},
        {&c->swap_total_bytes, SWAP_TOTAL, HAVE_SWAP_TOTAL},
        {&c->swap_free_bytes, SWAP_FREE, HAVE_SWAP_FREE},
    };
    for (const auto& f : figures) {
        if (!m.seen[f.key]) continue;
        *f.bytes = m.kib[f.key] * 1024.0;
        c->have |= f.bit;
    }
    // The page cache together with reclaimable kernel slabs, as the dashboard's cached figure.
    if (m.seen[MEM_CACHED] && m.seen[MEM_RECLAIMABLE]) c->mem_cached_bytes += m.kib[MEM_RECLAIMABLE] * 1024.0;
}

}  // namespace

void read_counters_linux(node_counters* c, int root_fd, bool with_processes, const linux_clock_ops& clocks) {
    clear_counters(c);
    read_stat(c, root_fd, stat_ticks_per_sec());
    read_memory_bytes(c, root_fd);
    double load[3];
    if (read_loadavg(root_fd, load)) {
        c->load1 = load[0];
        c->load5 = load[1];
        c->load15 = load[2];
        c->have |= HAVE_LOAD;
    }
    read_host_name(root_fd, c->host, sizeof c->host);
    read_cpu_model_name(root_fd, c->cpu_model, sizeof c->cpu_model);

    walk_state w = {c, with_processes, &clocks};
    walk_process_stats(root_fd, count_process, &w);
    // Nothing found means the walk failed: a running machine has at least this process.
    for (int i = 0; i < PROC_STATE_SLOTS; i++) {
        if (c->procs_in_state[i] > 0) c->have |= HAVE_PROC_COUNT;
    }
}

void read_counters(node_counters* c, bool with_processes) {
    const int root_fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_fd < 0) {
        clear_counters(c);
        return;
    }
    read_counters_linux(c, root_fd, with_processes, system_clock_ops());
    close(root_fd);
}
