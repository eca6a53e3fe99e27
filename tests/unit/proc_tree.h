#pragma once
// A private copy of a fixture proc tree in a temporary directory, open as a directory handle,
// that a test may change between the two readings of a sample.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sampling/linux/linux_sampler.h"

// The clocks of a sample of a fixture tree. The monotonic time moves only while the window's wait
// runs, by `window_sec`, so every process's interval between its readings is exactly that; the
// boot time stands still. A pid's CPU-time clock answers the readings scripted for it in turn
// (the last one again when they run out); a pid without a script has its clock refused, so the
// sampler reads the tree's tick counts for it.
class FakeClocks {
public:
    static constexpr int64_t GONE = -1;     // a reading: the process has ended
    static constexpr int64_t REFUSED = -2;  // a reading: the clock is refused

    std::map<int, std::vector<int64_t>> cpu_ns;  // pid -> readings in nanoseconds
    int64_t boot_ns = 12345670000000;            // 12345.67 s after boot: tick 1234567 at 100 Hz
    double window_sec = 1.0;
    std::function<void()> between;               // runs in the window's wait
    std::vector<std::string> events;             // "read <pid>" and "wait", in order

    linux_clock_ops ops() {
        return linux_clock_ops{this, process_clock, read_clock, monotonic, boot, wait};
    }

private:
    int64_t now_ = 1000000000;
    std::map<int, size_t> next_;

    static FakeClocks* self(void* ctx) { return static_cast<FakeClocks*>(ctx); }
    static cpu_clock_answer process_clock(void* ctx, int32_t pid, clockid_t* clock) {
        *clock = pid;
        return self(ctx)->cpu_ns.count(pid) ? CPU_CLOCK_READ : CPU_CLOCK_REFUSED;
    }
    static cpu_clock_answer read_clock(void* ctx, clockid_t clock, uint64_t* ns) {
        FakeClocks* f = self(ctx);
        f->events.push_back("read " + std::to_string(clock));
        const std::vector<int64_t>& script = f->cpu_ns[clock];
        size_t& next = f->next_[clock];
        const int64_t v = script.empty() ? REFUSED : script[next < script.size() ? next : script.size() - 1];
        next++;
        if (v == GONE) return CPU_CLOCK_GONE;
        if (v == REFUSED) return CPU_CLOCK_REFUSED;
        *ns = static_cast<uint64_t>(v);
        return CPU_CLOCK_READ;
    }
    static int64_t monotonic(void* ctx) { return self(ctx)->now_; }
    static int64_t boot(void* ctx) { return self(ctx)->boot_ns; }
    static void wait(void* ctx, int64_t) {
        FakeClocks* f = self(ctx);
        f->events.push_back("wait");
        if (f->between) f->between();
        f->now_ += static_cast<int64_t>(f->window_sec * 1e9);
    }
};

class ProcTree {
public:
    explicit ProcTree(const std::string& fixture) {
        char tmpl[] = "/tmp/ravlen-proc-XXXXXX";
        root_ = mkdtemp(tmpl);
        if (!fixture.empty()) {
            std::filesystem::copy(std::string(RAVLEN_FIXTURES) + "/proc/" + fixture, root_,
                                  std::filesystem::copy_options::recursive);
        }
        fd_ = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~ProcTree() {
        if (fd_ >= 0) close(fd_);
        std::filesystem::remove_all(root_);
    }
    ProcTree(const ProcTree&) = delete;
    ProcTree& operator=(const ProcTree&) = delete;

    void write(const std::string& path, const std::string& text) const {
        const std::filesystem::path p = root_ + "/" + path;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    void remove(const std::string& path) const { std::filesystem::remove_all(root_ + "/" + path); }
    int fd() const { return fd_; }

    // Samples the tree with the given clocks.
    std::unique_ptr<sys_snapshot> sample(FakeClocks& clocks) const {
        std::unique_ptr<sys_snapshot> snap(new sys_snapshot);
        memset(snap.get(), 0x5A, sizeof *snap);
        sample_linux(snap.get(), fd_, clocks.ops());
        return snap;
    }

    // Samples the tree with every CPU-time clock refused. `between` runs between the two
    // readings; each process's interval between its readings is `window_sec` seconds.
    std::unique_ptr<sys_snapshot> sample(std::function<void()> between = nullptr, double window_sec = 1.0) const {
        FakeClocks clocks;
        clocks.between = between;
        clocks.window_sec = window_sec;
        return sample(clocks);
    }

private:
    std::string root_;
    int fd_ = -1;
};

// A /proc/<pid>/stat line with the figures the sampler reads.
inline std::string proc_stat_line(int pid, const std::string& name, char state, long utime, long stime, long rss,
                                  long start = 5000) {
    return std::to_string(pid) + " (" + name + ") " + state + " 1 " + std::to_string(pid) + " " +
           std::to_string(pid) + " 0 -1 4194560 1000 0 0 0 " + std::to_string(utime) + " " + std::to_string(stime) +
           " 0 0 20 0 1 0 " + std::to_string(start) + " 123456789 " + std::to_string(rss) +
           " 18446744073709551615 1 1 0 0 0 0 0 0\n";
}
