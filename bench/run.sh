#!/usr/bin/env bash
# Builds the release program and the benchmark tools into build/bench, then measures the plugin
# against its peers and floors and writes bench/results.md. Extra arguments go to measure.py
# (for instance --rounds 21). Not part of the test suite: it prints figures, it checks nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DRAVLEN_BENCH=ON -DRAVLEN_TESTS=OFF >/dev/null
cmake --build build/bench -j2 >/dev/null

exec python3 bench/measure.py --build build/bench --out bench/results.md "$@"
