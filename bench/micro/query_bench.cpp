#include <benchmark/benchmark.h>

#include <stddef.h>

#include "cgi/query.h"

// The dashboard's own metrics request, as it reaches the program.
static const char* const DASHBOARD_QUERY =
    "plugin=plugin_ravlen&node=web-01&action=metrics&sort=cpu&top=25&pwd=s3cr%21t+pass";

// One lookup of `key` into an output of `capacity` bytes (at most 256), as the program asks.
static void get_query_val_lookup(benchmark::State& state, const char* key, size_t capacity) {
    char out[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_query_val(DASHBOARD_QUERY, key, out, capacity));
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(get_query_val_lookup, first_key, "plugin", 32);
BENCHMARK_CAPTURE(get_query_val_lookup, last_key_decoded, "pwd", 256);
BENCHMARK_CAPTURE(get_query_val_lookup, missing_key, "embed", 16);
