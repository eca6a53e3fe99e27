#!/usr/bin/env bash
# The Windows build: cross-compiles plugin_ravlen.exe with mingw-w64, then runs the end-to-end
# cases and the metrics checks against it under Wine, in one prefix inside the build directory
# and with one wineserver kept alive for the whole stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
dir=build/windows

echo "-- cross build"
cmake --no-warn-unused-cli -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j"$(nproc)"
exe=$dir/plugin_ravlen.exe

. scripts/test.d/lib/wine.sh
wine_session "$root"
trap wine_stop EXIT
# The first program of a session starts Wine's system processes (services.exe and others), which
# stay for the session and inherit that program's standard streams: give them none of the pipes
# the cases read to their end.
"$wine" "$exe" --version >/dev/null 2>&1 </dev/null

# Every check runs; the stage fails when any of them did.
failed=0
echo "-- end-to-end cases under Wine"
python3 tests/e2e/cgi_cases.py --launcher "$wine" --binary "$exe" --platform windows || failed=1

echo "-- the page under Wine, byte for byte"
python3 tests/page/golden_test.py --launcher "$wine" --binary "$exe" --page-dir page || failed=1

echo "-- metrics from Wine's counters"
python3 tests/e2e/windows_metrics.py --launcher "$wine" --binary "$exe" || failed=1
exit $failed
