#include "sampling/linux/system_figures.h"

#include <string.h>

#include "sampling/linux/proc_files.h"
#include "sampling/linux/proc_text.h"

namespace {

// Parses the counters after a "cpu" label; false when fewer than the four oldest ones are there.
bool read_cpu_counters(text_cursor* c, cpu_line* line) {
    int64_t v[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int got = 0;
    while (got < 8 && read_int(c, &v[got])) got++;
    if (got < 4) return false;
    line->busy = counter(v[0]) + counter(v[1]) + counter(v[2]) + counter(v[5]) + counter(v[6]) + counter(v[7]);
    line->idle = counter(v[3]) + counter(v[4]);
    return true;
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
    text_cursor c = {buf, buf + n};
    do {
        if (c.end - c.p < 4 || memcmp(c.p, "cpu", 3) != 0) continue;
        const bool cut = n >= static_cast<long>(sizeof buf) - 1;
        if (cut && !memchr(c.p, '\n', static_cast<size_t>(c.end - c.p))) break;  // a line cut by the buffer
        text_cursor line = {c.p + 3, c.end};
        if (*line.p == ' ' || *line.p == '\t') {
            if (!have_total) have_total = read_cpu_counters(&line, &r->total);
            continue;
        }
        int64_t n_core;
        if (r->ncores >= MAX_CORES || !read_int(&line, &n_core) || n_core < 0 || n_core > INT32_MAX) continue;
        if (line.p >= line.end || (*line.p != ' ' && *line.p != '\t')) continue;
        cpu_line* row = &r->cores[r->ncores];
        row->core = static_cast<int32_t>(n_core);
        if (read_cpu_counters(&line, row)) r->ncores++;
    } while (next_line(&c));
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

void read_host(int root_fd, sys_snapshot* snap) {
    char buf[256];
    const long n = read_small(root_fd, "sys/kernel/hostname", buf, sizeof buf);
    if (n > 0) copy_trimmed_line(text_cursor{buf, buf + n}, snap->host, sizeof snap->host);
}

void read_cpu_model(int root_fd, sys_snapshot* snap) {
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
                copy_trimmed_line(line, snap->cpu_model, sizeof snap->cpu_model);
                best = k;
                break;
            }
        }
    } while (best > 0 && next_line(&c));
}

void read_memory(int root_fd, sys_snapshot* snap) {
    char buf[8192];
    const long n = read_small(root_fd, "meminfo", buf, sizeof buf);
    if (n <= 0) return;
    enum { TOTAL, FREE, AVAILABLE, BUFFERS, CACHED, RECLAIMABLE, SWAP_TOTAL, SWAP_FREE, KEYS };
    static const char* const keys[KEYS] = {"MemTotal", "MemFree",      "MemAvailable", "Buffers",
                                           "Cached",   "SReclaimable", "SwapTotal",    "SwapFree"};
    double value[KEYS] = {0, 0, 0, 0, 0, 0, 0, 0};
    bool seen[KEYS] = {false, false, false, false, false, false, false, false};
    text_cursor c = {buf, buf + n};
    do {
        for (int k = 0; k < KEYS; k++) {
            text_cursor line = c;
            int64_t v;
            if (!seen[k] && take_key(&line, keys[k]) && read_int(&line, &v)) {
                value[k] = v > 0 ? static_cast<double>(v) : 0;
                seen[k] = true;
                break;
            }
        }
    } while (next_line(&c));
    const double total = value[TOTAL];
    double free_kb = seen[AVAILABLE] ? value[AVAILABLE] : value[FREE] + value[BUFFERS] + value[CACHED];
    if (free_kb > total) free_kb = total;
    snap->mem_total_kb = total;
    snap->mem_free_kb = free_kb;
    snap->mem_used_kb = total - free_kb;
    snap->mem_cached_kb = value[CACHED] + value[RECLAIMABLE];
    snap->swap_total_kb = value[SWAP_TOTAL];
    snap->swap_used_kb = value[SWAP_TOTAL] > value[SWAP_FREE] ? value[SWAP_TOTAL] - value[SWAP_FREE] : 0;
}

void read_uptime_and_load(int root_fd, sys_snapshot* snap) {
    char buf[256];
    long n = read_small(root_fd, "uptime", buf, sizeof buf);
    if (n > 0) {
        text_cursor c = {buf, buf + n};
        double up;
        if (read_decimal(&c, &up)) snap->uptime_sec = up;
    }
    n = read_small(root_fd, "loadavg", buf, sizeof buf);
    if (n > 0) {
        text_cursor c = {buf, buf + n};
        double l1, l5, l15;
        if (read_decimal(&c, &l1) && read_decimal(&c, &l5) && read_decimal(&c, &l15)) {
            snap->load1 = l1;
            snap->load5 = l5;
            snap->load15 = l15;
            snap->load_available = 1;
        }
    }
}
