// The Windows sampler logic driven by a scripted fake of its platform operations.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <array>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "case_name.h"
#include "sampling/windows/win_sampler.h"

namespace {

struct FakeProcess {
    uint32_t pid;
    std::u16string name;
    bool openable;
    bool queryable;
    uint64_t working_set;
};

struct Fake {
    // Script.
    bool name_ok = true;
    std::u16string name = u"NODE-7";
    std::vector<std::array<uint64_t, 3>> times;  // idle, kernel, user per reading
    size_t times_failing_from = 99;              // readings at and after this index fail
    bool memory_ok = true;
    win_memory_status memory{16ull << 30, 6ull << 30, 24ull << 30, 20ull << 30};
    uint64_t ticks = 2500;
    bool snapshot_ok = true;
    std::vector<FakeProcess> processes;
    // Observed.
    std::vector<std::string> calls;
    std::vector<uint32_t> sleeps;
    std::set<uintptr_t> open_handles;
    uintptr_t next_handle = 0x100;
    int bad_closes = 0;
    int opens = 0;
    size_t cursor = 0;
    size_t times_calls = 0;

    void* new_handle() {
        open_handles.insert(next_handle);
        return reinterpret_cast<void*>(next_handle++);
    }
    bool fill(win_process_entry* entry) {
        if (cursor >= processes.size()) return false;
        const FakeProcess& p = processes[cursor++];
        memset(entry->exe_file, 0xAB, sizeof entry->exe_file);  // garbage after the terminator
        entry->pid = p.pid;
        size_t n = 0;
        for (; n < p.name.size() && n < 259; n++) entry->exe_file[n] = p.name[n];
        entry->exe_file[n] = 0;
        return true;
    }
};

// Rows carry their own label in `what`.
template <typename Row>
std::string labelled(const testing::TestParamInfo<Row>& p) {
    return case_name(p.index, p.param.what);
}

Fake* fake_of(void* ctx) { return static_cast<Fake*>(ctx); }

win_ops ops_for(Fake* f) {
    win_ops ops;
    ops.ctx = f;
    ops.get_computer_name = [](void* ctx, uint16_t* buf, uint32_t capacity) -> int {
        Fake* k = fake_of(ctx);
        k->calls.push_back("name");
        if (!k->name_ok) return 0;
        EXPECT_EQ(capacity, 256u);
        for (uint32_t i = 0; i < capacity; i++) buf[i] = 0xABCD;  // garbage after the terminator
        size_t n = 0;
        for (; n < k->name.size() && n < capacity - 1; n++) buf[n] = k->name[n];
        buf[n] = 0;
        return 1;
    };
    ops.get_system_times = [](void* ctx, uint64_t* idle, uint64_t* kernel, uint64_t* user) -> int {
        Fake* k = fake_of(ctx);
        k->calls.push_back("times");
        const size_t i = k->times_calls++;
        if (i >= k->times_failing_from || i >= k->times.size()) return 0;
        *idle = k->times[i][0];
        *kernel = k->times[i][1];
        *user = k->times[i][2];
        return 1;
    };
    ops.sleep_ms = [](void* ctx, uint32_t ms) {
        fake_of(ctx)->calls.push_back("sleep");
        fake_of(ctx)->sleeps.push_back(ms);
    };
    ops.global_memory_status = [](void* ctx, win_memory_status* status) -> int {
        Fake* k = fake_of(ctx);
        k->calls.push_back("memory");
        if (!k->memory_ok) return 0;
        *status = k->memory;
        return 1;
    };
    ops.tick_count64 = [](void* ctx) -> uint64_t {
        fake_of(ctx)->calls.push_back("ticks");
        return fake_of(ctx)->ticks;
    };
    ops.create_process_snapshot = [](void* ctx) -> void* {
        Fake* k = fake_of(ctx);
        k->calls.push_back("snapshot");
        return k->snapshot_ok ? k->new_handle() : nullptr;
    };
    ops.process_first = [](void* ctx, void*, win_process_entry* e) -> int {
        fake_of(ctx)->cursor = 0;
        return fake_of(ctx)->fill(e);
    };
    ops.process_next = [](void* ctx, void*, win_process_entry* e) -> int { return fake_of(ctx)->fill(e); };
    ops.open_process = [](void* ctx, uint32_t access, uint32_t pid) -> void* {
        Fake* k = fake_of(ctx);
        EXPECT_EQ(access, 0x1010u);
        k->opens++;
        for (const FakeProcess& p : k->processes) {
            if (p.pid == pid) return p.openable ? k->new_handle() : nullptr;
        }
        return nullptr;
    };
    ops.working_set_size = [](void* ctx, void* process, uint64_t* bytes) -> int {
        Fake* k = fake_of(ctx);
        EXPECT_TRUE(k->open_handles.count(reinterpret_cast<uintptr_t>(process)));
        // Handles are given out in walk order after the snapshot's; find the process by its cursor.
        const FakeProcess& p = k->processes[k->cursor - 1];
        if (!p.queryable) return 0;
        *bytes = p.working_set;
        return 1;
    };
    ops.close_handle = [](void* ctx, void* handle) {
        Fake* k = fake_of(ctx);
        if (!k->open_handles.erase(reinterpret_cast<uintptr_t>(handle))) k->bad_closes++;
    };
    return ops;
}

std::unique_ptr<sys_snapshot> sample(Fake& f) {
    std::unique_ptr<sys_snapshot> snap(new sys_snapshot);
    memset(snap.get(), 0x5A, sizeof *snap);  // whatever it held before is discarded
    const win_ops ops = ops_for(&f);
    sample_windows(snap.get(), &ops);
    return snap;
}

Fake normal() {
    Fake f;
    // idle 600, kernel 1000, user 1000 over the window: busy 1400 of 2000 = 70 %.
    f.times = {{{1000, 3000, 1000}}, {{1600, 4000, 2000}}};
    f.processes = {{0, u"[System Process]", false, false, 0},
                   {4, u"System", true, false, 0},
                   {100, u"notepad.exe", true, true, (10ull << 20) + 1023},
                   {200, u"caf\u00e9.exe", true, true, 4096}};
    return f;
}

TEST(WinSampler, FillsEveryMeasuredField) {
    Fake f = normal();
    auto s = sample(f);
    EXPECT_EQ(s->ok, 1);
    EXPECT_STREQ(s->platform, PLATFORM_NAME);
    EXPECT_STREQ(s->host, "NODE-7");
    EXPECT_DOUBLE_EQ(s->cpu_pct, 70.0);
    EXPECT_EQ(f.sleeps, std::vector<uint32_t>{CPU_SAMPLE_MS});
    EXPECT_EQ(f.calls, (std::vector<std::string>{"name", "times", "sleep", "times", "memory", "ticks", "snapshot"}));
    EXPECT_EQ(s->mem_total_kb, 16.0 * 1024 * 1024);
    EXPECT_EQ(s->mem_free_kb, 6.0 * 1024 * 1024);
    EXPECT_EQ(s->mem_used_kb, 10.0 * 1024 * 1024);
    EXPECT_EQ(s->swap_total_kb, 24.0 * 1024 * 1024);
    EXPECT_EQ(s->swap_used_kb, 4.0 * 1024 * 1024);
    EXPECT_DOUBLE_EQ(s->uptime_sec, 2.5);
    // Figures this platform does not measure stay zero.
    EXPECT_EQ(s->ncores, 0);
    EXPECT_STREQ(s->cpu_model, "");
    EXPECT_EQ(s->mem_cached_kb, 0);
    EXPECT_EQ(s->load_available, 0);
    EXPECT_EQ(s->load1 + s->load5 + s->load15, 0);
    EXPECT_EQ(s->cores[0].core, 0);

    ASSERT_EQ(s->proc_count, 4);
    const int pids[] = {0, 4, 100, 200};
    const int rss[] = {0, 0, 10240, 4};
    const char* names[] = {"[System Process]", "System", "notepad.exe", "caf\xC3\xA9.exe"};
    for (int i = 0; i < 4; i++) {
        const proc_row& r = s->processes[i];
        EXPECT_EQ(r.pid, pids[i]);
        EXPECT_EQ(r.rss_kb, rss[i]) << "row " << i;
        EXPECT_STREQ(r.name, names[i]);
        EXPECT_EQ(r.cpu, 0.0);
        EXPECT_EQ(r.state, 'R');
    }
    EXPECT_TRUE(f.open_handles.empty());
    EXPECT_EQ(f.bad_closes, 0);
}

struct CpuCase {
    const char* what;
    std::array<uint64_t, 3> first, second;
    double pct;
};

void PrintTo(const CpuCase& c, std::ostream* os) { *os << c.what; }


class WinCpu : public testing::TestWithParam<CpuCase> {};

TEST_P(WinCpu, ShareOfTheWindowClampedAndNeverDividingByZero) {
    Fake f = normal();
    f.times = {GetParam().first, GetParam().second};
    auto s = sample(f);
    EXPECT_EQ(s->ok, 1);
    EXPECT_DOUBLE_EQ(s->cpu_pct, GetParam().pct);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WinCpu,
    testing::Values(CpuCase{"all idle", {{0, 0, 0}}, {{1000, 1000, 0}}, 0.0},
                    CpuCase{"all busy", {{0, 0, 0}}, {{0, 500, 500}}, 100.0},
                    CpuCase{"equal totals", {{5, 10, 10}}, {{9, 10, 10}}, 0.0},
                    CpuCase{"counters went back", {{500, 1000, 1000}}, {{0, 0, 0}}, 0.0},
                    CpuCase{"idle grew more than kernel: below zero", {{0, 0, 0}}, {{900, 100, 0}}, 0.0},
                    CpuCase{"idle went back: above 100", {{900, 1000, 0}}, {{0, 1100, 100}}, 100.0},
                    CpuCase{"a quarter", {{0, 0, 0}}, {{750, 1000, 0}}, 25.0}),
    labelled<CpuCase>);

struct MemCase {
    const char* what;
    win_memory_status status;
    double total, free, used, swap_total, swap_used;
    int ok;
};

void PrintTo(const MemCase& c, std::ostream* os) { *os << c.what; }


class WinMemory : public testing::TestWithParam<MemCase> {};

TEST_P(WinMemory, WholeKibAndUsedRules) {
    const MemCase& c = GetParam();
    Fake f = normal();
    f.memory = c.status;
    auto s = sample(f);
    EXPECT_EQ(s->mem_total_kb, c.total);
    EXPECT_EQ(s->mem_free_kb, c.free);
    EXPECT_EQ(s->mem_used_kb, c.used);
    EXPECT_EQ(s->mem_cached_kb, 0);
    EXPECT_EQ(s->swap_total_kb, c.swap_total);
    EXPECT_EQ(s->swap_used_kb, c.swap_used);
    EXPECT_EQ(s->ok, c.ok);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WinMemory,
    testing::Values(
        MemCase{"remainder dropped", {1073741823, 1023, 1073741823, 1024}, 1048575, 0, 1048575, 1048575, 1048574, 1},
        MemCase{"avail above total", {4096, 8192, 0, 0}, 4, 8, 0, 0, 0, 1},
        MemCase{"page file not used", {4096, 0, 8192, 8192}, 4, 0, 4, 8, 0, 1},
        MemCase{"page file avail above total", {4096, 0, 8192, 9216}, 4, 0, 4, 8, 0, 1},
        MemCase{"no page file", {4096, 1024, 0, 0}, 4, 1, 3, 0, 0, 1},
        MemCase{"below one KiB is no total", {1023, 0, 0, 0}, 0, 0, 0, 0, 0, 0},
        MemCase{"huge", {1ull << 62, 0, 1ull << 62, 0}, 4503599627370496.0, 0, 4503599627370496.0,
                4503599627370496.0, 4503599627370496.0, 1}),
    labelled<MemCase>);

TEST(WinSampler, FailedMemoryStatusFailsTheSample) {
    Fake f = normal();
    f.memory_ok = false;
    auto s = sample(f);
    EXPECT_EQ(s->ok, 0);
    EXPECT_EQ(s->mem_total_kb + s->mem_free_kb + s->mem_used_kb + s->swap_total_kb + s->swap_used_kb, 0);
    EXPECT_TRUE(f.open_handles.empty());
}

TEST(WinSampler, FailedCpuReadingEndsTheSampleAtOnce) {
    for (size_t failing : {0u, 1u}) {
        Fake f = normal();
        f.times_failing_from = failing;
        auto s = sample(f);
        EXPECT_EQ(s->ok, 0) << failing;
        EXPECT_STREQ(s->platform, PLATFORM_NAME);
        EXPECT_STREQ(s->host, "NODE-7");
        EXPECT_EQ(s->cpu_pct, 0);
        EXPECT_EQ(s->mem_total_kb, 0) << "memory would have been readable";
        EXPECT_EQ(s->uptime_sec, 0);
        EXPECT_EQ(s->proc_count, 0);
        EXPECT_EQ(f.sleeps.size(), failing);  // no wait after a failed first reading
        for (const std::string& c : f.calls) EXPECT_TRUE(c == "name" || c == "times" || c == "sleep") << c;
    }
}

struct HostCase {
    const char* what;
    bool ok;
    std::u16string name;
    std::string host;
};

class WinHost : public ::testing::TestWithParam<HostCase> {};

// Whatever the name call gives, the sample goes on; the name arrives as UTF-8 within 127 bytes.
TEST_P(WinHost, NameBecomesUtf8AndNeverStopsTheSample) {
    Fake f = normal();
    f.name_ok = GetParam().ok;
    f.name = GetParam().name;
    auto s = sample(f);
    EXPECT_EQ(s->ok, 1);
    EXPECT_EQ(std::string(s->host), GetParam().host);
}

std::string repeat(const std::string& text, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; i++) out += text;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Names, WinHost,
    ::testing::Values(HostCase{"ascii", true, u"NODE-7", "NODE-7"},
                      HostCase{"failed_call", false, u"NODE-7", ""},
                      HostCase{"latin_capital_e_acute", true, u"\u00c9COLE-01", "\xc3\x89" "COLE-01"},
                      HostCase{"cjk", true, u"\u670d\u52a1\u5668", "\xe6\x9c\x8d\xe5\x8a\xa1\xe5\x99\xa8"},
                      HostCase{"lone_surrogate", true, u"A\xd800" u"B", "A\xef\xbf\xbd" "B"},
                      HostCase{"long_ascii_cut_to_127", true, std::u16string(200, u'h'), std::string(127, 'h')},
                      // 63 two-byte characters fill 126 bytes; the 64th would not fit whole.
                      HostCase{"long_two_byte_cut_at_boundary", true, std::u16string(100, u'\u00e9'),
                               repeat("\xc3\xa9", 63)}),
    labelled<HostCase>);

TEST(WinSampler, NoProcessListLeavesAValidSample) {
    Fake f = normal();
    f.snapshot_ok = false;
    auto s = sample(f);
    EXPECT_EQ(s->ok, 1);
    EXPECT_EQ(s->proc_count, 0);

    Fake g = normal();
    g.processes.clear();  // Process32FirstW fails
    auto t = sample(g);
    EXPECT_EQ(t->ok, 1);
    EXPECT_EQ(t->proc_count, 0);
    EXPECT_TRUE(g.open_handles.empty()) << "the snapshot must be closed";
    EXPECT_EQ(g.bad_closes, 0);
}

TEST(WinSampler, KeepsTheFirst4096Processes) {
    Fake f = normal();
    f.processes.clear();
    for (uint32_t i = 0; i < 5000; i++) f.processes.push_back({i * 4, u"svchost.exe", i % 3 != 0, true, 1ull << 20});
    auto s = sample(f);
    ASSERT_EQ(s->proc_count, MAX_PROCS);
    EXPECT_EQ(s->processes[MAX_PROCS - 1].pid, (MAX_PROCS - 1) * 4);
    EXPECT_EQ(s->processes[0].rss_kb, 0);     // unopenable
    EXPECT_EQ(s->processes[1].rss_kb, 1024);
    EXPECT_EQ(f.opens, MAX_PROCS);
    EXPECT_TRUE(f.open_handles.empty());
    EXPECT_EQ(f.bad_closes, 0);
}

TEST(WinSampler, HugeWorkingSetSaturatesInsteadOfWrapping) {
    Fake f = normal();
    f.processes = {{8, u"big.exe", true, true, 1ull << 45}};
    auto s = sample(f);
    EXPECT_EQ(s->processes[0].rss_kb, 2147483647);
}

struct NameCase {
    const char* what;
    std::u16string units;
    std::string utf8;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.what; }


class Utf16Name : public testing::TestWithParam<NameCase> {};

TEST_P(Utf16Name, BecomesUtf8CutAtACharacterBoundary) {
    const NameCase& c = GetParam();
    char out[64];
    memset(out, 'x', sizeof out);
    std::vector<uint16_t> units(c.units.begin(), c.units.end());
    units.push_back(0);
    const size_t n = utf16_to_utf8(units.data(), units.size(), out, sizeof out);
    EXPECT_EQ(std::string(out), c.utf8);
    EXPECT_EQ(n, c.utf8.size());
    EXPECT_LE(n, 63u);
}

const std::string FFFD = "\xEF\xBF\xBD";
const std::string ZHONG = "\xE4\xB8\xAD";  // U+4E2D

std::string times(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; i++) r += s;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf16Name,
    testing::Values(
        NameCase{"ascii", u"notepad.exe", "notepad.exe"},
        NameCase{"empty", u"", ""},
        NameCase{"latin", u"\u00e9", "\xC3\xA9"},
        NameCase{"cjk", u"\u4e2d.exe", ZHONG + ".exe"},
        NameCase{"u0100 keeps going", u"\u0100a", "\xC4\x80" "a"},
        NameCase{"surrogate pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        NameCase{"lone high at end", std::u16string(1, u'\xD83D'), FFFD},
        NameCase{"lone high then letter", std::u16string(u"\xD83D") + u"a", FFFD + "a"},
        NameCase{"lone low", std::u16string(u"\xDE00") + u"b", FFFD + "b"},
        NameCase{"two highs", std::u16string(u"\xD83D\xD83D\xDE00"), FFFD + "\xF0\x9F\x98\x80"},
        NameCase{"63 units kept", std::u16string(70, u'a'), std::string(63, 'a')},
        NameCase{"two-byte char that does not fit", std::u16string(62, u'a') + u"\u00e9", std::string(62, 'a')},
        NameCase{"two-byte char that just fits", std::u16string(61, u'a') + u"\u00e9", std::string(61, 'a') + "\xC3\xA9"},
        NameCase{"21 cjk fill 63 bytes", std::u16string(22, u'\u4e2d'), times(ZHONG, 21)},
        NameCase{"pair that does not fit", std::u16string(60, u'a') + u"\U0001F600", std::string(60, 'a')}),
    labelled<NameCase>);

TEST(Utf16NameLimit, StopsAtTheUnitLimitWithoutATerminator) {
    uint16_t units[4] = {'a', 'b', 'c', 'd'};
    char out[64];
    EXPECT_EQ(utf16_to_utf8(units, 3, out, sizeof out), 3u);
    EXPECT_STREQ(out, "abc");
    uint16_t pair_cut[2] = {'z', 0xD83D};  // the high half is the last readable unit
    EXPECT_EQ(utf16_to_utf8(pair_cut, 2, out, sizeof out), 4u);
    EXPECT_EQ(std::string(out), "z" + FFFD);
}

}  // namespace
