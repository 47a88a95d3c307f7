#!/usr/bin/env bash
# Runs Windows test programs with the Linux-side fixtures the workspace tests need:
#   R:  read-only tmpfs of 300 MiB holding an existing directory "existing" (unwritable place)
#   S:  empty tmpfs of 64 MiB (exact free-space boundary)
#   T:  tmpfs of 1 MiB (disk full while writing)
#   a fixture tree with directory symbolic links made from the Linux side
# Mounting needs root; without it the drive variables stay unset and the tests skip.
# Usage: with-drives.sh <wine-run.sh> <program.exe> [<program.exe>...]
set -u
wine_run="$1"; shift
prefix="${WINEPREFIX:-${OKU_WINEPREFIX_TEMPLATE:-}}"
if [ -z "$prefix" ]; then echo "with-drives: no Wine prefix given" >&2; exit 2; fi
export WINEPREFIX="$prefix"
. "$(dirname "$0")/../harness/drives.sh"
oku_drives_begin workspace
work="$oku_drive_work"

winpath() { printf 'Z:%s' "${1//\//\\}"; }

oku_tmpfs drive_R 300M ro existing && oku_map_drive R drive_R
oku_tmpfs drive_S 64M && oku_map_drive S drive_S
oku_tmpfs drive_T 1M && oku_map_drive T drive_T

# Links inside a tree that the tests delete: the targets lie outside the tree.
mkdir -p "$work/outside/sub" "$work/tree/nested"
printf 'outside-top' > "$work/outside/top.txt"
printf 'outside-sub' > "$work/outside/sub/deep.txt"
printf '0123456789' > "$work/tree/own.txt"
ln -s "$work/outside" "$work/tree/dirlink"
ln -s "$work/outside" "$work/tree/nested/dirlink2"
export OKU_LINK_TREE="$(winpath "$work/tree")"
export OKU_LINK_OUTSIDE="$(winpath "$work/outside")"

status=0
for program in "$@"; do
  GTEST_FILTER='Fixture*' "$wine_run" "$program" --gtest_color=no || status=1
done
exit $status
