#!/usr/bin/env bash
# fresh-prefix.sh <name> <command> [args...]
# Runs the command with WINEPREFIX set to a fresh copy of the tests' template prefix (a clean
# Windows for one scenario), then stops that prefix's wineserver and removes the copy.
set -u
name="$1"; shift
template="${OKU_WINEPREFIX_TEMPLATE:?template prefix not set}"
root="${OKU_BUILD_DIR:?build dir not set}/e2e-prefixes"
prefix="$root/$name"
mkdir -p "$root"
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
rm -rf "$prefix"
cp -a "$template" "$prefix"
export WINEPREFIX="$prefix"
"$@"
status=$?
timeout 30 wineserver -k 2>/dev/null || true
# A process of this prefix that outlived its wineserver (a console host) would hold the test's
# output open: it goes too.
for pid in $(pgrep -f '\.exe' 2>/dev/null); do
  if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix"; then
    kill -KILL "$pid" 2>/dev/null
  fi
done
if [ "${OKU_KEEP_PREFIX:-0}" != "1" ]; then rm -rf "$prefix"; fi
exit $status
