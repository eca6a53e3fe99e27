// The Linux sampler against small proc trees.
#include <gtest/gtest.h>

#include <math.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "case_name.h"
#include "proc_tree.h"

namespace {

const double KIB_PER_PAGE = static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
const double TICKS_PER_SEC = static_cast<double>(sysconf(_SC_CLK_TCK));

std::map<int, const proc_row*> rows_by_pid(const sys_snapshot& s) {
    std::map<int, const proc_row*> m;
    for (int i = 0; i < s.proc_count; i++) m[s.processes[i].pid] = &s.processes[i];
    return m;
}

TEST(LinuxSampler, ReadsEveryFieldOfAPlainTree) {
    ProcTree tree("normal");
    auto s = tree.sample();
    EXPECT_EQ(s->ok, 1);
    EXPECT_STREQ(s->platform, "linux");
    EXPECT_STREQ(s->host, "fixture-node");
    EXPECT_STREQ(s->cpu_model, "Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz");
    EXPECT_EQ(s->cpu_pct, 0) << "identical readings";
    ASSERT_EQ(s->ncores, 2);
    EXPECT_EQ(s->cores[0].core, 0);
    EXPECT_EQ(s->cores[1].core, 1);
    EXPECT_EQ(s->mem_total_kb, 16384000);
    EXPECT_EQ(s->mem_free_kb, 4096000);
    EXPECT_EQ(s->mem_used_kb, 16384000 - 4096000);
    EXPECT_EQ(s->mem_cached_kb, 3000000 + 500000);
    EXPECT_EQ(s->swap_total_kb, 2097152);
    EXPECT_EQ(s->swap_used_kb, 1048576);
    EXPECT_DOUBLE_EQ(s->uptime_sec, 12345.67);
    EXPECT_EQ(s->load_available, 1);
    EXPECT_DOUBLE_EQ(s->load1, 0.52);
    EXPECT_DOUBLE_EQ(s->load5, 1.25);
    EXPECT_DOUBLE_EQ(s->load15, 10.0);

    ASSERT_EQ(s->proc_count, 3) << "the file 99 and the directory self are no processes";
    auto rows = rows_by_pid(*s);
    ASSERT_EQ(rows.count(1) + rows.count(42) + rows.count(1234), 3u);
    EXPECT_STREQ(rows[1]->name, "init");
    EXPECT_EQ(rows[1]->state, 'S');
    EXPECT_EQ(rows[1]->rss_kb, static_cast<int>(2500 * KIB_PER_PAGE));
    EXPECT_STREQ(rows[42]->name, "worker");
    EXPECT_EQ(rows[42]->state, 'R');
    EXPECT_EQ(rows[42]->rss_kb, static_cast<int>(100000 * KIB_PER_PAGE));
    EXPECT_EQ(rows[1234]->state, 'I');
    for (auto& r : rows) EXPECT_EQ(r.second->cpu, 0.0) << r.first;
}

TEST(LinuxSampler, CpuShareOfTheWindowPerMachineAndCore) {
    ProcTree tree("normal");
    auto s = tree.sample([&] {
        // Total: busy +100 (guest 50 is inside user already), idle +100: 50 %.
        // cpu0: busy +50, idle +20 and iowait +30: 50 %. cpu1: steal +25, idle +75: 25 %.
        tree.write("stat",
                   "cpu  160 0 140 900 0 0 0 0 50 0\n"
                   "cpu0 80 0 70 420 30 0 0 0 0 0\n"
                   "cpu1 50 0 50 475 0 0 0 25 0 0\n"
                   "intr 1\n");
    });
    EXPECT_EQ(s->ok, 1);
    EXPECT_DOUBLE_EQ(s->cpu_pct, 50.0);
    ASSERT_EQ(s->ncores, 2);
    EXPECT_DOUBLE_EQ(s->cores[0].pct, 50.0);
    EXPECT_DOUBLE_EQ(s->cores[1].pct, 25.0);
}

TEST(LinuxSampler, CountersGoingBackwardsAreClampedNeverNegativeOrNaN) {
    ProcTree tree("normal");
    auto s = tree.sample([&] {
        tree.write("stat",
                   "cpu  50 0 50 400 0 0 0 0 0 0\n"   // everything went back
                   "cpu0 60 0 50 300 0 0 0 0 0 0\n"   // idle went back, busy went on: all busy
                   "cpu1 50 0 50 400 0 0 0 0 0 0\n"   // unchanged
                   "cpu7 1 1 1 1\n");                  // a core without a first reading
        tree.write("1/stat", proc_stat_line(1, "init", 'S', 100, 100, 2500));  // ticks went back
    });
    EXPECT_EQ(s->ok, 1);
    EXPECT_EQ(s->cpu_pct, 0.0);
    ASSERT_EQ(s->ncores, 3);
    EXPECT_EQ(s->cores[0].pct, 100.0);
    EXPECT_EQ(s->cores[1].pct, 0.0);
    EXPECT_EQ(s->cores[2].core, 7);
    EXPECT_EQ(s->cores[2].pct, 0.0);
    for (int i = 0; i < s->proc_count; i++) {
        EXPECT_FALSE(isnan(s->processes[i].cpu));
        EXPECT_GE(s->processes[i].cpu, 0.0);
    }
    EXPECT_EQ(rows_by_pid(*s)[1]->cpu, 0.0);
}

TEST(LinuxSampler, ProcessCpuMatchedByPidOverTheWindow) {
    ProcTree tree("normal");
    const long t = static_cast<long>(TICKS_PER_SEC);
    auto s = tree.sample(
        [&] {
            tree.write("1/stat", proc_stat_line(1, "init", 'S', 300 + t, 200 + t / 2, 2500));  // 1.5 CPUs
            tree.write("1234/stat", proc_stat_line(1234, "kthreadd", 'I', 50 * t, 0, 0));      // beyond 2 cores
            tree.remove("42");                                                                  // vanished
            tree.write("77/stat", proc_stat_line(77, "newcomer", 'R', 5 * t, 0, 10));           // appeared
        },
        1.0);
    auto rows = rows_by_pid(*s);
    EXPECT_EQ(rows.count(42), 0u) << "a process gone after the window has no row";
    EXPECT_EQ(rows.count(77), 0u) << "a process new in the window shows from the next sample on";
    EXPECT_NEAR(rows[1]->cpu, 150.0, 1e-9);
    EXPECT_EQ(rows[1234]->cpu, 200.0) << "capped at all cores busy";
}

// Process 1 of the "normal" tree (2 cores) over a window of 1 s, read by its CPU-time clock or,
// where that is refused, by its ticks.
struct ClockCase {
    const char* what;
    std::vector<int64_t> clock;        // readings of process 1's clock; empty: refused
    void (*between)(const ProcTree&);  // changes to the tree inside the window, or nullptr
    bool has_row;
    double cpu;
    const char* name;
};

void PrintTo(const ClockCase& c, std::ostream* os) { *os << c.what; }

const int64_t SEC = 1000000000;
const long TICKS = static_cast<long>(sysconf(_SC_CLK_TCK));
// The boot tick at which the fake clocks begin the first reading (12345.67 s).
const long OPEN_TICK = 12345 * TICKS + 67 * TICKS / 100;

class ProcessClock : public testing::TestWithParam<ClockCase> {};

TEST_P(ProcessClock, GivesEachProcessItsOwnShareOrNone) {
    const ClockCase& c = GetParam();
    ProcTree tree("normal");
    FakeClocks clocks;
    if (!c.clock.empty()) clocks.cpu_ns[1] = c.clock;
    clocks.between = [&] {
        if (c.between) c.between(tree);
    };
    auto s = tree.sample(clocks);
    ASSERT_EQ(s->ok, 1);
    auto rows = rows_by_pid(*s);
    ASSERT_EQ(rows.count(1), c.has_row ? 1u : 0u);
    if (!c.has_row) return;
    EXPECT_NEAR(rows[1]->cpu, c.cpu, 1e-9);
    EXPECT_STREQ(rows[1]->name, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProcessClock,
    testing::Values(
        // The stat file's ticks do not move: the figure comes from the clock alone.
        ClockCase{"clock_half_a_cpu", {SEC, SEC + SEC / 2}, nullptr, true, 50.0, "init"},
        ClockCase{"clock_beyond_all_cores", {0, 5 * SEC}, nullptr, true, 200.0, "init"},
        ClockCase{"clock_went_back", {2 * SEC, SEC}, nullptr, true, 0.0, "init"},
        ClockCase{"clock_still", {7 * SEC, 7 * SEC}, nullptr, true, 0.0, "init"},
        ClockCase{"clock_refused_ticks_instead",
                  {},
                  [](const ProcTree& tree) { tree.write("1/stat", proc_stat_line(1, "init", 'S', 300 + TICKS / 2, 200, 2500)); },
                  true, 50.0, "init"},
        ClockCase{"clock_unreadable_at_first_ticks_instead",
                  {FakeClocks::GONE},
                  [](const ProcTree& tree) { tree.write("1/stat", proc_stat_line(1, "init", 'S', 300 + TICKS / 4, 200, 2500)); },
                  true, 25.0, "init"},
        ClockCase{"ended_between_readings", {SEC, FakeClocks::GONE}, [](const ProcTree& tree) { tree.remove("1"); }, false, 0,
                  ""},
        ClockCase{"clock_ended_stat_left_behind", {SEC, FakeClocks::GONE}, nullptr, false, 0, ""},
        ClockCase{"refused_at_second_reading", {SEC, FakeClocks::REFUSED}, nullptr, true, 0.0, "init"},
        ClockCase{"pid_reused_in_window",
                  {SEC, 2 * SEC},
                  [](const ProcTree& tree) { tree.write("1/stat", proc_stat_line(1, "reborn", 'R', 0, 0, 10, OPEN_TICK + 3)); },
                  true, 0.0, "reborn"},
        ClockCase{"pid_reused_in_the_opening_tick",
                  {SEC, 2 * SEC},
                  [](const ProcTree& tree) { tree.write("1/stat", proc_stat_line(1, "reborn", 'R', 0, 0, 10, OPEN_TICK)); },
                  true, 0.0, "reborn"},
        ClockCase{"ended_and_pid_reused",
                  {SEC, FakeClocks::GONE},
                  [](const ProcTree& tree) { tree.write("1/stat", proc_stat_line(1, "reborn", 'R', 0, 0, 10, OPEN_TICK + 3)); },
                  true, 0.0, "reborn"},
        ClockCase{"pid_reused_ticks",
                  {},
                  [](const ProcTree& tree) {
                      tree.write("1/stat", proc_stat_line(1, "reborn", 'R', 100 * TICKS, 0, 10, OPEN_TICK + 3));
                  },
                  true, 0.0, "reborn"},
        ClockCase{"started_just_before_the_first_reading",
                  {SEC, SEC + SEC / 4},
                  [](const ProcTree& tree) { tree.write("1/stat", proc_stat_line(1, "init", 'S', 300, 200, 2500, OPEN_TICK - 1)); },
                  true, 25.0, "init"}),
    [](const testing::TestParamInfo<ClockCase>& p) { return case_name(p.index, p.param.what); });

TEST(LinuxSampler, NothingButTheWaitInsideTheWindow) {
    ProcTree tree("normal");
    FakeClocks clocks;
    clocks.cpu_ns = {{1, {SEC, 2 * SEC}}, {42, {SEC, 2 * SEC}}, {1234, {0, 0}}};
    clocks.between = [&] {
        // What is read once is read after the window: these changes show in the sample.
        tree.write("sys/kernel/hostname", "later-name\n");
        tree.write("meminfo", "MemTotal: 1000 kB\nMemAvailable: 250 kB\n");
        tree.write("42/stat", proc_stat_line(42, "renamed", 'D', 1000, 10, 7));
    };
    auto s = tree.sample(clocks);
    ASSERT_EQ(s->ok, 1);
    // Every clock is read once on each side of the wait (directory order in the temporary tree
    // is not numeric, so each side is compared as a set).
    const auto wait_at = std::find(clocks.events.begin(), clocks.events.end(), "wait");
    ASSERT_NE(wait_at, clocks.events.end());
    const std::multiset<std::string> each = {"read 1", "read 42", "read 1234"};
    EXPECT_EQ(std::multiset<std::string>(clocks.events.begin(), wait_at), each);
    EXPECT_EQ(std::multiset<std::string>(wait_at + 1, clocks.events.end()), each);
    EXPECT_STREQ(s->host, "later-name");
    EXPECT_EQ(s->mem_total_kb, 1000);
    auto rows = rows_by_pid(*s);
    EXPECT_STREQ(rows[42]->name, "renamed");
    EXPECT_EQ(rows[42]->state, 'D');
    EXPECT_NEAR(rows[42]->cpu, 100.0, 1e-9);
}

TEST(ProcessWalk, OneStatFileEachWithTicksAndStartTime) {
    ProcTree tree("normal");
    tree.write("1234/stat", proc_stat_line(1234, "kthreadd", 'I', 7, 8, 0, 987654));
    std::map<int, process_stat> seen;
    walk_process_stats(
        tree.fd(),
        [](void* ctx, const process_stat& p) {
            (*static_cast<std::map<int, process_stat>*>(ctx))[p.row.pid] = p;
            return true;
        },
        &seen);
    ASSERT_EQ(seen.size(), 3u) << "the file 99 and the directory self are no processes";
    EXPECT_STREQ(seen[1].row.name, "init");
    EXPECT_EQ(seen[1].row.state, 'S');
    EXPECT_EQ(seen[1].row.rss_kb, static_cast<int>(2500 * KIB_PER_PAGE));
    EXPECT_EQ(seen[1].row.cpu, 0.0);
    EXPECT_EQ(seen[1].cpu_ticks, 500u);
    EXPECT_EQ(seen[1].start_ticks, 5000u);
    EXPECT_EQ(seen[1234].cpu_ticks, 15u);
    EXPECT_EQ(seen[1234].start_ticks, 987654u);
    process_stat one;
    EXPECT_TRUE(read_process_stat(tree.fd(), 42, &one));
    EXPECT_STREQ(one.row.name, "worker");
    EXPECT_FALSE(read_process_stat(tree.fd(), 43, &one));
}

TEST(ProcessClock, CumulativeCpuFromTheClockOrTheTicks) {
    uint64_t before = 0, after = 0;
    ASSERT_TRUE(read_process_cpu_ns(static_cast<int32_t>(getpid()), &before));
    timespec spin_start, now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &spin_start);
    do {
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    } while ((now.tv_sec - spin_start.tv_sec) * 1000000000L + (now.tv_nsec - spin_start.tv_nsec) < 20000000L);
    ASSERT_TRUE(read_process_cpu_ns(static_cast<int32_t>(getpid()), &after));
    EXPECT_GE(after - before, 20000000u);

    // No process has these pids; 0 and 2^30 would otherwise name this process's own clock.
    for (int32_t pid : {0, -1, 4194305, 1 << 30}) {
        process_stat gone = {};
        gone.row.pid = pid;
        gone.cpu_ticks = 3 * TICKS;
        uint64_t ns;
        EXPECT_FALSE(read_process_cpu_ns(pid, &ns)) << pid;
        EXPECT_DOUBLE_EQ(process_cpu_seconds(gone), 3.0) << pid << ": the stat file's ticks instead";
    }
}

TEST(LinuxSampler, BusyShareOfHugeCountsStaysAt100) {
    // 7461359022477182840 * 100.0 / 7461359022477182840 computes as 100.00000000000001.
    ProcTree tree("normal");
    tree.write("stat", "cpu  0 0 0 0\ncpu0 0 0 0 0\ncpu1 0 0 0 0\n");
    auto s = tree.sample([&] {
        tree.write("stat",
                   "cpu  7461359022477182840 0 0 0\ncpu0 6040488667600830418 0 0 0\n"
                   "cpu1 7514131567344444512 0 0 0\n");
    });
    ASSERT_EQ(s->ok, 1);
    EXPECT_EQ(s->cpu_pct, 100.0);
    ASSERT_EQ(s->ncores, 2);
    EXPECT_EQ(s->cores[0].pct, 100.0);
    EXPECT_EQ(s->cores[1].pct, 100.0);
}

TEST(LinuxSampler, MissingAndMalformedFilesLeaveFieldsEmpty) {
    ProcTree tree("broken");
    auto s = tree.sample();
    EXPECT_EQ(s->ok, 1);
    EXPECT_STREQ(s->host, "");
    EXPECT_STREQ(s->cpu_model, "");
    EXPECT_EQ(s->uptime_sec, 0);
    EXPECT_EQ(s->load_available, 0);
    EXPECT_EQ(s->load1 + s->load5 + s->load15, 0);
    EXPECT_EQ(s->mem_total_kb, 2048);
    EXPECT_EQ(s->mem_free_kb, 0) << "MemAvailable without a value is absent; MemFree is garbage";
    EXPECT_EQ(s->mem_used_kb, 2048);
    EXPECT_EQ(s->mem_cached_kb, 0);

    auto rows = rows_by_pid(*s);
    EXPECT_EQ(rows.count(10), 0u) << "no stat file";
    EXPECT_EQ(rows.count(11), 0u) << "empty stat file";
    ASSERT_EQ(rows.count(12), 1u);
    EXPECT_STREQ(rows[12]->name, "");
    EXPECT_EQ(rows[12]->state, 0);
    EXPECT_EQ(rows[12]->rss_kb, 0);
    ASSERT_EQ(rows.count(13), 1u);
    EXPECT_STREQ(rows[13]->name, "short");
    EXPECT_EQ(rows[13]->state, 'Z');
    EXPECT_EQ(rows[13]->rss_kb, 0);
    ASSERT_EQ(rows.count(14), 1u);
    EXPECT_EQ(rows[14]->rss_kb, 0);
    ASSERT_EQ(rows.count(15), 1u);
    EXPECT_EQ(rows[15]->rss_kb, 0) << "negative figures read as 0";
    EXPECT_EQ(rows[15]->cpu, 0);
}

TEST(LinuxSampler, CommandNamesKeepSpacesParenthesesAndRawBytes) {
    ProcTree tree("odd_names");
    auto s = tree.sample();
    EXPECT_STREQ(s->host, "odd\xE9-node");
    auto rows = rows_by_pid(*s);
    ASSERT_EQ(s->proc_count, 8);
    EXPECT_STREQ(rows[100]->name, "tmux: server");
    EXPECT_STREQ(rows[101]->name, "a) (b) S 1");
    EXPECT_EQ(rows[101]->state, 'S');
    EXPECT_STREQ(rows[102]->name, "line\nfeed");
    EXPECT_STREQ(rows[103]->name, "bad\xFF\xFE" "bytes");
    EXPECT_STREQ(rows[104]->name, "quote\"back\\slash");
    EXPECT_EQ(rows[105]->state, 0) << "a state byte that is no letter";
    EXPECT_EQ(std::string(rows[106]->name), std::string(62, 'x')) << "cut before a split character";
    EXPECT_STREQ(rows[107]->name, "");
}

TEST(LinuxSampler, OlderKernelFiles) {
    ProcTree tree("old_kernel");
    auto s = tree.sample([&] { tree.write("stat", "cpu  20 0 20 140\ncpu0 20 0 20 140"); });  // no final LF
    EXPECT_EQ(s->ok, 1);
    EXPECT_DOUBLE_EQ(s->cpu_pct, 25.0);
    EXPECT_EQ(s->ncores, 1);
    EXPECT_EQ(s->mem_total_kb, 1000000);
    EXPECT_EQ(s->mem_free_kb, 100000 + 50000 + 250000) << "MemFree + Buffers + Cached";
    EXPECT_EQ(s->mem_used_kb, 600000);
    EXPECT_EQ(s->mem_cached_kb, 250000);
    EXPECT_EQ(s->swap_total_kb, 0);
    EXPECT_EQ(s->swap_used_kb, 0);
    EXPECT_STREQ(s->cpu_model, "ARMv7 Processor rev 10 (v7l)");
    EXPECT_DOUBLE_EQ(s->uptime_sec, 3.5);
    EXPECT_EQ(s->proc_count, 0);
}

TEST(LinuxSampler, AtMost256CoreRows) {
    ProcTree tree("many_cpus");
    auto s = tree.sample();
    EXPECT_EQ(s->ok, 1);
    ASSERT_EQ(s->ncores, MAX_CORES);
    for (int i = 0; i < MAX_CORES; i++) ASSERT_EQ(s->cores[i].core, i);
}

TEST(LinuxSampler, AtMost4096Processes) {
    ProcTree tree("normal");
    tree.remove("1");
    tree.remove("42");
    tree.remove("1234");
    tree.remove("99");
    for (int pid = 1; pid <= MAX_PROCS + 200; pid++) {
        tree.write(std::to_string(pid) + "/stat", proc_stat_line(pid, "p" + std::to_string(pid), 'S', pid, 0, pid));
    }
    const long t = static_cast<long>(TICKS_PER_SEC);
    auto s = tree.sample([&] {
        tree.write("4000/stat", proc_stat_line(4000, "p4000", 'R', 4000 + t / 4, 0, 4000));
    });
    ASSERT_EQ(s->proc_count, MAX_PROCS);
    std::set<int> pids;
    for (int i = 0; i < s->proc_count; i++) {
        const proc_row& r = s->processes[i];
        pids.insert(r.pid);
        ASSERT_EQ(std::string(r.name), "p" + std::to_string(r.pid));
        ASSERT_EQ(r.cpu, r.pid == 4000 ? 25.0 : 0.0) << r.pid;
    }
    EXPECT_EQ(pids.size(), static_cast<size_t>(MAX_PROCS));
}

struct FailCase {
    const char* what;
    void (*damage)(const ProcTree&);
    bool second_reading;  // damage between the readings instead of before
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.what; }


class LinuxSampleFails : public testing::TestWithParam<FailCase> {};

TEST_P(LinuxSampleFails, OnlyWithoutCpuCountersOrMemoryTotal) {
    ProcTree tree("normal");
    const FailCase& c = GetParam();
    if (!c.second_reading) c.damage(tree);
    auto s = tree.sample([&] {
        if (c.second_reading) c.damage(tree);
    });
    EXPECT_EQ(s->ok, 0);
    EXPECT_STREQ(s->platform, "linux");
}

INSTANTIATE_TEST_SUITE_P(
    Table, LinuxSampleFails,
    testing::Values(FailCase{"no_stat", [](const ProcTree& tree) { tree.remove("stat"); }, false},
                    FailCase{"no_total_line", [](const ProcTree& tree) { tree.write("stat", "cpu0 1 2 3 4\n"); }, false},
                    FailCase{"short_total_line", [](const ProcTree& tree) { tree.write("stat", "cpu  1 2 3\n"); }, false},
                    FailCase{"stat_gone_later", [](const ProcTree& tree) { tree.remove("stat"); }, true},
                    FailCase{"no_meminfo", [](const ProcTree& tree) { tree.remove("meminfo"); }, false},
                    FailCase{"zero_total", [](const ProcTree& tree) { tree.write("meminfo", "MemTotal: 0 kB\n"); }, false},
                    FailCase{"no_total", [](const ProcTree& tree) { tree.write("meminfo", "MemFree: 5 kB\n"); }, false}),
    [](const testing::TestParamInfo<FailCase>& p) { return case_name(p.index, p.param.what); });

TEST(LinuxSampler, RealProcWaitsTheWindowAndSucceeds) {
    std::unique_ptr<sys_snapshot> snap(new sys_snapshot);
    timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    sample_system(snap.get());
    clock_gettime(CLOCK_MONOTONIC, &b);
    const double ms = (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6;
    EXPECT_GE(ms, CPU_SAMPLE_MS);
    EXPECT_EQ(snap->ok, 1);
    EXPECT_GT(snap->ncores, 0);
    EXPECT_GT(snap->proc_count, 0);
    const int self = static_cast<int>(getpid());
    bool found = false;
    for (int i = 0; i < snap->proc_count; i++) found = found || snap->processes[i].pid == self;
    EXPECT_TRUE(found) << "this test's own process";
}

}  // namespace
