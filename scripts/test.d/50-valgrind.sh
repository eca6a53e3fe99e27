#!/usr/bin/env bash
# The end-to-end table (flags, descriptor, info, unknown actions, the page embedded and not, the
# 401, metrics) once more, every run under valgrind memcheck: any memory error or definite or
# indirect leak makes that run exit 1, which fails its case. valgrind copes badly with static
# programs, so this stage builds a dynamically linked variant of its own.
set -euo pipefail
cd "$(dirname "$0")/../.."

dir=build/valgrind
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVLEN_STATIC=OFF -DRAVLEN_TESTS=OFF >/dev/null
cmake --build "$dir" -j2 --target plugin_ravlen >/dev/null

logs="$dir/memcheck"
rm -rf "$logs" && mkdir -p "$logs"
launcher="valgrind -q --tool=memcheck --error-exitcode=1 --leak-check=full"
launcher+=" --errors-for-leak-kinds=definite,indirect --log-file=$PWD/$logs/%p.log"

if ! python3 tests/e2e/cgi_cases.py --binary "$dir/plugin_ravlen" --launcher "$launcher"; then
  for f in "$logs"/*.log; do
    [ -s "$f" ] && { echo "--- $f"; cat "$f"; }
  done
  exit 1
fi
echo "memcheck clean"
