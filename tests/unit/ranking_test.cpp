#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <sstream>
#include <vector>

#include "case_name.h"
#include "sampling/ranking.h"

namespace {

proc_row row(int pid, double cpu, int rss) {
    proc_row r;
    memset(&r, 0, sizeof r);
    r.pid = pid;
    r.cpu = cpu;
    r.rss_kb = rss;
    r.state = 'R';
    return r;
}

struct CmpCase {
    double cpu_a;
    int rss_a;
    double cpu_b;
    int rss_b;
    int by_cpu;  // proc_cmp_cpu(a, b)
    int by_mem;  // proc_cmp_mem(a, b)
};

void PrintTo(const CmpCase& c, std::ostream* os) { *os << c.cpu_a << "/" << c.rss_a << " vs " << c.cpu_b << "/" << c.rss_b; }

std::string cmp_case_name(const testing::TestParamInfo<CmpCase>& p) {
    std::ostringstream text;
    PrintTo(p.param, &text);
    return case_name(p.index, text.str());
}


class Compare : public testing::TestWithParam<CmpCase> {};

TEST_P(Compare, ReturnsExactlyMinusOneZeroOrOne) {
    const CmpCase& c = GetParam();
    const proc_row a = row(1, c.cpu_a, c.rss_a), b = row(2, c.cpu_b, c.rss_b);
    EXPECT_EQ(proc_cmp_cpu(&a, &b), c.by_cpu);
    EXPECT_EQ(proc_cmp_mem(&a, &b), c.by_mem);
    EXPECT_EQ(proc_cmp_cpu(&b, &a), -c.by_cpu);
    EXPECT_EQ(proc_cmp_mem(&b, &a), -c.by_mem);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Compare,
    testing::Values(CmpCase{50.0, 10, 10.0, 1000, -1, 1},   // keys disagree: each ordering follows its own
                    CmpCase{10.0, 500, 10.0, 100, -1, -1},  // equal cpu: larger rss first
                    CmpCase{1.0, 100, 2.0, 100, 1, 1},      // equal rss: higher cpu first
                    CmpCase{0.0, 0, 0.0, 0, 0, 0},          // full tie
                    CmpCase{0.0, -5, 0.0, 5, 1, 1},         // rss compared as signed
                    CmpCase{0.0, 2147483647, 0.0, -2147483647 - 1, -1, -1},  // no overflow from subtraction
                    CmpCase{1e-9, 0, 0.0, 0, -1, -1}),
    cmp_case_name);

struct Table {
    std::unique_ptr<sys_snapshot> snap{new sys_snapshot()};
    explicit Table(const std::vector<proc_row>& rows) {
        memset(snap.get(), 0, sizeof *snap);
        for (const proc_row& r : rows) snap->processes[snap->proc_count++] = r;
    }
    std::vector<int> pids(int n) const {
        std::vector<int> v;
        for (int i = 0; i < n; i++) v.push_back(snap->processes[i].pid);
        return v;
    }
};

TEST(Rank, OrdersByCpuThenMemory) {
    Table t({row(1, 0.0, 10), row(2, 5.0, 1), row(3, 5.0, 9), row(4, 0.0, 99)});
    EXPECT_EQ(rank_processes(t.snap.get(), false, 25), 4);
    EXPECT_EQ(t.pids(4), (std::vector<int>{3, 2, 4, 1}));
}

TEST(Rank, OrdersByMemoryThenCpu) {
    Table t({row(1, 0.0, 10), row(2, 5.0, 1), row(3, 7.0, 10), row(4, 0.0, 99)});
    EXPECT_EQ(rank_processes(t.snap.get(), true, 25), 4);
    EXPECT_EQ(t.pids(4), (std::vector<int>{4, 3, 1, 2}));
}

TEST(Rank, ShownIsTheSmallerOfCountAndTop) {
    Table none({});
    EXPECT_EQ(rank_processes(none.snap.get(), false, 25), 0);

    std::vector<proc_row> many;
    for (int i = 0; i < MAX_PROCS; i++) many.push_back(row(i + 1, 0.0, (i * 7919) % 5000));
    Table full(many);
    EXPECT_EQ(rank_processes(full.snap.get(), true, 25), 25);
    EXPECT_EQ(full.snap->proc_count, MAX_PROCS);
    for (int i = 1; i < MAX_PROCS; i++) {
        ASSERT_GE(full.snap->processes[i - 1].rss_kb, full.snap->processes[i].rss_kb) << i;
    }
    EXPECT_EQ(rank_processes(full.snap.get(), false, MAX_PROCS), MAX_PROCS);

    Table ten(std::vector<proc_row>(10, row(1, 0.0, 0)));
    EXPECT_EQ(rank_processes(ten.snap.get(), false, 25), 10);
    EXPECT_EQ(rank_processes(ten.snap.get(), false, 5), 5);
}

TEST(Rank, ReordersOnlyTheValidRows) {
    Table t({row(1, 0.0, 1), row(2, 0.0, 2)});
    t.snap->processes[2] = row(77, 99.0, 999);  // beyond proc_count: never read
    rank_processes(t.snap.get(), false, 25);
    EXPECT_EQ(t.pids(3), (std::vector<int>{2, 1, 77}));
}

}  // namespace
