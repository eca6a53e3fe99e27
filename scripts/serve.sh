#!/usr/bin/env bash
# Builds the plugin and shows what it answers: its usage and its info document.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j"$(nproc)" --target plugin_ravlen
build/linux/plugin_ravlen --help
QUERY_STRING=action=info build/linux/plugin_ravlen
