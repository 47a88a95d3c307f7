#!/usr/bin/env bash
# Runs a command with two small drives mapped into the scenario's Wine prefix:
#   P:  read-only tmpfs holding an empty directory "existing" and a copy of the installer
#   Q:  tmpfs of 64 MiB holding an empty directory "Oku" (far less than 1 GiB free)
# Mounting needs root; without it nothing is mapped and the scenarios that need it skip.
# Usage: e2e-drives.sh <installer.exe> <command> [args...]
set -u
installer="$1"; shift
prefix="${WINEPREFIX:?no Wine prefix}"
work=$(mktemp -d /tmp/oku-e2e-drives.XXXXXX)
mounted=()
links=()
cleanup() {
  for link in "${links[@]}"; do rm -f "$link"; done
  for dir in "${mounted[@]}"; do umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

map() {  # map <letter> <directory>
  local link="$prefix/dosdevices/$1:"
  if [ -e "$link" ] || [ -L "$link" ]; then echo "e2e-drives: $1: is taken" >&2; return; fi
  ln -s "$2" "$link"
  links+=("$link")
  export "OKU_DRIVE_${1^^}=${1^^}:"
}

if mount -t tmpfs -o size=400M tmpfs "$work/p" 2>/dev/null || { mkdir -p "$work/p" && mount -t tmpfs -o size=400M tmpfs "$work/p" 2>/dev/null; }; then
  mounted+=("$work/p")
  mkdir -p "$work/p/existing"
  cp "$installer" "$work/p/OkuSetup.exe"
  if mount -o remount,ro "$work/p" 2>/dev/null; then map p "$work/p"; fi
else
  echo "e2e-drives: cannot mount a tmpfs (not root?); drive scenarios skip" >&2
fi
mkdir -p "$work/q"
if mount -t tmpfs -o size=64M tmpfs "$work/q" 2>/dev/null; then
  mounted+=("$work/q")
  mkdir -p "$work/q/Oku"
  map q "$work/q"
fi
"$@"
