# Sourced by the stages that run the Windows program. wine_session ROOT finds Wine, makes the
# prefix ROOT/build/windows/wineprefix once, and starts one wineserver for the rest of the stage;
# the caller ends it with wine_stop (on EXIT). Afterwards $wine runs a program.

first_of() {
  local candidate
  for candidate in "$@"; do
    if [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
    if command -v "$candidate" >/dev/null 2>&1; then command -v "$candidate"; return 0; fi
  done
  return 1
}

wine_session() {
  local dir=$1/build/windows
  # Debian's wine64 package keeps its launchers out of PATH.
  wine=$(first_of wine64 /usr/lib/wine/wine64 wine) || { echo "wine64 is not installed" >&2; return 1; }
  wineserver=$(first_of wineserver64 /usr/lib/wine/wineserver64 wineserver /usr/lib/wine/wineserver) ||
    { echo "wineserver is not installed" >&2; return 1; }

  export WINEPREFIX=$dir/wineprefix
  export WINEDEBUG=-all
  export WINEARCH=win64
  export WINESERVER=$wineserver
  # No prompts to install the .NET and HTML engines while the prefix is made.
  export WINEDLLOVERRIDES="mscoree,mshtml="

  # A server left behind by an interrupted run holds the prefix; end it first.
  "$wineserver" -k 2>/dev/null || true

  mkdir -p "$dir"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "-- making the Wine prefix $WINEPREFIX (once)"
    local log=$dir/wineboot.log
    if ! "$wine" wineboot --init >"$log" 2>&1 || ! "$wineserver" -w >>"$log" 2>&1; then
      cat "$log" >&2
      return 1
    fi
  fi

  # The server puts itself in the background once it listens; -k ends it and, with it, every Wine
  # process of this prefix (services.exe and the other system processes it started).
  "$wineserver" -p
}

wine_stop() {
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
}
