#!/usr/bin/env bash
# Runs a command with two small drives mapped into the scenario's Wine prefix:
#   P:  read-only tmpfs holding an empty directory "existing" and a copy of the installer
#   Q:  tmpfs of 64 MiB holding an empty directory "Oku" (far less than 1 GiB free)
# Mounting needs root; without it nothing is mapped and the scenarios that need it skip.
# Usage: e2e-drives.sh <installer.exe> <command> [args...]
set -u
installer="$1"; shift
: "${WINEPREFIX:?no Wine prefix}"
. "$(dirname "$0")/../harness/drives.sh"
oku_drives_begin e2e
if oku_tmpfs p 400M rw existing; then
  cp "$installer" "$oku_drive_work/p/OkuSetup.exe"
  mount -o remount,ro "$oku_drive_work/p" 2>/dev/null && oku_map_drive P p
fi
oku_tmpfs q 64M rw Oku && oku_map_drive Q q
"$@"
