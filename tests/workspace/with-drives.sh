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
work=$(mktemp -d /tmp/oku-workspace-fixtures.XXXXXX)
mounted=()
letters=()

cleanup() {
  for letter in "${letters[@]}"; do rm -f "$prefix/dosdevices/$letter"; done
  for dir in "${mounted[@]}"; do umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

winpath() { printf 'Z:%s' "${1//\//\\}"; }

# drive <letter> <size> <ro|rw> [directory to create before the mount becomes read-only]
drive() {
  local letter=$1 size=$2 mode=$3 mkdir_name=${4:-}
  local dir="$work/drive_$letter"
  mkdir -p "$dir"
  if ! mount -t tmpfs -o "size=$size" tmpfs "$dir" 2>/dev/null; then
    echo "with-drives: cannot mount a tmpfs for $letter: (not root?); its tests skip" >&2
    return
  fi
  mounted+=("$dir")
  [ -n "$mkdir_name" ] && mkdir -p "$dir/$mkdir_name"
  if [ "$mode" = ro ] && ! mount -o remount,ro "$dir" 2>/dev/null; then
    echo "with-drives: cannot remount $letter: read-only; its tests skip" >&2
    return
  fi
  local link="$prefix/dosdevices/${letter,,}:"
  if [ -e "$link" ] || [ -L "$link" ]; then
    echo "with-drives: drive $letter: is taken in $prefix; its tests skip" >&2
    return
  fi
  ln -s "$dir" "$link"
  letters+=("${letter,,}:")
  export "OKU_DRIVE_${letter}=${letter}:"
}

drive R 300M ro existing
drive S 64M rw
drive T 1M rw

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
