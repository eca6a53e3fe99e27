#include "sampling/linux/system_figures.h"

#include <string.h>

#include "sampling/linux/proc_files.h"
#include "sampling/linux/proc_text.h"

namespace {

// Busy and idle sums of one line's counters (at least the four oldest).
void sum_cpu_counters(const int64_t* v, cpu_line* line) {
    line->busy = counter(v[0]) + counter(v[1]) + counter(v[2]) + counter(v[5]) + counter(v[6]) + counter(v[7]);
    line->idle = counter(v[3]) + counter(v[4]);
}

double busy_pct(const cpu_line& a, const cpu_line& b) {
    // Counters that went back (a core taken offline, an iowait dip) count as no progress.
    const double busy = b.busy > a.busy ? static_cast<double>(b.busy - a.busy) : 0;
    const double idle = b.idle > a.idle ? static_cast<double>(b.idle - a.idle) : 0;
    // Held to 0..100: for counts beyond 2^53 the quotient of the rounded doubles can come out a
    // hair above 100 (100.00000000000001).
    return share_pct(busy, busy + idle);
}

}  // namespace

bool read_cpu(int root_fd, cpu_reading* r) {
    char buf[65536];
    const long n = read_whole(root_fd, "stat", buf, sizeof buf);
    if (n <= 0) return false;
    bool have_total = false;
    r->ncores = 0;
    for_each_cpu_line(buf, n, n >= static_cast<long>(sizeof buf) - 1, [&](int32_t core, const int64_t* v) {
        if (core < 0) {
            if (!have_total) sum_cpu_counters(v, &r->total);
            have_total = true;
        } else if (r->ncores < MAX_CORES) {
            r->cores[r->ncores].core = core;
            sum_cpu_counters(v, &r->cores[r->ncores]);
            r->ncores++;
        }
    });
    return have_total;
}

void fill_cpu(sys_snapshot* snap, const cpu_reading& r1, const cpu_reading& r2) {
    snap->cpu_pct = busy_pct(r1.total, r2.total);
    snap->ncores = r2.ncores;
    for (int i = 0; i < r2.ncores; i++) {
        const cpu_line& now = r2.cores[i];
        snap->cores[i].core = now.core;
        const cpu_line* before = nullptr;
        if (i < r1.ncores && r1.cores[i].core == now.core) {
            before = &r1.cores[i];
        } else {
            for (int j = 0; j < r1.ncores && !before; j++) {
                if (r1.cores[j].core == now.core) before = &r1.cores[j];
            }
        }
        snap->cores[i].pct = before ? busy_pct(*before, now) : 0;
    }
}

void read_host_name(int root_fd, char* out, size_t capacity) {
    char buf[256];
    const long n = read_small(root_fd, "sys/kernel/hostname", buf, sizeof buf);
    if (n > 0) copy_trimmed_line(text_cursor{buf, buf + n}, out, capacity);
}

void read_host(int root_fd, sys_snapshot* snap) { read_host_name(root_fd, snap->host, sizeof snap->host); }

void read_cpu_model_name(int root_fd, char* out, size_t capacity) {
    // The first processor's block is enough; the file can be long and slow to produce.
    char buf[4096];
    const long n = read_small(root_fd, "cpuinfo", buf, sizeof buf);
    if (n <= 0) return;
    // "model name" on x86 and most others; the first of these where it is absent.
    static const char* const keys[] = {"model name", "Processor", "cpu model", "cpu", "uarch"};
    const int nkeys = static_cast<int>(sizeof keys / sizeof keys[0]);
    int best = nkeys;
    text_cursor c = {buf, buf + n};
    do {
        for (int k = 0; k < best; k++) {
            text_cursor line = c;
            if (take_key(&line, keys[k])) {
                copy_trimmed_line(line, out, capacity);
                best = k;
                break;
            }
        }
    } while (best > 0 && next_line(&c));
}

void read_cpu_model(int root_fd, sys_snapshot* snap) {
    read_cpu_model_name(root_fd, snap->cpu_model, sizeof snap->cpu_model);
}

bool read_meminfo(int root_fd, meminfo* m) {
    memset(m, 0, sizeof *m);
    char buf[8192];
    const long n = read_small(root_fd, "meminfo", buf, sizeof buf);
    if (n <= 0) return false;
    static const char* const keys[MEMINFO_KEYS] = {"MemTotal", "MemFree",      "MemAvailable", "Buffers",
                                                   "Cached",   "SReclaimable", "SwapTotal",    "SwapFree"};
    text_cursor c = {buf, buf + n};
    do {
        for (int k = 0; k < MEMINFO_KEYS; k++) {
            text_cursor line = c;
            int64_t v;
            if (!m->seen[k] && take_key(&line, keys[k]) && read_int(&line, &v)) {
                m->kib[k] = v > 0 ? static_cast<double>(v) : 0;
                m->seen[k] = true;
                break;
            }
        }
    } while (next_line(&c));
    return true;
}

void read_memory(int root_fd, sys_snapshot* snap) {
    meminfo m;
    if (!read_meminfo(root_fd, &m)) return;
    const double* kib = m.kib;
    const double total = kib[MEM_TOTAL];
    double free_kb = m.seen[MEM_AVAILABLE] ? kib[MEM_AVAILABLE] : kib[MEM_FREE] + kib[MEM_BUFFERS] + kib[MEM_CACHED];
    if (free_kb > total) free_kb = total;
    snap->mem_total_kb = total;
    snap->mem_free_kb = free_kb;
    snap->mem_used_kb = total - free_kb;
    snap->mem_cached_kb = kib[MEM_CACHED] + kib[MEM_RECLAIMABLE];
    snap->swap_total_kb = kib[SWAP_TOTAL];
    snap->swap_used_kb = kib[SWAP_TOTAL] > kib[SWAP_FREE] ? kib[SWAP_TOTAL] - kib[SWAP_FREE] : 0;
}

void read_uptime_and_load(int root_fd, sys_snapshot* snap) {
    char buf[256];
    long n = read_small(root_fd, "uptime", buf, sizeof buf);
    if (n > 0) {
        text_cursor c = {buf, buf + n};
        double up;
        if (read_decimal(&c, &up)) snap->uptime_sec = up;
    }
    double load[3];
    if (read_loadavg(root_fd, load)) {
        snap->load1 = load[0];
        snap->load5 = load[1];
        snap->load15 = load[2];
        snap->load_available = 1;
    }
}

bool read_loadavg(int root_fd, double* load3) {
    char buf[256];
    const long n = read_small(root_fd, "loadavg", buf, sizeof buf);
    if (n <= 0) return false;
    text_cursor c = {buf, buf + n};
    return read_decimal(&c, &load3[0]) && read_decimal(&c, &load3[1]) && read_decimal(&c, &load3[2]);
}
