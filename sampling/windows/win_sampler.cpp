#include "sampling/windows/win_sampler.h"

#include <string.h>

static const uint32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Encodes `cp` into `buf` (4 bytes) and returns its length.
static size_t utf8_encode(uint32_t cp, unsigned char* buf) {
    if (cp < 0x80) {
        buf[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        buf[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        buf[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        buf[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        buf[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    buf[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    buf[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    buf[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

size_t utf16_to_utf8(const uint16_t* units, size_t max_units, char* out, size_t capacity) {
    if (capacity == 0) return 0;
    size_t len = 0;
    size_t i = 0;
    while (i < max_units && units[i] != 0) {
        uint32_t cp = units[i++];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i < max_units && units[i] >= 0xDC00 && units[i] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i++] - 0xDC00u);
            } else {
                cp = REPLACEMENT_CHARACTER;
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = REPLACEMENT_CHARACTER;
        }
        unsigned char buf[4];
        const size_t n = utf8_encode(cp, buf);
        if (len + n > capacity - 1) break;  // a character that does not fit whole ends the name
        memcpy(out + len, buf, n);
        len += n;
    }
    out[len] = '\0';
    return len;
}

// A byte count in whole KiB: the remainder is dropped.
static double kib(uint64_t bytes) { return static_cast<double>(bytes >> 10); }

// The wide-character name, so that a name outside ASCII keeps its characters whatever the
// system code page; converted to UTF-8 and cut at a character boundary to fit `host`.
static void read_host(sys_snapshot* snap, const win_ops* ops) {
    uint16_t name[256];
    memset(name, 0, sizeof name);
    if (!ops->get_computer_name(ops->ctx, name, 256)) return;
    utf16_to_utf8(name, 256, snap->host, sizeof snap->host);
}

static void read_memory(sys_snapshot* snap, const win_ops* ops) {
    win_memory_status status;
    memset(&status, 0, sizeof status);
    if (!ops->global_memory_status(ops->ctx, &status)) return;
    snap->mem_total_kb = kib(status.total_phys);
    snap->mem_free_kb = kib(status.avail_phys);
    const double used = snap->mem_total_kb - snap->mem_free_kb;
    snap->mem_used_kb = used > 0 ? used : 0;
    snap->mem_cached_kb = 0;
    snap->swap_total_kb = kib(status.total_page_file);
    const double swap_free = kib(status.avail_page_file);
    snap->swap_used_kb = snap->swap_total_kb > swap_free ? snap->swap_total_kb - swap_free : 0;
}

static int32_t working_set_kib(const win_ops* ops, uint32_t pid) {
    void* process = ops->open_process(ops->ctx, WIN_PROCESS_ACCESS, pid);
    if (!process) return 0;
    uint64_t bytes = 0;
    int32_t rss = 0;
    if (ops->working_set_size(ops->ctx, process, &bytes)) {
        const uint64_t kb = bytes >> 10;
        rss = kb > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(kb);  // saturate, never wrap negative
    }
    ops->close_handle(ops->ctx, process);
    return rss;
}

static void read_processes(sys_snapshot* snap, const win_ops* ops) {
    void* snapshot = ops->create_process_snapshot(ops->ctx);
    if (!snapshot) return;
    win_process_entry entry;
    memset(&entry, 0, sizeof entry);
    snap->proc_count = 0;
    if (ops->process_first(ops->ctx, snapshot, &entry)) {
        for (;;) {
            if (snap->proc_count >= MAX_PROCS) break;
            proc_row* row = &snap->processes[snap->proc_count];
            row->rss_kb = working_set_kib(ops, entry.pid);
            row->pid = static_cast<int32_t>(entry.pid);
            row->cpu = 0.0;
            row->state = 'R';
            utf16_to_utf8(entry.exe_file, sizeof entry.exe_file / sizeof entry.exe_file[0], row->name,
                          sizeof row->name);
            snap->proc_count++;
            if (!ops->process_next(ops->ctx, snapshot, &entry)) break;
        }
    }
    ops->close_handle(ops->ctx, snapshot);
}

void sample_windows(sys_snapshot* snap, const win_ops* ops) {
    memset(snap, 0, sizeof *snap);
    strcpy(snap->platform, PLATFORM_NAME);
    read_host(snap, ops);

    uint64_t idle1, kernel1, user1, idle2, kernel2, user2;
    if (!ops->get_system_times(ops->ctx, &idle1, &kernel1, &user1)) return;
    ops->sleep_ms(ops->ctx, CPU_SAMPLE_MS);
    if (!ops->get_system_times(ops->ctx, &idle2, &kernel2, &user2)) return;

    // Kernel time includes idle time; busy is user plus kernel less idle.
    const double total = (static_cast<double>(kernel2) + static_cast<double>(user2)) -
                         (static_cast<double>(kernel1) + static_cast<double>(user1));
    const double busy = (static_cast<double>(user2) - static_cast<double>(user1)) +
                        ((static_cast<double>(kernel2) - static_cast<double>(kernel1)) -
                         (static_cast<double>(idle2) - static_cast<double>(idle1)));
    snap->cpu_pct = share_pct(busy, total);

    read_memory(snap, ops);
    snap->uptime_sec = static_cast<double>(ops->tick_count64(ops->ctx)) / 1000.0;
    read_processes(snap, ops);
    snap->ok = snap->mem_total_kb > 0 ? 1 : 0;
}
