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

// Calls visit(pid) for every numeric directory under the root, in directory order, until visit
// returns false.
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
            if (!visit(static_cast<int32_t>(pid))) return;
        }
    }
}

// The fields of /proc/<pid>/stat after the command name, counted as the kernel documents them.
const int FIELD_STATE = 3, FIELD_UTIME = 14, FIELD_STIME = 15, FIELD_START = 22, FIELD_RSS = 24;

// Parses one stat text; fields that are missing or malformed stay zero or empty.
void parse_stat(const char* buf, long n, double kib_per_page, process_stat* s) {
    const char* open_paren = static_cast<const char*>(memchr(buf, '(', static_cast<size_t>(n)));
    const char* close_paren = nullptr;
    for (const char* p = buf + n; p > buf;) {
        if (*--p == ')') {
            close_paren = p;
            break;
        }
    }
    if (!open_paren || !close_paren || close_paren < open_paren) return;
    copy_cut(open_paren + 1, static_cast<size_t>(close_paren - open_paren - 1), s->row.name, sizeof s->row.name);
    text_cursor c = {close_paren + 1, buf + n};
    skip_blanks(&c);
    if (c.p < c.end) {
        const char state = *c.p;
        if ((state >= 'A' && state <= 'Z') || (state >= 'a' && state <= 'z')) s->row.state = state;
    }
    skip_field(&c);
    int64_t utime = 0, stime = 0, start = 0, rss = 0;
    for (int field = FIELD_STATE + 1; field <= FIELD_RSS; field++) {
        int64_t v;
        if (!read_int(&c, &v)) break;
        if (field == FIELD_UTIME) utime = v;
        if (field == FIELD_STIME) stime = v;
        if (field == FIELD_START) start = v;
        if (field == FIELD_RSS) rss = v;
    }
    s->cpu_ticks = counter(utime) + counter(stime);
    s->start_ticks = counter(start);
    const double kib = static_cast<double>(counter(rss)) * kib_per_page;
    s->row.rss_kb = kib > INT32_MAX ? INT32_MAX : static_cast<int32_t>(kib);
}

double kib_per_page() {
    const long page = sysconf(_SC_PAGESIZE);
    return static_cast<double>(page > 0 ? page : 4096) / 1024.0;
}

bool read_stat(int root_fd, int32_t pid, double kib_page, process_stat* out) {
    if (pid < 0) return false;
    char digits[10];
    int len = 0;
    for (uint32_t v = static_cast<uint32_t>(pid); len == 0 || v > 0; v /= 10) digits[len++] = static_cast<char>('0' + v % 10);
    char path[24];
    for (int i = 0; i < len; i++) path[i] = digits[len - 1 - i];
    memcpy(path + len, "/stat", 6);
    char buf[1024];
    const long n = read_small(root_fd, path, buf, sizeof buf);
    if (n <= 0) return false;
    memset(out, 0, sizeof *out);
    out->row.pid = pid;
    parse_stat(buf, n, kib_page, out);
    return true;
}

}  // namespace

void for_each_pid(int root_fd, pid_visit visit, void* ctx) {
    for_each_process(root_fd, [&](int32_t pid) { return visit(ctx, pid); });
}

void walk_process_stats(int root_fd, process_visit visit, void* ctx) {
    const double kib_page = kib_per_page();
    for_each_process(root_fd, [&](int32_t pid) {
        process_stat s;
        if (!read_stat(root_fd, pid, kib_page, &s)) return true;  // ended: nothing to tell
        return visit(ctx, s);
    });
}

bool read_process_stat(int root_fd, int32_t pid, process_stat* out) {
    return read_stat(root_fd, pid, kib_per_page(), out);
}
