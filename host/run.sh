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

# lighttpd reads the password from its own environment (env.), so it passes to the plugin byte
# for byte: a lighttpd string cannot hold every password (one ending in a backslash, say).
setenv=""
if [ -n "${KIV_PASSWORD:-}" ]; then
  export KIV_PASSWORD
  setenv='setenv.set-environment = ("KIV_PASSWORD" => env.KIV_PASSWORD)'
fi

conf="$state/lighttpd.conf"
: > "$conf"
# The replacements stand in quotes: unquoted, bash 5.2 reads a "&" in them as the matched text.
while IFS= read -r line; do
  line=${line//@PORT@/"$port"}
  line=${line//@HOST_DIR@/"$here"}
  line=${line//@STATE_DIR@/"$state"}
  line=${line//@PLUGIN@/"$plugin"}
  line=${line//@SETENV@/"$setenv"}
  printf '%s\n' "$line" >> "$conf"
done < "$here/lighttpd.conf.in"

exec lighttpd -D -f "$conf"
