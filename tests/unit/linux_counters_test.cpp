// The Linux raw counters against small proc trees.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "case_name.h"
#include "proc_tree.h"
#include "sampling/linux/linux_counters.h"

namespace {

const double TICKS_PER_SEC = static_cast<double>(sysconf(_SC_CLK_TCK));
const double PAGE_BYTES = static_cast<double>(sysconf(_SC_PAGESIZE));

// Every process's CPU-time clock refused unless `clocks` scripts it: the stat file's ticks then.
std::unique_ptr<node_counters> read(const ProcTree& tree, bool with_processes, FakeClocks clocks = FakeClocks()) {
    std::unique_ptr<node_counters> c(new node_counters);
    memset(c.get(), 0x5A, sizeof *c);
    read_counters_linux(c.get(), tree.fd(), with_processes, clocks.ops());
    EXPECT_EQ(std::count(clocks.events.begin(), clocks.events.end(), "wait"), 0) << "no window";
    return c;
}

TEST(LinuxCounters, EveryFigureOfAPlainTree) {
    ProcTree tree("normal");
    auto c = read(tree, false);
    EXPECT_STREQ(c->platform, "linux");
    EXPECT_STREQ(c->host, "fixture-node");
    EXPECT_STREQ(c->cpu_model, "Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz");
    ASSERT_EQ(c->ncpus, 2) << "per-CPU rows; the total line is their sum";
    EXPECT_EQ(c->cpus[1].cpu, 1);
    EXPECT_EQ(c->cpus[1].modes, 0xFFu) << "user to steal";
    EXPECT_DOUBLE_EQ(c->cpus[1].seconds[MODE_USER], 50 / TICKS_PER_SEC);
    EXPECT_DOUBLE_EQ(c->cpus[1].seconds[MODE_IDLE], 400 / TICKS_PER_SEC);
    EXPECT_EQ(c->mem_total_bytes, 16384000.0 * 1024);
    EXPECT_EQ(c->mem_available_bytes, 4096000.0 * 1024);
    EXPECT_EQ(c->mem_cached_bytes, (3000000.0 + 500000.0) * 1024);
    EXPECT_EQ(c->swap_total_bytes, 2097152.0 * 1024);
    EXPECT_EQ(c->swap_free_bytes, 1048576.0 * 1024);
    EXPECT_EQ(c->boot_time_seconds, 1700000000.0);
    EXPECT_DOUBLE_EQ(c->load15, 10.0);
    EXPECT_EQ(c->have, HAVE_MEM_TOTAL | HAVE_MEM_AVAILABLE | HAVE_MEM_CACHED | HAVE_SWAP_TOTAL | HAVE_SWAP_FREE |
                           HAVE_BOOT_TIME | HAVE_LOAD | HAVE_PROC_COUNT);
    EXPECT_EQ(c->procs_in_state['S'], 1);
    EXPECT_EQ(c->procs_in_state['R'], 1);
    EXPECT_EQ(c->procs_in_state['I'], 1);
    EXPECT_EQ(c->procs_in_state[0], 0);
    EXPECT_EQ(c->proc_rows, 0) << "rows only when asked for";
}

TEST(LinuxCounters, ProcessRowsWithCumulativeSecondsAndBytes) {
    ProcTree tree("normal");
    FakeClocks clocks;
    clocks.cpu_ns[1] = {2500000001};  // nanoseconds from the process's CPU-time clock
    clocks.cpu_ns[1234] = {FakeClocks::GONE};
    auto c = read(tree, true, clocks);
    ASSERT_EQ(c->proc_rows, 3);
    std::map<int, const counter_proc_row*> rows;
    for (int i = 0; i < c->proc_rows; i++) rows[c->processes[i].pid] = &c->processes[i];
    ASSERT_EQ(rows.count(42), 1u);
    EXPECT_STREQ(rows[42]->name, "worker");
    EXPECT_EQ(rows[42]->measured, PROC_CPU | PROC_RESIDENT);
    EXPECT_DOUBLE_EQ(rows[42]->cpu_seconds, 1010 / TICKS_PER_SEC) << "clock refused: the stat file's ticks";
    EXPECT_EQ(rows[42]->resident_bytes, 100000 * PAGE_BYTES);
    EXPECT_DOUBLE_EQ(rows[1]->cpu_seconds, 2.500000001) << "the clock, to the nanosecond";
    EXPECT_EQ(rows[1234]->cpu_seconds, 0) << "ended before its clock was read: its ticks, none";
}

// Trees that lack or garble files: each missing figure loses exactly its own bit.
struct TreeCase {
    const char* what;
    const char* fixture;
    std::function<void(const ProcTree&)> change;
    uint32_t have;
    int ncpus;
    uint32_t modes;  // of the first CPU row
    std::map<int, int> states;
};

void PrintTo(const TreeCase& c, std::ostream* os) { *os << c.what; }

class LinuxCounterTrees : public testing::TestWithParam<TreeCase> {};

TEST_P(LinuxCounterTrees, LeaveOutOnlyWhatIsMissing) {
    const TreeCase& t = GetParam();
    ProcTree tree(t.fixture);
    if (t.change) t.change(tree);
    auto c = read(tree, true);
    EXPECT_EQ(c->have, t.have);
    ASSERT_EQ(c->ncpus, t.ncpus);
    if (t.ncpus > 0) {
        EXPECT_EQ(c->cpus[0].modes, t.modes);
    }
    std::map<int, int> states;
    for (int i = 0; i < PROC_STATE_SLOTS; i++) {
        if (c->procs_in_state[i]) states[i] = c->procs_in_state[i];
    }
    EXPECT_EQ(states, t.states);
}

const uint32_t ALL = HAVE_MEM_TOTAL | HAVE_MEM_AVAILABLE | HAVE_MEM_CACHED | HAVE_SWAP_TOTAL | HAVE_SWAP_FREE |
                     HAVE_BOOT_TIME | HAVE_LOAD | HAVE_PROC_COUNT;
const uint32_t MEMORY = HAVE_MEM_TOTAL | HAVE_MEM_AVAILABLE | HAVE_MEM_CACHED | HAVE_SWAP_TOTAL | HAVE_SWAP_FREE;
const std::map<int, int> NORMAL_STATES = {{'S', 1}, {'R', 1}, {'I', 1}};

INSTANTIATE_TEST_SUITE_P(
    Table, LinuxCounterTrees,
    testing::Values(
        TreeCase{"no stat", "normal", [](const ProcTree& tree) { tree.remove("stat"); }, ALL & ~HAVE_BOOT_TIME, 0, 0,
                 NORMAL_STATES},
        TreeCase{"only the total line", "normal",
                 [](const ProcTree& tree) { tree.write("stat", "cpu  1 2 3 4 5\nbtime 5\n"); }, ALL, 1, 0x1Fu,
                 NORMAL_STATES},
        TreeCase{"no meminfo", "normal", [](const ProcTree& tree) { tree.remove("meminfo"); }, ALL & ~MEMORY, 2, 0xFFu,
                 NORMAL_STATES},
        TreeCase{"no loadavg", "normal", [](const ProcTree& tree) { tree.remove("loadavg"); }, ALL & ~HAVE_LOAD, 2, 0xFFu,
                 NORMAL_STATES},
        TreeCase{"no processes", "normal",
                 [](const ProcTree& tree) {
                     for (const char* pid : {"1", "42", "1234"}) tree.remove(pid);
                 },
                 ALL & ~HAVE_PROC_COUNT, 2, 0xFFu, {}},
        // Four counters per line, no boot time, no MemAvailable and no SReclaimable: cached is the page cache.
        TreeCase{"old kernel", "old_kernel", nullptr,
                 HAVE_MEM_TOTAL | HAVE_MEM_CACHED | HAVE_SWAP_TOTAL | HAVE_SWAP_FREE | HAVE_LOAD, 1, 0x0Fu, {}},
        // Garbled meminfo keeps only MemTotal; an unparsable stat is counted without a state.
        TreeCase{"broken", "broken", nullptr, HAVE_MEM_TOTAL | HAVE_BOOT_TIME | HAVE_PROC_COUNT, 2, 0xFFu,
                 {{0, 1}, {'Z', 1}, {'S', 2}}}),
    [](const testing::TestParamInfo<TreeCase>& i) { return case_name(i.index, i.param.what); });

TEST(LinuxCounters, OddNamesAreKeptForTheWriterToEscape) {
    ProcTree tree("odd_names");
    auto c = read(tree, true);
    std::map<int, std::string> names;
    for (int i = 0; i < c->proc_rows; i++) names[c->processes[i].pid] = c->processes[i].name;
    EXPECT_EQ(names[101], "a) (b) S 1");
    EXPECT_EQ(names[102], "line\nfeed");
    EXPECT_EQ(names[104], "quote\"back\\slash");
    EXPECT_EQ(names[107], "");
}

}  // namespace
