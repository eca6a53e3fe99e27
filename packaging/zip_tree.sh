#!/bin/sh
# usage: zip_tree.sh STAGE TOP OUT
# Zips the folder STAGE/TOP into OUT so that the same tree gives the same bytes on every run:
# entries in byte order of their names, every time set to SOURCE_DATE_EPOCH (zip keeps local
# time, so it runs in UTC), fixed modes, and no extra fields (-X: no owner ids or extended times).
set -eu
: "${SOURCE_DATE_EPOCH:?SOURCE_DATE_EPOCH must be set}"
cd "$1"
find "$2" -type d -exec chmod 755 {} +
find "$2" -type f -exec chmod 644 {} +
find "$2" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
rm -f "$3"
find "$2" | LC_ALL=C sort | TZ=UTC0 zip -X -q -@ "$3"
