// The Prometheus text exposition writer: label escaping, sample values, and which families a
// record of counters turns into.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <memory>
#include <string>

#include "api/exposition.h"
#include "capture.h"
#include "case_name.h"
#include "cgi/exposition_text.h"

namespace {

struct LabelCase {
    const char* what;
    std::string input;
    std::string written;
};

void PrintTo(const LabelCase& c, std::ostream* os) { *os << c.what; }

class LabelValue : public testing::TestWithParam<LabelCase> {};

TEST_P(LabelValue, EscapesWhatTheFormatRequiresAndStaysValidUtf8) {
    EXPECT_EQ(captured_stdout([&] { label_value_str(GetParam().input.c_str()); }), GetParam().written);
}

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

INSTANTIATE_TEST_SUITE_P(
    Table, LabelValue,
    testing::Values(LabelCase{"empty", "", "\"\""},
                    LabelCase{"plain", "nginx: worker", "\"nginx: worker\""},
                    LabelCase{"double quote", "say \"hi\"", "\"say \\\"hi\\\"\""},
                    LabelCase{"backslash", "C:\\bin\\", "\"C:\\\\bin\\\\\""},
                    LabelCase{"line feed", "a\nb", "\"a\\nb\""},
                    LabelCase{"escape then quote", "\\\"", "\"\\\\\\\"\""},
                    LabelCase{"tab and CR stay raw", "a\tb\rc", "\"a\tb\rc\""},
                    LabelCase{"utf8 kept", "caf\xC3\xA9 \xE4\xB8\xAD", "\"caf\xC3\xA9 \xE4\xB8\xAD\""},
                    LabelCase{"lone FF", "a\xFFz", "\"a" + R + "z\""},
                    LabelCase{"latin1 byte", "caf\xE9", "\"caf" + R + "\""},
                    LabelCase{"truncated 3 byte", "\xE4\xB8", "\"" + R + "\""},
                    LabelCase{"encoded surrogate", "\xED\xA0\x80", "\"" + R + R + R + "\""},
                    LabelCase{"overlong quote is no quote", "\xC0\xA2", "\"" + R + R + "\""}),
    [](const testing::TestParamInfo<LabelCase>& i) { return case_name(i.index, i.param.what); });

struct ValueCase {
    const char* what;
    double value;
    const char* written;
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.what; }

class SampleValue : public testing::TestWithParam<ValueCase> {};

TEST_P(SampleValue, ShortestTextTheParserReadsBack) {
    EXPECT_EQ(captured_stdout([&] { sample_value(GetParam().value); }), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SampleValue,
    testing::Values(ValueCase{"zero", 0, "0"}, ValueCase{"ticks as seconds", 21720 / 100.0, "217.2"},
                    ValueCase{"bytes", 17179869184.0, "17179869184"}, ValueCase{"boot time", 1700000000, "1700000000"},
                    ValueCase{"hundredth", 0.01, "0.01"}, ValueCase{"beyond 15 digits", 1e16, "1e+16"},
                    ValueCase{"not a number", NAN, "NaN"}, ValueCase{"infinite", INFINITY, "+Inf"},
                    ValueCase{"minus infinite", -INFINITY, "-Inf"}),
    [](const testing::TestParamInfo<ValueCase>& i) { return case_name(i.index, i.param.what); });

std::unique_ptr<node_counters> blank(const char* platform) {
    std::unique_ptr<node_counters> c(new node_counters);
    memset(c.get(), 0, sizeof *c);
    strcpy(c->platform, platform);
    return c;
}

// Every figure a Linux node reports, two CPUs with an older kernel's four modes on the second.
std::unique_ptr<node_counters> linux_like() {
    auto c = blank("linux");
    strcpy(c->host, "web-1");
    strcpy(c->cpu_model, "Model \"X\" \\ 2");
    c->ncpus = 2;
    c->cpus[0] = {0, 0xFFu, {1, 2, 3, 4, 5, 6, 7, 8, 0}};
    c->cpus[1] = {1, 0x0Fu, {10.5, 0, 0.25, 400, 0, 0, 0, 0, 0}};
    c->have = HAVE_MEM_TOTAL | HAVE_MEM_AVAILABLE | HAVE_MEM_CACHED | HAVE_SWAP_TOTAL | HAVE_SWAP_FREE |
              HAVE_BOOT_TIME | HAVE_LOAD | HAVE_PROC_COUNT;
    c->mem_total_bytes = 16777216000;
    c->mem_available_bytes = 4194304000;
    c->mem_cached_bytes = 3584000000;
    c->swap_total_bytes = 0;
    c->swap_free_bytes = 0;
    c->boot_time_seconds = 1700000000;
    c->load1 = 0.52;
    c->load5 = 1.25;
    c->load15 = 10;
    c->procs_in_state['S'] = 120;
    c->procs_in_state['R'] = 2;
    c->procs_in_state['I'] = 40;
    return c;
}

std::string exposition(const node_counters* c, int shown = 0) {
    return captured_stdout([&] { write_exposition(c, shown); });
}

TEST(Exposition, LinuxLikeRecordByteForByte) {
    auto c = linux_like();
    EXPECT_EQ(exposition(c.get()),
              "# HELP ravlen_info Identity of the node: plugin version, platform, host name and CPU model.\n"
              "# TYPE ravlen_info gauge\n"
              "ravlen_info{version=\"1.0.1\",platform=\"linux\",host=\"web-1\",cpu_model=\"Model \\\"X\\\" \\\\ 2\"} 1\n"
              "# HELP ravlen_cpu_seconds_total Seconds the CPUs spent in each mode since boot; a row without cpu "
              "covers the whole machine.\n"
              "# TYPE ravlen_cpu_seconds_total counter\n"
              "ravlen_cpu_seconds_total{cpu=\"0\",mode=\"user\"} 1\n"
              "ravlen_cpu_seconds_total{cpu=\"0\",mode=\"nice\"} 2\n"
              "ravlen_cpu_seconds_total{cpu=\"0\",mode=\"system\"} 3\n"
              "ravlen_cpu_seconds_total{cpu=\"0\",mode=\"idle\"} 4\n"
              "ravlen_cpu_seconds_total{cpu=\"0\",mode=\"iowait\"} 5\n"
              "ravlen_cpu_seconds_total{cpu=\"0\",mode=\"irq\"} 6\n"
              "ravlen_cpu_seconds_total{cpu=\"0\",mode=\"softirq\"} 7\n"
              "ravlen_cpu_seconds_total{cpu=\"0\",mode=\"steal\"} 8\n"
              "ravlen_cpu_seconds_total{cpu=\"1\",mode=\"user\"} 10.5\n"
              "ravlen_cpu_seconds_total{cpu=\"1\",mode=\"nice\"} 0\n"
              "ravlen_cpu_seconds_total{cpu=\"1\",mode=\"system\"} 0.25\n"
              "ravlen_cpu_seconds_total{cpu=\"1\",mode=\"idle\"} 400\n"
              "# HELP ravlen_memory_total_bytes Physical memory, total.\n"
              "# TYPE ravlen_memory_total_bytes gauge\n"
              "ravlen_memory_total_bytes 16777216000\n"
              "# HELP ravlen_memory_available_bytes Physical memory available to new work without swapping.\n"
              "# TYPE ravlen_memory_available_bytes gauge\n"
              "ravlen_memory_available_bytes 4194304000\n"
              "# HELP ravlen_memory_cached_bytes Memory used as cache: page cache and reclaimable kernel slabs.\n"
              "# TYPE ravlen_memory_cached_bytes gauge\n"
              "ravlen_memory_cached_bytes 3584000000\n"
              "# HELP ravlen_swap_total_bytes Swap space (the page file on Windows), total.\n"
              "# TYPE ravlen_swap_total_bytes gauge\n"
              "ravlen_swap_total_bytes 0\n"
              "# HELP ravlen_swap_free_bytes Swap space (the page file on Windows), free.\n"
              "# TYPE ravlen_swap_free_bytes gauge\n"
              "ravlen_swap_free_bytes 0\n"
              "# HELP ravlen_boot_time_seconds When the machine started, in seconds since 1970 UTC.\n"
              "# TYPE ravlen_boot_time_seconds gauge\n"
              "ravlen_boot_time_seconds 1700000000\n"
              "# HELP ravlen_load1 Load average over 1 minute.\n"
              "# TYPE ravlen_load1 gauge\n"
              "ravlen_load1 0.52\n"
              "# HELP ravlen_load5 Load average over 5 minutes.\n"
              "# TYPE ravlen_load5 gauge\n"
              "ravlen_load5 1.25\n"
              "# HELP ravlen_load15 Load average over 15 minutes.\n"
              "# TYPE ravlen_load15 gauge\n"
              "ravlen_load15 10\n"
              "# HELP ravlen_processes Processes on the node, by scheduling state where the platform reports one.\n"
              "# TYPE ravlen_processes gauge\n"
              "ravlen_processes{state=\"I\"} 40\n"
              "ravlen_processes{state=\"R\"} 2\n"
              "ravlen_processes{state=\"S\"} 120\n");
}

TEST(Exposition, WindowsLikeRecordLeavesOutWhatItDoesNotMeasure) {
    auto c = blank("windows");
    c->ncpus = 1;
    c->cpus[0] = {CPU_WHOLE_MACHINE, (1u << MODE_IDLE) | (1u << MODE_KERNEL) | (1u << MODE_USER),
                  {7, 0, 0, 5, 0, 0, 0, 0, 2}};
    c->have = HAVE_MEM_TOTAL | HAVE_PROC_COUNT;
    c->mem_total_bytes = 1024;
    c->procs_in_state[0] = 9;
    const std::string out = exposition(c.get());
    EXPECT_NE(out.find("ravlen_info{version=\"1.0.1\",platform=\"windows\"} 1\n"), std::string::npos)
        << "unknown host and model are no labels";
    EXPECT_NE(out.find("ravlen_cpu_seconds_total{mode=\"user\"} 7\n"
                       "ravlen_cpu_seconds_total{mode=\"idle\"} 5\n"
                       "ravlen_cpu_seconds_total{mode=\"kernel\"} 2\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("# TYPE ravlen_processes gauge\nravlen_processes 9\n"), std::string::npos) << out;
    for (const char* absent : {"cpu=", "ravlen_memory_available", "ravlen_memory_cached", "ravlen_swap", "ravlen_load",
                               "ravlen_boot_time", "state=", "ravlen_process_"}) {
        EXPECT_EQ(out.find(absent), std::string::npos) << absent;
    }
}

// Clearing one figure's bit takes its whole family out (HELP and TYPE too) and nothing else.
struct AbsentCase {
    const char* what;
    uint32_t bit;
    const char* family;
};

void PrintTo(const AbsentCase& c, std::ostream* os) { *os << c.what; }

class AbsentFigure : public testing::TestWithParam<AbsentCase> {};

TEST_P(AbsentFigure, LeavesOutItsFamilyWhole) {
    auto c = linux_like();
    const std::string full = exposition(c.get());
    c->have &= ~GetParam().bit;
    const std::string out = exposition(c.get());
    const std::string family = GetParam().family;
    EXPECT_NE(full.find("# TYPE " + family + " "), std::string::npos);
    EXPECT_EQ(out.find(family + " "), std::string::npos) << out;
    EXPECT_EQ(out.find(family + "{"), std::string::npos) << out;
    EXPECT_EQ(out.find("# HELP " + family + " "), std::string::npos);
    EXPECT_LT(out.size(), full.size());
    EXPECT_NE(out.find("# TYPE ravlen_cpu_seconds_total counter"), std::string::npos) << "other families stay";
}

INSTANTIATE_TEST_SUITE_P(
    Table, AbsentFigure,
    testing::Values(AbsentCase{"mem total", HAVE_MEM_TOTAL, "ravlen_memory_total_bytes"},
                    AbsentCase{"mem available", HAVE_MEM_AVAILABLE, "ravlen_memory_available_bytes"},
                    AbsentCase{"cached", HAVE_MEM_CACHED, "ravlen_memory_cached_bytes"},
                    AbsentCase{"swap total", HAVE_SWAP_TOTAL, "ravlen_swap_total_bytes"},
                    AbsentCase{"swap free", HAVE_SWAP_FREE, "ravlen_swap_free_bytes"},
                    AbsentCase{"boot time", HAVE_BOOT_TIME, "ravlen_boot_time_seconds"},
                    AbsentCase{"load1", HAVE_LOAD, "ravlen_load1"}, AbsentCase{"load15", HAVE_LOAD, "ravlen_load15"},
                    AbsentCase{"process count", HAVE_PROC_COUNT, "ravlen_processes"}),
    [](const testing::TestParamInfo<AbsentCase>& i) { return case_name(i.index, i.param.what); });

TEST(Exposition, NoCpuRowsNoCpuFamily) {
    auto c = linux_like();
    c->ncpus = 0;
    EXPECT_EQ(exposition(c.get()).find("ravlen_cpu_seconds_total"), std::string::npos);
}

void add_row(node_counters* c, int pid, const char* name, uint32_t measured, double cpu, double resident) {
    counter_proc_row* r = &c->processes[c->proc_rows++];
    r->pid = pid;
    r->measured = measured;
    strcpy(r->name, name);
    r->cpu_seconds = cpu;
    r->resident_bytes = resident;
}

TEST(Exposition, ProcessSeriesEscapedAndOnlyWhereMeasured) {
    auto c = linux_like();
    add_row(c.get(), 7, "we\"ird\\na\nme\xFF", PROC_CPU | PROC_RESIDENT, 12.5, 4096);
    add_row(c.get(), 8, "no-cpu", PROC_RESIDENT, 0, 8192);
    add_row(c.get(), 9, "not shown", PROC_CPU | PROC_RESIDENT, 1, 1);
    const std::string out = exposition(c.get(), 2);
    const std::string label = "{pid=\"7\",name=\"we\\\"ird\\\\na\\nme" + R + "\"}";
    EXPECT_NE(out.find("# TYPE ravlen_process_cpu_seconds_total counter\n"
                       "ravlen_process_cpu_seconds_total" + label + " 12.5\n"
                       "# HELP ravlen_process_resident_memory_bytes"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("# TYPE ravlen_process_resident_memory_bytes gauge\n"
                       "ravlen_process_resident_memory_bytes" + label + " 4096\n"
                       "ravlen_process_resident_memory_bytes{pid=\"8\",name=\"no-cpu\"} 8192\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("no-cpu\"} 0"), std::string::npos) << "a figure not read is never written as 0";
    EXPECT_EQ(out.find("not shown"), std::string::npos);

    auto d = linux_like();
    add_row(d.get(), 4, "System", 0, 0, 0);
    const std::string none = exposition(d.get(), 1);
    EXPECT_EQ(none.find("ravlen_process_"), std::string::npos) << "no row measured: no family";
}

TEST(RankCounterProcesses, LargestFirstByEitherKeyAndCutToTop) {
    auto c = blank("linux");
    add_row(c.get(), 1, "a", PROC_CPU | PROC_RESIDENT, 5, 100);
    add_row(c.get(), 2, "b", PROC_CPU | PROC_RESIDENT, 50, 10);
    add_row(c.get(), 3, "c", PROC_CPU | PROC_RESIDENT, 5, 300);
    add_row(c.get(), 4, "d", PROC_CPU | PROC_RESIDENT, 0, 1000);
    ASSERT_EQ(rank_counter_processes(c.get(), false, 3), 3);
    EXPECT_EQ(c->processes[0].pid, 2);
    EXPECT_EQ(c->processes[1].pid, 3) << "equal seconds: larger resident first";
    EXPECT_EQ(c->processes[2].pid, 1);
    ASSERT_EQ(rank_counter_processes(c.get(), true, 25), 4);
    EXPECT_EQ(c->processes[0].pid, 4);
    EXPECT_EQ(c->processes[3].pid, 2);
    EXPECT_EQ(rank_counter_processes(c.get(), true, 0), 0);
}

}  // namespace
