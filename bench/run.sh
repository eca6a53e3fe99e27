#!/usr/bin/env bash
# Builds the release program and the benchmark tools into build/bench, then measures the plugin
# against its peers and floors and writes bench/results.md. Extra arguments go to measure.py
# (for instance --rounds 21). Not part of the test suite: it prints figures, it checks nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DRAVLEN_BENCH=ON -DRAVLEN_TESTS=OFF >/dev/null
cmake --build build/bench -j2 >/dev/null

# BASELINE=<git revision> also builds that revision of the program into build/bench-baseline and
# measures it alongside, so that a change shows against what came before.
baseline=()
if [ -n "${BASELINE:-}" ]; then
  rm -rf build/bench-baseline && mkdir -p build/bench-baseline/src
  git archive "$BASELINE" | tar -x -C build/bench-baseline/src
  cmake -S build/bench-baseline/src -B build/bench-baseline/build -DCMAKE_BUILD_TYPE=Release -DRAVLEN_TESTS=OFF >/dev/null
  cmake --build build/bench-baseline/build -j2 --target plugin_ravlen >/dev/null
  baseline=(--baseline build/bench-baseline/build/plugin_ravlen
            --baseline-name "$(git rev-parse --short "$BASELINE") ($BASELINE)")
fi

exec python3 bench/measure.py --build build/bench --out bench/results.md "${baseline[@]}" "$@"
