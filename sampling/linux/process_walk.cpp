#include "sampling/linux/process_walk.h"

#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "sampling/linux/proc_files.h"
#include "sampling/linux/proc_text.h"

namespace {

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

}  // namespace

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

void visit_processes(int root_fd, void (*visit)(void* ctx, const process_visit& p), void* ctx) {
    for_each_process(root_fd, [&](int32_t pid, const char* path) {
        char buf[1024];
        const long n = read_small(root_fd, path, buf, sizeof buf);
        if (n <= 0) return true;
        stat_fields f;
        parse_stat(buf, n, true, &f);
        const process_visit p = {pid, f.name, f.name_len, f.state, f.ticks, f.rss_pages};
        visit(ctx, p);
        return true;
    });
}
