#!/usr/bin/env bash
# Builds the release files from the committed tree (HEAD) into build/release/:
#   ravlen_<version>-1_amd64.deb            the Debian package (program in /usr/lib/cgi-bin)
#   ravlen-<version>-windows-x86_64.zip     plugin_ravlen.exe, README.md, LICENSE.txt
#   SHA256SUMS                              over both
# The same commit gives the same bytes: every time stamp is SOURCE_DATE_EPOCH (the last commit's
# time unless set) and nothing of the build's paths, user or host reaches the files.
# Uncommitted changes are not built: the tree is exported from git first.
set -euo pipefail
cd "$(dirname "$0")/.."
# The modes of the files that CPack archives follow the umask; fix it.
umask 022
root=$PWD
out=$root/build/release
work=$root/build/release-work

commit=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct "$commit")}
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: uncommitted changes are left out; building commit $commit" >&2
fi

rm -rf "$out" "$work"
mkdir -p "$out" "$work/src"
git archive --format=tar "$commit" | tar -x -C "$work/src"

jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2

echo "-- Linux build and Debian package"
cmake -S "$work/src" -B "$work/linux" -DCMAKE_BUILD_TYPE=Release -DRAVLEN_RELEASE=ON \
  -DRAVLEN_TESTS=OFF -DRAVLEN_RELEASE_DIR="$out" >/dev/null
cmake --build "$work/linux" -j"$jobs" --target release_deb

echo "-- Windows build and zip"
cmake --no-warn-unused-cli -S "$work/src" -B "$work/windows" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DRAVLEN_RELEASE=ON -DRAVLEN_RELEASE_DIR="$out" >/dev/null
cmake --build "$work/windows" -j"$jobs" --target release_zip

cd "$out"
rm -rf _CPack_Packages
files=(*.deb *.zip)
[ "${#files[@]}" -eq 2 ] && [ -f "${files[0]}" ] && [ -f "${files[1]}" ] ||
  { echo "release: expected one .deb and one .zip in $out, found: ${files[*]}" >&2; exit 1; }
sha256sum "${files[@]}" > SHA256SUMS
echo "-- release files in build/release (commit $commit, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
ls -l "${files[@]}" SHA256SUMS
