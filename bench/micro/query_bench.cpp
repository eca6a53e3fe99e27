#include <benchmark/benchmark.h>

#include "frontend/query.h"

// The dashboard's own metrics request, as it reaches the program.
static const char* const DASHBOARD_QUERY =
    "plugin=plugin_ravlen&node=web-01&action=metrics&sort=cpu&top=25&pwd=s3cr%21t+pass";

static void get_query_val_first_key(benchmark::State& state) {
    char out[32];
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_query_val(DASHBOARD_QUERY, "plugin", out, sizeof out));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(get_query_val_first_key);

static void get_query_val_last_key_decoded(benchmark::State& state) {
    char out[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_query_val(DASHBOARD_QUERY, "pwd", out, sizeof out));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(get_query_val_last_key_decoded);

static void get_query_val_missing_key(benchmark::State& state) {
    char out[16];
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_query_val(DASHBOARD_QUERY, "embed", out, sizeof out));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(get_query_val_missing_key);
