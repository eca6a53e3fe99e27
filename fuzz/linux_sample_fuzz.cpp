// The whole Linux sample over a fuzzed proc tree, then the ranking and the metrics document. The
// record must hold every percentage within 0..100 (a process within 0..100 x cores) and every
// count within its cap; the document must be one JSON line in valid UTF-8 whose printed figures
// keep the same bounds.
//
// Input: NUL-separated fields. 0 and 1: "stat" at the first and the second reading; 2 to 6:
// "meminfo", "loadavg", "uptime", "cpuinfo", "sys/kernel/hostname"; 7: the clocks, "BOOT WINDOW
// STEP" in nanoseconds (the boot time, how far the monotonic time moves in the window and at
// every look). Then groups of four per process: its directory name, its stat before the window
// (none when empty), its stat after (the process ends in the window when empty), and its CPU
// clock: two readings, each a letter (r: read, g: gone, else refused) and a decimal value,
// as in "r100 r250". A field that is absent leaves its file out.
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "api/metrics.h"
#include "fuzz/json_check.h"
#include "fuzz/stdout_capture.h"
#include "sampling/linux/linux_sampler.h"
#include "sampling/ranking.h"

namespace fs = std::filesystem;

namespace {

const size_t MAX_GROUPS = 64;
const char* const SYSTEM_FILES[] = {"meminfo", "loadavg", "uptime", "cpuinfo", "sys/kernel/hostname"};

struct clock_reading {
    cpu_clock_answer answer;
    uint64_t ns;
};

struct fake_process {
    std::string after;  // stat after the window; empty: the process ends in it
    clock_reading reading[2];
};

struct fake_machine {
    fs::path root;
    std::string second_stat;
    bool has_second_stat = false;
    std::map<int32_t, fake_process> processes;  // by pid, for the clocks
    std::vector<std::pair<std::string, std::string>> after;  // directory name, stat after
    uint64_t boot = 0, window = 0, step = 0, now = 1000000000;
    std::map<int32_t, int> reads;
};

fake_machine* machine(void* ctx) { return static_cast<fake_machine*>(ctx); }

cpu_clock_answer process_clock(void* ctx, int32_t pid, clockid_t* clock) {
    *clock = pid;
    return machine(ctx)->processes.count(pid) ? CPU_CLOCK_READ : CPU_CLOCK_REFUSED;
}

cpu_clock_answer read_clock(void* ctx, clockid_t clock, uint64_t* ns) {
    fake_machine* m = machine(ctx);
    const int n = m->reads[clock]++;
    const clock_reading& r = m->processes[clock].reading[n < 2 ? n : 1];
    if (r.answer == CPU_CLOCK_READ) *ns = r.ns;
    return r.answer;
}

int64_t monotonic(void* ctx) {
    fake_machine* m = machine(ctx);
    m->now += m->step;  // unsigned: wraps instead of overflowing
    return static_cast<int64_t>(m->now);
}

int64_t boot(void* ctx) { return static_cast<int64_t>(machine(ctx)->boot); }

void write_file(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void wait(void* ctx, int64_t) {
    fake_machine* m = machine(ctx);
    if (m->has_second_stat) write_file(m->root / "stat", m->second_stat);
    for (const auto& a : m->after) {
        if (a.second.empty()) {
            fs::remove_all(m->root / a.first);
        } else {
            write_file(m->root / a.first / "stat", a.second);
        }
    }
    m->now += m->window;
}

// A directory name made only of digits and lower-case letters, so that it stays inside the root.
std::string dir_name(const std::string& field) {
    std::string name;
    for (char c : field) {
        if (((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')) && name.size() < 11) name += c;
    }
    return name.empty() ? "x" : name;
}

uint64_t decimal(const char** p) {
    uint64_t v = 0;
    bool negative = **p == '-';
    if (negative) (*p)++;
    for (; **p >= '0' && **p <= '9'; (*p)++) v = v * 10 + static_cast<uint64_t>(**p - '0');
    return negative ? 0 - v : v;
}

void parse_clock(const std::string& field, clock_reading reading[2]) {
    const char* p = field.c_str();
    for (int i = 0; i < 2; i++) {
        while (*p == ' ') p++;
        const char kind = *p;
        if (*p) p++;
        reading[i].answer = kind == 'r' ? CPU_CLOCK_READ : kind == 'g' ? CPU_CLOCK_GONE : CPU_CLOCK_REFUSED;
        reading[i].ns = decimal(&p);
    }
}

// The numbers that follow each occurrence of `key` in the document. Keys inside JSON strings
// cannot match: every quote there is escaped.
std::vector<double> numbers_after(const std::string& doc, const std::string& key) {
    std::vector<double> out;
    for (size_t at = doc.find(key); at != std::string::npos; at = doc.find(key, at + 1)) {
        out.push_back(strtod(doc.c_str() + at + key.size(), nullptr));
    }
    return out;
}

bool within(double v, double low, double high) { return v >= low && v <= high; }

void check_record(const sys_snapshot& s) {
    if (s.ncores < 0 || s.ncores > MAX_CORES || s.proc_count < 0 || s.proc_count > MAX_PROCS) abort();
    if (!s.ok) return;
    if (!within(s.cpu_pct, 0, 100)) abort();
    for (int i = 0; i < s.ncores; i++) {
        if (!within(s.cores[i].pct, 0, 100)) abort();
    }
    const double max_proc = 100.0 * (s.ncores > 0 ? s.ncores : 1);
    for (int i = 0; i < s.proc_count; i++) {
        if (!within(s.processes[i].cpu, 0, max_proc)) abort();
    }
}

void check_document(const std::string& out) {
    if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1) abort();
    const std::string doc = out.substr(0, out.size() - 1);
    if (!is_one_json_document(doc)) abort();
    if (doc.compare(0, 11, "{\"ok\":false") == 0) return;
    const std::vector<double> ncores = numbers_after(doc, "\"ncores\":");
    const std::vector<double> counts = numbers_after(doc, "\"proc_count\":");
    const std::vector<double> tops = numbers_after(doc, "\"top\":");
    if (ncores.size() != 1 || counts.size() != 1 || tops.size() != 1) abort();
    if (!within(ncores[0], 0, MAX_CORES) || !within(counts[0], 0, MAX_PROCS) || !within(tops[0], 0, counts[0])) abort();
    if (numbers_after(doc, "\"core\":").size() != static_cast<size_t>(ncores[0])) abort();
    if (numbers_after(doc, "\"pid\":").size() != static_cast<size_t>(tops[0])) abort();
    for (double v : numbers_after(doc, "\"cpu_pct\":")) {
        if (!within(v, 0, 100)) abort();
    }
    for (double v : numbers_after(doc, "\"pct\":")) {  // cores, memory, swap
        if (!within(v, 0, 100)) abort();
    }
    const double max_proc = 100.0 * (ncores[0] > 0 ? ncores[0] : 1);
    for (double v : numbers_after(doc, "\"cpu\":")) {
        if (!within(v, 0, max_proc)) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static stdout_capture capture;
    // The trees live on tmpfs, one directory per fuzzing process, removed when it exits.
    struct scratch {
        fs::path base = fs::path("/dev/shm") / ("ravlen-fuzz-" + std::to_string(getpid()));
        ~scratch() {
            std::error_code ignored;
            fs::remove_all(base, ignored);
        }
    };
    static const scratch dir;
    const fs::path& base = dir.base;
    static sys_snapshot snap;

    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == '\0') {
            fields.emplace_back();
        } else {
            fields.back() += static_cast<char>(data[i]);
        }
    }
    if (fields.size() > 8 + 4 * MAX_GROUPS) fields.resize(8 + 4 * MAX_GROUPS);
    auto present = [&](size_t i) { return i < fields.size(); };

    fake_machine m;
    m.root = base / "root";
    fs::remove_all(m.root);
    fs::create_directories(m.root);
    if (present(0)) write_file(m.root / "stat", fields[0]);
    m.has_second_stat = present(1);
    if (m.has_second_stat) m.second_stat = fields[1];
    for (size_t f = 0; f < 5; f++) {
        if (present(2 + f)) write_file(m.root / SYSTEM_FILES[f], fields[2 + f]);
    }
    if (present(7)) {
        const char* p = fields[7].c_str();
        m.boot = decimal(&p);
        while (*p == ' ') p++;
        m.window = decimal(&p);
        while (*p == ' ') p++;
        m.step = decimal(&p);
    }
    for (size_t g = 8; g + 3 < fields.size(); g += 4) {
        const std::string name = dir_name(fields[g]);
        fs::create_directories(m.root / name);
        if (!fields[g + 1].empty()) write_file(m.root / name / "stat", fields[g + 1]);
        m.after.emplace_back(name, fields[g + 2]);
        char* end = nullptr;
        const unsigned long pid = strtoul(name.c_str(), &end, 10);
        if (*end == '\0' && pid <= INT32_MAX && !fields[g + 3].empty()) {
            fake_process& p = m.processes[static_cast<int32_t>(pid)];
            parse_clock(fields[g + 3], p.reading);
        }
    }

    const int root_fd = open(m.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_fd < 0) abort();
    const linux_clock_ops clocks = {&m, process_clock, read_clock, monotonic, boot, wait};
    sample_linux(&snap, root_fd, clocks);
    close(root_fd);
    check_record(snap);

    const bool by_mem = size > 0 && (data[size - 1] & 1);
    const int shown = rank_processes(&snap, by_mem, size > 0 ? data[0] : 25);
    capture.begin();
    write_metrics_document(&snap, "2000-01-01T00:00:00Z", shown, by_mem);
    check_document(capture.end());
    return 0;
}
