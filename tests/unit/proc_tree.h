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
#include <memory>
#include <string>

#include "sampling/linux/linux_sampler.h"

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

    // Samples the tree. `between` runs between the two readings; per-process CPU figures are
    // taken over `window_sec` seconds.
    std::unique_ptr<sys_snapshot> sample(std::function<void()> between = nullptr, double window_sec = 1.0) const {
        std::unique_ptr<sys_snapshot> snap(new sys_snapshot);
        memset(snap.get(), 0x5A, sizeof *snap);
        Hook h{between, window_sec};
        sample_linux(snap.get(), fd_, &Hook::run, &h);
        return snap;
    }

private:
    struct Hook {
        std::function<void()> between;
        double window_sec;
        static double run(void* ctx) {
            Hook* h = static_cast<Hook*>(ctx);
            if (h->between) h->between();
            return h->window_sec;
        }
    };
    std::string root_;
    int fd_ = -1;
};

// A /proc/<pid>/stat line with the figures the sampler reads.
inline std::string proc_stat_line(int pid, const std::string& name, char state, long utime, long stime, long rss) {
    return std::to_string(pid) + " (" + name + ") " + state + " 1 " + std::to_string(pid) + " " +
           std::to_string(pid) + " 0 -1 4194560 1000 0 0 0 " + std::to_string(utime) + " " + std::to_string(stime) +
           " 0 0 20 0 1 0 5000 123456789 " + std::to_string(rss) + " 18446744073709551615 1 1 0 0 0 0 0 0\n";
}
