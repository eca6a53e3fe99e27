#!/usr/bin/env bash
# The release files (scripts/release.sh) of the committed tree, HEAD:
#  - two builds from clean clones in different folders, at different times, with another umask,
#    time zone and locale, give byte-identical packages, programs and checksums;
#  - lintian reports no error and no warning on the Debian package;
#  - the package installs into a throwaway root with dpkg, has the fields, files and documents an
#    operator expects, is served by Debian's lighttpd with its stock CGI configuration (in a private
#    mount namespace, where the throwaway root's /usr/lib/cgi-bin stands in for the machine's), and
#    purges without a trace; the machine's own /usr/lib/cgi-bin and package database are untouched;
#  - the zip unpacks and its program answers under Wine.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
work=$root/build/release-test
commit=$(git rev-parse HEAD)
rm -rf "$work"
mkdir -p "$work"
failed=0

clone() {
  git clone -q --no-checkout "$root" "$1"
  git -C "$1" checkout -q "$commit"
}
# Runs scripts/release.sh in a clone; the output goes to a log shown only on failure.
release_in() {
  local dir=$1; shift
  if ! (cd "$dir" && env -u SOURCE_DATE_EPOCH "$@" scripts/release.sh) >"$dir.log" 2>&1; then
    cat "$dir.log" >&2
    return 1
  fi
}

echo "-- two release builds of $commit from clean clones"
one=$work/one/ravlen
two=$work/two/a/longer/path/checkout
clone "$one"
clone "$two"
start=$(date +%s)
release_in "$one"
echo "   first build: $(($(date +%s) - start)) s"
(umask 0002 && release_in "$two" TZ=Asia/Kathmandu LC_ALL=C.UTF-8)

echo "-- the two builds are byte for byte the same"
out=$one/build/release
deb=$(cd "$out" && ls ravlen_*_amd64.deb)
zip=$(cd "$out" && ls ravlen-*-windows-x86_64.zip)
for f in "build/release/$deb" "build/release/$zip" build/release/SHA256SUMS \
         build/release-work/linux/plugin_ravlen build/release-work/windows/plugin_ravlen.exe; do
  if cmp -s "$one/$f" "$two/$f"; then
    echo "ok   $f ($(stat -c %s "$one/$f") bytes)"
  else
    echo "FAIL $f differs: $(cmp "$one/$f" "$two/$f" 2>&1 | head -1)"
    failed=1
  fi
done
(cd "$out" && sha256sum --quiet -c SHA256SUMS) && echo "ok   SHA256SUMS" || { echo "FAIL SHA256SUMS"; failed=1; }

echo "-- lintian"
status=0
report=$(lintian --fail-on error,warning --display-level '>=warning' "$out/$deb" 2>&1) || status=$?
# lintian notes that it runs as root; it only reads the package.
printf '%s\n' "$report" | grep -v 'running with root privileges' | sed '/^$/d' || true
if [ "$status" -eq 0 ]; then echo "ok   no error, no warning"; else echo "FAIL lintian"; failed=1; fi

echo "-- install into a throwaway root"
troot=$work/root
mkdir -p "$troot/var/lib/dpkg/info" "$troot/var/lib/dpkg/updates" "$troot/var/log"
: >"$troot/var/lib/dpkg/status"
dpkg_root() { dpkg --root="$troot" --log="$troot/var/log/dpkg.log" "$@"; }
machine_state() {
  ls -la --time-style=+%s /usr/lib/cgi-bin 2>&1
  dpkg-query -W -f='${db:Status-Abbrev} ${Version}\n' ravlen 2>&1 || true
}
before=$(machine_state)
as_root=0
[ "$(id -u)" -ne 0 ] || as_root=1
if [ "$as_root" -eq 1 ]; then
  dpkg_root -i "$out/$deb" >"$work/dpkg-install.log"
else
  echo "note: not root, so the package is unpacked (dpkg-deb -x) rather than installed"
  dpkg-deb -x "$out/$deb" "$troot"
fi
python3 tests/release/release_checks.py package --deb "$out/$deb" --root "$troot" --licence LICENSE || failed=1

echo "-- end-to-end cases through the installed program"
python3 tests/e2e/cgi_cases.py --binary "$troot/usr/lib/cgi-bin/plugin_ravlen" --platform linux >"$work/e2e.log" &&
  tail -1 "$work/e2e.log" || { cat "$work/e2e.log"; failed=1; }

echo "-- served by Debian's lighttpd with its stock CGI configuration"
if [ "$as_root" -eq 1 ] && unshare --mount true 2>/dev/null; then
  # The throwaway root's /usr/lib/cgi-bin stands in for the machine's inside this namespace only.
  unshare --mount --propagation private sh -c \
    'mount --bind "$1/usr/lib/cgi-bin" /usr/lib/cgi-bin && exec python3 tests/release/release_checks.py served --state "$2"' \
    sh "$troot" "$work" || failed=1
else
  echo "skip: needs root for a private mount namespace (the package's files at /usr/lib/cgi-bin)"
fi

echo "-- purge"
if [ "$as_root" -eq 1 ]; then
  dpkg_root --purge ravlen >>"$work/dpkg-install.log"
  left=$(cd "$troot" && find . -path ./var -prune -o -print | sed 1d)
  if [ -z "$left" ] && ! dpkg_root -s ravlen >/dev/null 2>&1; then
    echo "ok   nothing of the package is left"
  else
    echo "FAIL left behind: $left"
    failed=1
  fi
else
  echo "skip: nothing was installed"
fi
if [ "$(machine_state)" = "$before" ]; then
  echo "ok   the machine's /usr/lib/cgi-bin and package database are as they were"
else
  echo "FAIL the machine changed:"; diff <(echo "$before") <(machine_state) || true
  failed=1
fi

echo "-- the Windows zip under Wine"
unzip -q "$out/$zip" -d "$work/zip"
top=$work/zip/${zip%.zip}
for f in plugin_ravlen.exe README.md LICENSE.txt; do
  [ -f "$top/$f" ] || { echo "FAIL $f is not in the zip"; failed=1; }
done
. scripts/test.d/lib/wine.sh
wine_session "$root"
trap wine_stop EXIT
# Wine's system processes start with the first program and stay: give them none of the pipes.
"$wine" "$top/plugin_ravlen.exe" --version >/dev/null 2>&1 </dev/null
python3 tests/release/release_checks.py program --launcher "$wine" --binary "$top/plugin_ravlen.exe" \
  --platform windows || failed=1

exit $failed
