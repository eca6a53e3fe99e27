#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "api/metrics.h"
#include "capture.h"
#include "sampling/ranking.h"

namespace {

const char* STAMP = "2024-05-06T07:08:09Z";
const std::string FAILED =
    "{\"ok\":false,\"error\":\"sample_failed\",\"message\":\"could not read local system counters on this node\"}\n";

std::unique_ptr<sys_snapshot> blank() {
    std::unique_ptr<sys_snapshot> s(new sys_snapshot);
    memset(s.get(), 0, sizeof *s);
    strcpy(s->platform, "windows");
    return s;
}

void add(sys_snapshot* s, int pid, const char* name, double cpu, int rss, char state) {
    proc_row* r = &s->processes[s->proc_count++];
    r->pid = pid;
    strcpy(r->name, name);
    r->cpu = cpu;
    r->rss_kb = rss;
    r->state = state;
}

std::string document(const sys_snapshot* s, int shown, bool by_mem) {
    return captured_stdout([&] { write_metrics_document(s, STAMP, shown, by_mem); });
}

TEST(MetricsDocument, FailedSampleWritesOnlyTheFailureLine) {
    auto s = blank();
    for (int i = 0; i < 300; i++) add(s.get(), i, "p", 1.0, 1, 'R');
    s->mem_total_kb = 1024;
    const std::string out = document(s.get(), 25, false);
    EXPECT_EQ(out, FAILED);
    EXPECT_EQ(out.size(), 99u);
}

TEST(MetricsDocument, WindowsLikeSampleByteForByte) {
    auto s = blank();
    s->ok = 1;
    strcpy(s->host, "NODE-7");
    s->cpu_pct = 12.345;
    s->mem_total_kb = 16777216;
    s->mem_free_kb = 8388608;
    s->mem_used_kb = 8388608;
    s->uptime_sec = 2.5;  // rounds to even
    add(s.get(), 4, "System", 0.0, 0, 'R');
    add(s.get(), 100, "caf\xC3\xA9.exe", 0.0, 2048, 'R');
    const int shown = rank_processes(s.get(), false, 25);
    EXPECT_EQ(document(s.get(), shown, false),
              "{\"ok\":true,\"action\":\"metrics\",\"plugin\":\"plugin_ravlen\",\"version\":\"1.0.1\","
              "\"platform\":\"windows\",\"host\":\"NODE-7\",\"cpu_model\":\"\",\"utc\":\"2024-05-06T07:08:09Z\","
              "\"cpu_pct\":12.3,\"ncores\":0,\"cores\":[],"
              "\"mem\":{\"total_kb\":16777216,\"used_kb\":8388608,\"free_kb\":8388608,\"cached_kb\":0,\"pct\":50.0},"
              "\"swap\":{\"total_kb\":0,\"used_kb\":0,\"pct\":0.0},"
              "\"uptime_sec\":2,\"load\":{\"available\":false,\"load1\":0.00,\"load5\":0.00,\"load15\":0.00},"
              "\"proc_count\":2,\"top\":2,\"sort\":\"cpu\",\"processes\":["
              "{\"pid\":100,\"name\":\"caf\xC3\xA9.exe\",\"cpu\":0.0,\"rss_kb\":2048,\"state\":\"R\"},"
              "{\"pid\":4,\"name\":\"System\",\"cpu\":0.0,\"rss_kb\":0,\"state\":\"R\"}]}\n");
}

TEST(MetricsDocument, LinuxFiguresCoresLoadsAndShownRows) {
    auto s = blank();
    s->ok = 1;
    strcpy(s->platform, "linux");
    strcpy(s->cpu_model, "Model \"X\"");
    s->ncores = 2;
    s->cores[0] = {0, 99.95};
    s->cores[1] = {3, 0.04};
    s->mem_total_kb = 1000;
    s->mem_used_kb = 2000;  // above the total: 100.0
    s->swap_total_kb = 400;
    s->swap_used_kb = 100;
    s->load_available = 1;
    s->load1 = 0.125;
    s->load5 = 1.5;
    s->load15 = 12.345;
    for (int i = 0; i < 120; i++) add(s.get(), i + 1, "w", i % 7, 1000 - i, i % 2 ? 'S' : 0);
    const int shown = rank_processes(s.get(), true, 5);
    const std::string out = document(s.get(), shown, true);
    EXPECT_NE(out.find("\"cpu_model\":\"Model \\\"X\\\"\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"cpu_pct\":0.0,\"ncores\":2,\"cores\":[{\"core\":0,\"pct\":100.0},{\"core\":3,\"pct\":0.0}]"),
              std::string::npos);
    EXPECT_NE(out.find("\"cached_kb\":0,\"pct\":100.0}"), std::string::npos);
    EXPECT_NE(out.find("\"swap\":{\"total_kb\":400,\"used_kb\":100,\"pct\":25.0}"), std::string::npos);
    EXPECT_NE(out.find("\"load\":{\"available\":true,\"load1\":0.12,\"load5\":1.50,\"load15\":12.35}"),
              std::string::npos) << out;
    EXPECT_NE(out.find("\"proc_count\":120,\"top\":5,\"sort\":\"mem\",\"processes\":[{\"pid\":1,\"name\":\"w\","
                       "\"cpu\":0.0,\"rss_kb\":1000,\"state\":\"?\"},{\"pid\":2,"),
              std::string::npos) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1);
    EXPECT_EQ(out.substr(out.size() - 3), "]}\n");
}

TEST(MetricsDocument, NoProcessesAndAbsentSwap) {
    auto s = blank();
    s->ok = 1;
    s->mem_total_kb = 10;
    const int shown = rank_processes(s.get(), false, 25);
    const std::string out = document(s.get(), shown, false);
    EXPECT_NE(out.find("\"proc_count\":0,\"top\":0,\"sort\":\"cpu\",\"processes\":[]}\n"), std::string::npos);
    EXPECT_NE(out.find("\"mem\":{\"total_kb\":10,\"used_kb\":0,\"free_kb\":0,\"cached_kb\":0,\"pct\":0.0}"),
              std::string::npos);
}

TEST(MetricsDocument, StateBytesThatWouldBreakTheStringShowAsQuestionMark) {
    auto s = blank();
    s->ok = 1;
    s->mem_total_kb = 10;
    const char states[] = {'"', '\\', '\n', static_cast<char>(0xE9), 'D'};
    for (char st : states) add(s.get(), 1, "p", 0, 0, st);
    const std::string out = document(s.get(), s->proc_count, false);
    size_t n = 0;
    for (size_t at = out.find("\"state\":\"?\""); at != std::string::npos; at = out.find("\"state\":\"?\"", at + 1)) n++;
    EXPECT_EQ(n, 4u) << out;
    EXPECT_NE(out.find("\"state\":\"D\""), std::string::npos);
}

}  // namespace
