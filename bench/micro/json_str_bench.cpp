#include <benchmark/benchmark.h>

#include "cgi/response.h"

static void json_str_process_name(benchmark::State& state) {
    for (auto _ : state) json_str("systemd-journald");
}
BENCHMARK(json_str_process_name);

// Quotes, a control byte, well-formed UTF-8 and one ill-formed byte: every branch of the writer.
static void json_str_mixed(benchmark::State& state) {
    for (auto _ : state) json_str("say \"hi\"\t\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87 \xFF end");
}
BENCHMARK(json_str_mixed);
