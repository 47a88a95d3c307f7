#!/usr/bin/env bash
# Fixture of the platform tests: small tmpfs volumes mapped as Wine drives.
#   K: a tmpfs with exactly 1 GiB available (1 GiB + 64 KiB, 64 KiB taken by a preallocated file)
#   L: a read-only tmpfs holding one empty directory "existing"
# usage: platform_tmpfs.sh setup|cleanup <wineprefix> <mount-root>
# Needs root for mount; without it setup maps nothing and still succeeds (the tests skip).
set -u
action="$1" prefix="$2" root="$3"
case "$prefix" in
  ""|"$HOME/.wine"|"$HOME/.wine/") echo "platform_tmpfs: refusing prefix '$prefix'" >&2; exit 2 ;;
esac
space="$root/space" readonly_dir="$root/readonly"

cleanup() {
  rm -f "$prefix/dosdevices/k:" "$prefix/dosdevices/l:"
  for dir in "$space" "$readonly_dir"; do
    if mountpoint -q "$dir" 2>/dev/null; then umount "$dir" || umount -l "$dir"; fi
    [ -d "$dir" ] && rmdir "$dir" 2>/dev/null
  done
  rmdir "$root" 2>/dev/null
  return 0
}

case "$action" in
  cleanup) cleanup; exit 0 ;;
  setup) ;;
  *) echo "platform_tmpfs: unknown action '$action'" >&2; exit 2 ;;
esac

cleanup
mkdir -p "$prefix/dosdevices"
# The mounts outlive this script (the cleanup action removes them): no oku_drives_begin.
. "$(dirname "$0")/../harness/drives.sh"
export WINEPREFIX="$prefix"
if ! oku_tmpfs "$space" $((1073741824 + 65536)) 2>/dev/null; then
  echo "platform_tmpfs: mount -t tmpfs not possible here; drives K: and L: not mapped"
  cleanup
  exit 0
fi
if ! fallocate -l 65536 "$space/reserved"; then
  echo "platform_tmpfs: fallocate failed; drive K: not mapped"
  umount "$space"
else
  oku_map_drive K "$space"
  echo "platform_tmpfs: K: -> $space, available $(( $(stat -f -c %a "$space") * $(stat -f -c %S "$space") )) bytes"
fi
if oku_tmpfs "$readonly_dir" 1m ro existing 2>/dev/null; then
  oku_map_drive L "$readonly_dir"
  echo "platform_tmpfs: L: -> $readonly_dir (read-only)"
else
  echo "platform_tmpfs: read-only tmpfs not possible; drive L: not mapped"
fi
exit 0
