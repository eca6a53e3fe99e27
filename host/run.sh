#!/usr/bin/env bash
# Runs the Kiv stand-in in the foreground until it is stopped (Ctrl-C or a signal).
# usage: host/run.sh PLUGIN_BINARY STATE_DIR [PORT]
# KIV_PASSWORD, when set in this environment, becomes the node password of every request.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
plugin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
state=$2
port=${3:-8080}
mkdir -p "$state"
state=$(cd "$state" && pwd)

# A value inside a double-quoted lighttpd string: escape backslashes and quotes.
conf_string() { local s=${1//\\/\\\\}; printf '"%s"' "${s//\"/\\\"}"; }

setenv=""
if [ -n "${KIV_PASSWORD:-}" ]; then
  setenv="setenv.set-environment = (\"KIV_PASSWORD\" => $(conf_string "$KIV_PASSWORD"))"
fi

conf="$state/lighttpd.conf"
: > "$conf"
chmod 600 "$conf"  # it may hold the node password
while IFS= read -r line; do
  line=${line//@PORT@/$port}
  line=${line//@HOST_DIR@/$here}
  line=${line//@STATE_DIR@/$state}
  line=${line//@PLUGIN@/$plugin}
  line=${line//@SETENV@/$setenv}
  printf '%s\n' "$line" >> "$conf"
done < "$here/lighttpd.conf.in"

exec lighttpd -D -f "$conf"
