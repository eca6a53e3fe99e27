#!/usr/bin/env bash
# Builds everything and runs every test: the Linux suite, the same suite under AddressSanitizer
# and UndefinedBehaviorSanitizer, then each further stage in scripts/test.d in name order.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh

jobs=$(nproc)
build() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

echo "== Linux build and suite"
build build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build/linux --output-on-failure

echo "== The suite under AddressSanitizer and UndefinedBehaviorSanitizer"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DRAVLEN_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure

for stage in scripts/test.d/*.sh; do
  [ -e "$stage" ] || continue
  echo "== $(basename "$stage" .sh)"
  bash "$stage"
done
echo "== all tests passed"
