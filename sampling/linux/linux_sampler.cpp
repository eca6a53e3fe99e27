// The Linux sampler: every figure comes from the kernel's text files under a proc root, read
// with one open, one read and one close each, relative to the root's directory handle.
#include "sampling/linux/linux_sampler.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "sampling/linux/proc_text.h"

namespace {

// Reads the file at `path` under the root into `buf` (at most cap - 1 bytes, NUL-terminated).
// Returns the length, or -1 when the file cannot be opened or read.
long read_small(int root_fd, const char* path, char* buf, size_t cap) {
    const int fd = openat(root_fd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    ssize_t n;
    do {
        n = read(fd, buf, cap - 1);
    } while (n < 0 && errno == EINTR);
    close(fd);
    if (n < 0) return -1;
    buf[n] = '\0';
    return static_cast<long>(n);
}

// Like read_small, but keeps reading until the buffer is full or the file ends.
long read_whole(int root_fd, const char* path, char* buf, size_t cap) {
    const int fd = openat(root_fd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    size_t len = 0;
    while (len < cap - 1) {
        const ssize_t n = read(fd, buf + len, cap - 1 - len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        len += static_cast<size_t>(n);
    }
    close(fd);
    buf[len] = '\0';
    return static_cast<long>(len);
}

int64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleep_until(int64_t deadline_ns) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(deadline_ns / 1000000000);
    ts.tv_nsec = static_cast<long>(deadline_ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// ---- CPU counters of "stat" ----

// One "cpu" line: busy is user, nice, system, irq, softirq and steal (guest time is already inside
// user and nice); idle is idle and iowait.
struct cpu_line {
    int32_t core;  // N of "cpuN"
    uint64_t busy;
    uint64_t idle;
};

struct cpu_reading {
    cpu_line total;
    cpu_line cores[MAX_CORES];
    int32_t ncores;
};

uint64_t counter(int64_t v) { return v > 0 ? static_cast<uint64_t>(v) : 0; }

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

double busy_pct(const cpu_line& a, const cpu_line& b) {
    // Counters that went back (a core taken offline, an iowait dip) count as no progress.
    const double busy = b.busy > a.busy ? static_cast<double>(b.busy - a.busy) : 0;
    const double idle = b.idle > a.idle ? static_cast<double>(b.idle - a.idle) : 0;
    if (busy + idle <= 0) return 0;
    return busy * 100.0 / (busy + idle);
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

// ---- The other system files ----

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

// ---- Processes ----

struct linux_dirent64_header {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

const unsigned char TYPE_UNKNOWN = 0;  // DT_UNKNOWN
const unsigned char TYPE_DIR = 4;      // DT_DIR

// Calls visit(pid, "<pid>/stat") for every numeric directory under the root, in directory order,
// until visit returns false.
template <typename Visit>
void for_each_process(int root_fd, Visit visit) {
    if (lseek(root_fd, 0, SEEK_SET) < 0) return;
    alignas(8) char buf[32768];
    for (;;) {
        const long n = syscall(SYS_getdents64, root_fd, buf, sizeof buf);
        if (n <= 0) return;
        for (long off = 0; off < n;) {
            const linux_dirent64_header* d = reinterpret_cast<const linux_dirent64_header*>(buf + off);
            off += d->d_reclen;
            if (d->d_type != TYPE_DIR && d->d_type != TYPE_UNKNOWN) continue;
            const char* name = d->d_name;
            int64_t pid = 0;
            int len = 0;
            for (; name[len] >= '0' && name[len] <= '9' && len < 10; len++) pid = pid * 10 + (name[len] - '0');
            if (len == 0 || name[len] != '\0' || pid > INT32_MAX) continue;
            char path[24];
            memcpy(path, name, static_cast<size_t>(len));
            memcpy(path + len, "/stat", 6);
            if (!visit(static_cast<int32_t>(pid), path)) return;
        }
    }
}

// The fields of /proc/<pid>/stat after the command name, counted as the kernel documents them.
const int FIELD_STATE = 3, FIELD_UTIME = 14, FIELD_STIME = 15, FIELD_RSS = 24;

struct stat_fields {
    const char* name;  // the command name, between the first "(" and the last ")"
    size_t name_len;
    char state;
    uint64_t ticks;  // utime + stime
    int64_t rss_pages;
};

// Parses one stat text; fields that are missing or malformed stay zero or empty.
void parse_stat(const char* buf, long n, bool want_all, stat_fields* f) {
    memset(f, 0, sizeof *f);
    const char* open_paren = static_cast<const char*>(memchr(buf, '(', static_cast<size_t>(n)));
    const char* close_paren = nullptr;
    for (const char* p = buf + n; p > buf;) {
        if (*--p == ')') {
            close_paren = p;
            break;
        }
    }
    if (!open_paren || !close_paren || close_paren < open_paren) return;
    if (want_all) {
        f->name = open_paren + 1;
        f->name_len = static_cast<size_t>(close_paren - open_paren - 1);
    }
    text_cursor c = {close_paren + 1, buf + n};
    skip_blanks(&c);
    if (c.p < c.end) {
        const char s = *c.p;
        if ((s >= 'A' && s <= 'Z') || (s >= 'a' && s <= 'z')) f->state = s;
    }
    skip_field(&c);
    int64_t utime = 0, stime = 0, rss = 0;
    for (int field = FIELD_STATE + 1; field <= (want_all ? FIELD_RSS : FIELD_STIME); field++) {
        int64_t v;
        if (!read_int(&c, &v)) break;
        if (field == FIELD_UTIME) utime = v;
        if (field == FIELD_STIME) stime = v;
        if (field == FIELD_RSS) rss = v;
    }
    f->ticks = counter(utime) + counter(stime);
    f->rss_pages = rss > 0 ? rss : 0;
}

struct first_walk {
    int32_t pid[MAX_PROCS];
    uint64_t ticks[MAX_PROCS];
    int count;
    bool ascending;  // pids strictly ascending, as /proc lists them
};

void walk_first(int root_fd, first_walk* w) {
    w->count = 0;
    w->ascending = true;
    for_each_process(root_fd, [&](int32_t pid, const char* path) {
        if (w->count >= MAX_PROCS) return false;
        char buf[1024];
        const long n = read_small(root_fd, path, buf, sizeof buf);
        if (n <= 0) return true;  // gone already
        stat_fields f;
        parse_stat(buf, n, false, &f);
        if (w->count > 0 && w->pid[w->count - 1] >= pid) w->ascending = false;
        w->pid[w->count] = pid;
        w->ticks[w->count] = f.ticks;
        w->count++;
        return true;
    });
}

// Index of `pid` in the first walk or -1; `cursor` follows the walk when both list the same order.
int find_first(const first_walk& w, int32_t pid, int* cursor) {
    if (*cursor < w.count && w.pid[*cursor] == pid) return (*cursor)++;
    int found = -1;
    if (w.ascending) {
        int lo = 0, hi = w.count - 1;
        while (lo <= hi) {
            const int mid = lo + (hi - lo) / 2;
            if (w.pid[mid] == pid) {
                found = mid;
                break;
            }
            if (w.pid[mid] < pid) lo = mid + 1; else hi = mid - 1;
        }
    } else {
        for (int i = 0; i < w.count && found < 0; i++) {
            if (w.pid[i] == pid) found = i;
        }
    }
    if (found >= 0) *cursor = found + 1;
    return found;
}

// Second walk: one row per process, with its tick count since the first walk in `cpu` for now.
void walk_second(int root_fd, sys_snapshot* snap, const first_walk& w, double kib_per_page) {
    snap->proc_count = 0;
    int cursor = 0;
    for_each_process(root_fd, [&](int32_t pid, const char* path) {
        if (snap->proc_count >= MAX_PROCS) return false;
        char buf[1024];
        const long n = read_small(root_fd, path, buf, sizeof buf);
        if (n <= 0) return true;  // vanished: no row
        stat_fields f;
        parse_stat(buf, n, true, &f);
        proc_row* row = &snap->processes[snap->proc_count++];
        row->pid = pid;
        if (f.name) copy_cut(f.name, f.name_len, row->name, sizeof row->name);
        row->state = f.state;
        const double kib = static_cast<double>(f.rss_pages) * kib_per_page;
        row->rss_kb = kib > INT32_MAX ? INT32_MAX : static_cast<int32_t>(kib);
        const int before = find_first(w, pid, &cursor);
        // A process new since the first walk, or whose count went back, shows no use.
        if (before >= 0 && f.ticks > w.ticks[before]) row->cpu = static_cast<double>(f.ticks - w.ticks[before]);
        return true;
    });
}

// Turns the tick counts in `cpu` into percent of one CPU over `window_sec`, at most all cores busy.
void ticks_to_percent(sys_snapshot* snap, double window_sec) {
    const long tck = sysconf(_SC_CLK_TCK);
    const double ticks_per_sec = tck > 0 ? static_cast<double>(tck) : 100.0;
    const double max_pct = 100.0 * (snap->ncores > 0 ? snap->ncores : 1);
    for (int i = 0; i < snap->proc_count; i++) {
        proc_row* row = &snap->processes[i];
        const double pct = window_sec > 0 ? row->cpu / ticks_per_sec / window_sec * 100.0 : 0;
        row->cpu = pct > max_pct ? max_pct : pct;
    }
}

}  // namespace

void sample_linux(sys_snapshot* snap, int root_fd, window_hook hook, void* hook_ctx) {
    // The window opens with the first reading. Clearing the record comes after it: the record
    // spans hundreds of pages that fault in on first touch, which costs time only outside the window.
    cpu_reading r1, r2;
    const int64_t window_start = now_ns();
    const bool first_read = read_cpu(root_fd, &r1);
    memset(snap, 0, sizeof *snap);
    strcpy(snap->platform, PLATFORM_NAME);
    if (!first_read) return;

    first_walk w;
    const int64_t walk1_start = now_ns();
    walk_first(root_fd, &w);
    const int64_t walk1_mid = walk1_start + (now_ns() - walk1_start) / 2;

    // Everything read only once is read inside the window, where it costs no time.
    read_host(root_fd, snap);
    read_cpu_model(root_fd, snap);
    read_memory(root_fd, snap);
    read_uptime_and_load(root_fd, snap);

    double window_sec = 0;
    if (hook) {
        window_sec = hook(hook_ctx);
    } else {
        sleep_until(window_start + static_cast<int64_t>(CPU_SAMPLE_MS) * 1000000);
    }

    if (!read_cpu(root_fd, &r2)) {
        snap->ok = 0;
        return;
    }
    fill_cpu(snap, r1, r2);

    const long page = sysconf(_SC_PAGESIZE);
    const int64_t walk2_start = now_ns();
    walk_second(root_fd, snap, w, static_cast<double>(page > 0 ? page : 4096) / 1024.0);
    // Each process is read at about the same point of both walks: the window is midpoint to midpoint.
    const int64_t walk2_mid = walk2_start + (now_ns() - walk2_start) / 2;
    if (window_sec <= 0) window_sec = static_cast<double>(walk2_mid - walk1_mid) / 1e9;
    ticks_to_percent(snap, window_sec);

    snap->ok = snap->mem_total_kb > 0 ? 1 : 0;
}

void sample_system(sys_snapshot* snap) {
    const int root_fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_fd < 0) {
        memset(snap, 0, sizeof *snap);
        strcpy(snap->platform, PLATFORM_NAME);
        return;
    }
    sample_linux(snap, root_fd, nullptr, nullptr);
    close(root_fd);
}
