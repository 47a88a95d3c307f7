# drives.sh: sourced by the scenario scripts that lend a Wine prefix small Linux volumes as
# drives (a read-only folder, a nearly full disk). Mounting needs root; where it fails the drive
# stays unmapped, its OKU_DRIVE_<letter> variable unset, and the cases that need it skip.
#   oku_drives_begin <tag>          a work folder under /tmp; everything is undone on exit
#   oku_drives_release              unmaps and unmounts what is there so far (the folder stays)
#   oku_tmpfs <dir> <size> [ro [folder...]]
#                                   mounts a tmpfs on <dir> (created in the work folder when
#                                   relative), makes the folders, then remounts it read-only
#   oku_map_drive <letter> <dir>    <letter>: in $WINEPREFIX, exported as OKU_DRIVE_<LETTER>
oku_drive_work=""
oku_drive_mounts=()
oku_drive_links=()

# Unmaps and unmounts everything mapped or mounted so far; the work folder stays.
oku_drives_release() {
  local link dir
  for link in "${oku_drive_links[@]}"; do rm -f "$link"; done
  for dir in "${oku_drive_mounts[@]}"; do umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null; done
  oku_drive_links=()
  oku_drive_mounts=()
}

oku_drives_end() {
  oku_drives_release
  if [ -n "$oku_drive_work" ]; then rm -rf "$oku_drive_work"; fi
  oku_drive_work=""
}

oku_drives_begin() {
  oku_drive_work=$(mktemp -d "/tmp/oku-$1-drives.XXXXXX")
  trap oku_drives_end EXIT
}

oku_tmpfs() {
  local dir=$1 size=$2 mode=${3:-rw}
  shift 3 2>/dev/null || shift $#
  case "$dir" in /*) ;; *) dir="$oku_drive_work/$dir" ;; esac
  mkdir -p "$dir"
  if ! mount -t tmpfs -o "size=$size" tmpfs "$dir" 2>/dev/null; then
    echo "drives: cannot mount a tmpfs on $dir (not root?)" >&2
    return 1
  fi
  oku_drive_mounts+=("$dir")
  local folder
  for folder in "$@"; do mkdir -p "$dir/$folder"; done
  if [ "$mode" = ro ] && ! mount -o remount,ro "$dir" 2>/dev/null; then
    echo "drives: cannot remount $dir read-only" >&2
    return 1
  fi
  return 0
}

oku_map_drive() {
  local letter=${1^^} dir=$2
  case "$dir" in /*) ;; *) dir="$oku_drive_work/$dir" ;; esac
  local link="${WINEPREFIX:?no Wine prefix}/dosdevices/${letter,,}:"
  if [ -e "$link" ] || [ -L "$link" ]; then
    echo "drives: $letter: is taken in $WINEPREFIX" >&2
    return 1
  fi
  ln -s "$dir" "$link"
  oku_drive_links+=("$link")
  export "OKU_DRIVE_${letter}=${letter}:"
}
