#!/usr/bin/env bash
# window-scenario.sh [--drives] <command> [args...]
# Runs one window scenario: needs an X display (Xvfb); skips (77) without one. With --drives,
# two small drives are mapped into the scenario's prefix while it runs:
#   R:  read-only tmpfs (a folder nobody may write)
#   S:  tmpfs of 64 MiB (far less than 1 GiB free)
# Mounting needs root; without it the drives are missing and the scenario skips them.
set -u
if [ -z "${DISPLAY:-}" ]; then
  echo "window-scenario: no X display (run under xvfb-run); skipped" >&2
  exit 77
fi
links=()
mounted=()
work=""
cleanup() {
  for link in "${links[@]}"; do rm -f "$link"; done
  for dir in "${mounted[@]}"; do umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null; done
  if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
map() {  # map <letter> <directory>
  local link="${WINEPREFIX:?no Wine prefix}/dosdevices/$1:"
  if [ -e "$link" ] || [ -L "$link" ]; then echo "window-scenario: $1: is taken" >&2; return; fi
  ln -s "$2" "$link"
  links+=("$link")
  export "OKU_DRIVE_${1^^}=${1^^}:"
}
if [ "${1:-}" = "--drives" ]; then
  shift
  work=$(mktemp -d /tmp/oku-window-drives.XXXXXX)
  mkdir -p "$work/r" "$work/s"
  if mount -t tmpfs -o size=8M tmpfs "$work/r" 2>/dev/null; then
    mounted+=("$work/r")
    mkdir -p "$work/r/locked"
    if mount -o remount,ro "$work/r" 2>/dev/null; then map r "$work/r"; fi
  fi
  if mount -t tmpfs -o size=64M tmpfs "$work/s" 2>/dev/null; then
    mounted+=("$work/s")
    map s "$work/s"
  fi
fi
mkdir -p "${OKU_ARTIFACT_DIR:-/tmp}"
"$@"
