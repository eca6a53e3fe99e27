// The functions under test write to standard output, so it goes to /dev/null here and the
// report goes to standard error (and to --benchmark_out when given).
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <iostream>

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!freopen("/dev/null", "w", stdout)) return 1;
    benchmark::ConsoleReporter report;
    report.SetOutputStream(&std::cerr);
    report.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&report);
    benchmark::Shutdown();
    return 0;
}
