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

first_of() {
  local candidate
  for candidate in "$@"; do
    if [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
    if command -v "$candidate" >/dev/null 2>&1; then command -v "$candidate"; return 0; fi
  done
  return 1
}
# Debian's wine64 package keeps its launchers out of PATH.
wine=$(first_of wine64 /usr/lib/wine/wine64 wine) || { echo "wine64 is not installed" >&2; exit 1; }
wineserver=$(first_of wineserver64 /usr/lib/wine/wineserver64 wineserver /usr/lib/wine/wineserver) ||
  { echo "wineserver is not installed" >&2; exit 1; }

export WINEPREFIX=$root/$dir/wineprefix
export WINEDEBUG=-all
export WINEARCH=win64
export WINESERVER=$wineserver
# No prompts to install the .NET and HTML engines while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

# A server left behind by an interrupted run of this stage holds the prefix; end it first.
"$wineserver" -k 2>/dev/null || true

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "-- making the Wine prefix $WINEPREFIX (once)"
  log=$root/$dir/wineboot.log
  if ! "$wine" wineboot --init >"$log" 2>&1 || ! "$wineserver" -w >>"$log" 2>&1; then
    cat "$log" >&2
    exit 1
  fi
fi

# The server puts itself in the background once it listens; -k ends it and, with it, every Wine
# process of this prefix (services.exe and the other system processes it started).
stop_server() {
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
}
trap stop_server EXIT
"$wineserver" -p
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

echo "-- the Prometheus text format from Wine's counters, checked by promtool"
python3 tests/e2e/exposition_checks.py --launcher "$wine" --binary "$exe" --platform windows || failed=1
exit $failed
