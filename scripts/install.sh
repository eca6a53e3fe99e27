#!/usr/bin/env bash
# Installs whatever the build, the tests and the local host need and is not yet here.
# Idempotent: packages already present are left alone; npm packages come from the lockfile.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-tidy libclang-rt-14-dev cppcheck valgrind
  g++-mingw-w64-x86-64 wine64
  lighttpd curl
  prometheus lintian zip unzip
  chromium
  python3 python3-psutil procps time
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Node.js may come from another repository that bundles npm; only ask Debian when absent.
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "install: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Hold back the services that packages would start (prometheus, lighttpd): the tests start
    # their own instances on free loopback ports. policy-rc.d is the Debian hook for this.
    held=0
    if [ ! -e /usr/sbin/policy-rc.d ]; then
      printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
      chmod 755 /usr/sbin/policy-rc.d
      held=1
    fi
    apt-get update -qq
    status=0
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || status=$?
    [ "$held" -eq 0 ] || rm -f /usr/sbin/policy-rc.d
    [ "$status" -eq 0 ] || exit "$status"
  else
    echo "install: missing Debian packages: ${missing[*]}" >&2
    echo "install: run this script as root (or with sudo) once to install them" >&2
    exit 1
  fi
fi

# Browser-test packages, pinned by the committed lockfile.
if [ -f package-lock.json ]; then
  if [ ! -d node_modules ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
    npm ci --no-audit --no-fund --loglevel=error
  fi
fi
