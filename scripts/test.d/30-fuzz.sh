#!/usr/bin/env bash
# Coverage-guided fuzzing with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer:
# each target runs for a bounded time on a working copy of its committed seed corpus. Any
# finding (crash, sanitizer report, failed check, leak, timeout) fails the stage; the input
# that caused it is left in build/fuzz/findings/. FUZZ_SECONDS sets the time per target.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${FUZZ_SECONDS:-30}
CXX=clang++ cmake -S fuzz -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j2 >/dev/null

rm -rf build/fuzz/findings && mkdir -p build/fuzz/findings
status=0
for target in get_query_val json_str label_value request linux_sample; do
  work=build/fuzz/corpus/$target
  rm -rf "$work" && mkdir -p "$work"
  cp fuzz/corpus/$target/* "$work"/
  log=build/fuzz/$target.log
  dict=()
  [ -f fuzz/$target.dict ] && dict=(-dict=fuzz/$target.dict)
  if build/fuzz/fuzz_$target "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix=build/fuzz/findings/$target- "$work" >"$log" 2>&1; then
    echo "$target: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs, no finding"
  else
    echo "$target: FINDING (log $log)"
    grep -E "ERROR|SUMMARY|Test unit written|^ *#[0-9]+ " "$log" | head -30
    status=1
  fi
done
exit $status
