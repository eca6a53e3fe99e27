#!/usr/bin/env bash
# Builds the plugin and serves the live dashboard through a local stand-in of Kiv
# (lighttpd on 127.0.0.1). PORT picks the port (8080); KIV_PASSWORD, when set, guards every
# request as Kiv's node password would. Stop it with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j"$(nproc)" --target plugin_ravlen
port=${PORT:-8080}
echo
echo "Kiv stand-in:      http://127.0.0.1:$port/"
echo "Dashboard (direct): http://127.0.0.1:$port/plugin_ravlen"
echo "Stop with Ctrl-C."
exec host/run.sh build/linux/plugin_ravlen build/host "$port"
