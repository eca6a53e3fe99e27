#!/usr/bin/env bash
# Static analysis of the program's own sources: clang-tidy with the committed .clang-tidy and
# cppcheck. Tests, fuzz targets, benchmarks and generated files are left out.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ ! -f build/linux/compile_commands.json ]; then
  cmake -S . -B build/linux >/dev/null
fi
# The page texts are generated at build time and included by the page writer.
cmake --build build/linux -j2 --target ravlen_page_texts >/dev/null

mapfile -t sources < <(python3 - <<'PY'
import json, os
root = os.getcwd()
seen = []
for entry in json.load(open("build/linux/compile_commands.json")):
    rel = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
    if rel.split(os.sep)[0] in ("tests", "fuzz", "bench", "build") or rel in seen:
        continue
    seen.append(rel)
print("\n".join(seen))
PY
)
[ "${#sources[@]}" -gt 0 ] || { echo "no project sources found in compile_commands.json" >&2; exit 1; }

echo "clang-tidy: ${#sources[@]} files"
# Two files at a time; xargs fails when any run fails.
printf '%s\n' "${sources[@]}" \
  | xargs -P2 -n1 clang-tidy -p build/linux --quiet --warnings-as-errors='*' >build/linux/clang-tidy.log 2>&1 \
  || { grep -E "(warning|error):" -A3 build/linux/clang-tidy.log || cat build/linux/clang-tidy.log; exit 1; }

echo "cppcheck: ${#sources[@]} files"
# The build defines PLATFORM_NAME and PLUGIN_VERSION; any value serves the analysis.
# memsetClassFloat: snapshots are cleared with memset; all-bits-zero is 0.0 on every IEEE 754 target we build for.
cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr -q \
  --std=c++17 --language=c++ -I . -DPLATFORM_NAME=\"linux\" -DPLUGIN_VERSION=\"0.0.0\" \
  --suppress=memsetClassFloat \
  "${sources[@]}"
echo "static analysis clean"
