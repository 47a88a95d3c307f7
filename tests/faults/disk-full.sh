#!/usr/bin/env bash
# disk-full.sh: OkuSetup.exe /S meets a full volume, each case from a clean prefix.
#   extraction: the working directory lies on a small tmpfs mounted below C:\small. The
#     free-space check of the working directory looks at the drive root (C:\, the host disk), so
#     every run passes it and then meets the full volume while it writes its payload. TEMP (and
#     with it the session log), the local application data folder or the installer's own folder
#     is moved there, so each place a working directory can take is tried; the room left decides
#     which payload group fails.
#   installation: the installation directory fills up, either while OkuSetup copies the product
#     installer into it (C:\small\Oku) or while the product installer writes (R:, a tmpfs drive
#     of 1100 MiB, filled from Linux while the product installer waits OKU_DEMO_INSTALLER_DELAY_MS).
# Every failed run must end with its exit code (compared by its low byte, all a Unix exit status
# carries) and message box, log the disk-full failure, report no file as written that is not
# whole, install nothing of its own that is not whole and leave no working directory; the next
# run, with room again, must install (exit 0). Mounting needs root: without it the test skips
# (exit 77). OKU_DISK_FULL_CASES="temp-core install-product" reruns chosen cases.
set -u
template="${OKU_WINEPREFIX_TEMPLATE:?}"
root="${OKU_BUILD_DIR:?}/e2e-prefixes"
run="${OKU_WINE_RUN:?}"
bin="${OKU_BIN_DIR:?}"
box="$bin/tools/box-answer.exe"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
. "$(dirname "$0")/../harness/drives.sh"
oku_drives_begin disk-full
work="$oku_drive_work"
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && timeout 30 wineserver -k 2>/dev/null
  oku_drives_end
}
trap cleanup EXIT
mkdir -p "$root"
if ! oku_tmpfs probe 1M 2>/dev/null; then
  echo "skip: cannot mount a tmpfs (not root?)"
  exit 77
fi
oku_drives_release

page() { echo $(( ($1 + 4095) / 4096 * 4096 )); }
size_of() { stat -c %s "$1"; }
# Bytes the payload groups take on a tmpfs, each file rounded up to whole pages.
analytics=$(( $(page "$(size_of "$bin/lantern_sdk.dll")") + $(page "$(size_of "$bin/tessel.dll")") ))
core=0
for f in tracer_logger.dll client_extension.dll crashpad_handler_tracer.exe crashpad_handler_extension.exe dockit.dll; do
  core=$((core + $(page "$(size_of "$bin/$f")")))
done
core=$((core + 8192))  # version.txt and the copy script
setup_size=$(size_of "$bin/OkuSetup.exe")
product_exe_size=$(size_of "$bin/product/new/oku.compass.exe")
log_room=16384  # the session log before the payload (about 8 KiB)

mount_small() { oku_tmpfs "$small" "$1"; }  # mount_small <bytes>: C:\small, a tmpfs of that size
reg_set() { "$run" reg add "$1" /v "$2" /t "${4:-REG_SZ}" /d "$3" /f >/dev/null 2>&1; }
value() {
  "$run" reg query 'HKCU\Software\Oku.compass' /v "$1" 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_[A-Z_]*[[:space:]]*//p'
}
unix_of() {  # a Windows path in the prefix (C:, Q:, R:) as a Linux path
  local p="${1//\\//}"
  case "$p" in
    C:/*) echo "$WINEPREFIX/drive_c/${p#C:/}" ;;
    Q:/*) echo "$work/q/${p#Q:/}" ;;
    R:/*) echo "$work/r/${p#R:/}" ;;
  esac
}
# Working directories of any strategy, wherever the case put their base directories.
stray() {
  find "$WINEPREFIX/drive_c" "$work/q" "$work/r" -maxdepth 6 \
    \( -name 'OkuSetup_*' -o -path '*/OkuSetup/Temp_*' -o -name .OkuSetupTemp \) -print 2>/dev/null |
    sed "s|$WINEPREFIX/drive_c/|C:/|; s|$work/|drive |" | tr '\n' ' '
}
# Lines "Resource extracted successfully: <path> (<n> bytes)" whose size is not the payload
# file's own size (the payload files are the build's, product installer from bin/product/new).
truncated_reports() {
  grep -a -o 'Resource extracted successfully: .* ([0-9]* bytes)' "$1" | while read -r line; do
    name=$(printf '%s' "$line" | sed 's/.*\\\([^\\]*\) (\([0-9]*\) bytes)$/\1/')
    bytes=$(printf '%s' "$line" | sed 's/.* (\([0-9]*\) bytes)$/\1/')
    reference="$bin/$name"
    [ "$name" = mini_installer.exe ] && reference="$bin/product/new/mini_installer.exe"
    [ "$name" = version.txt ] && reference="$OKU_BUILD_DIR/payload/version.txt"
    [ "$name" = oku_installer.bat ] && reference="$OKU_SOURCE_DIR/resources/oku_installer.bat"
    if [ -f "$reference" ] && [ "$(size_of "$reference")" != "$bytes" ]; then printf '%s ' "$name:$bytes"; fi
  done
}

# name | kind | TEMP | Local AppData ("-" unchanged) | installer folder | room on C:\small (bytes) |
# expected exit | box caption ("-" none) | file that meets the full disk | log line of the failure |
# another log line the run must write ("-" none): where the working directory went, the rollback
# Q: is a 64 MiB tmpfs drive: too little for a working directory (200 MiB), so a base directory
# there moves the working directory on to the next place.
cases=(
  "temp-analytics|extract|C:\\small|-|C:\\dl|$((log_room + analytics - 65536))|1392|-|tessel.dll|解压上报资源失败|使用策略: 系统临时目录"
  "temp-core|extract|C:\\small|-|C:\\dl|$((log_room + analytics + 65536))|1392|-|tracer_logger.dll|解压核心资源失败|使用策略: 系统临时目录"
  "temp-programs|extract|C:\\small|-|C:\\dl|$((log_room + analytics + core + 4194304))|1001|-|mini_installer.exe|解压安装文件失败|使用策略: 系统临时目录"
  "localappdata|extract|Q:\\Temp|C:\\small|C:\\dl|$((analytics + core + 4194304))|1001|-|mini_installer.exe|解压安装文件失败|使用策略: LocalAppData目录"
  "exe-directory|extract|Q:\\Temp|Q:\\Local|C:\\small\\dl|$((setup_size + analytics + core + 4194304))|1001|-|mini_installer.exe|解压安装文件失败|使用备用方案: EXE同目录"
  "install-copy|install|-|-|C:\\dl|8388608|1001|-|mini_installer.exe|✗ 文件复制失败: 磁盘空间不足 (错误码: 112)|-"
  "install-product|install|-|-|C:\\dl|0|7|-|oku.compass.exe|cannot write R:\\Oku\\oku.compass.exe, error 112|Deleting InstallerName registry value (no original value existed)"
)
failures=0
for entry in "${cases[@]}"; do
  IFS='|' read -r name kind temp appdata folder room expected caption failing line also <<<"$entry"
  case " ${OKU_DISK_FULL_CASES:-$name} " in *" $name "*) ;; *) continue ;; esac
  export WINEPREFIX="$root/faults_disk_full_$name"
  timeout 30 wineserver -k 2>/dev/null
  rm -rf "$WINEPREFIX" && cp -a "$template" "$WINEPREFIX"
  small="$WINEPREFIX/drive_c/small"
  rm -rf "$work/q" "$work/r" && mkdir -p "$work/q" "$work/r"
  problems=""
  note=""
  args=(/S)
  env_run=()

  # The drives.
  if [ "$kind" = extract ] || [ "$name" = install-copy ]; then
    mount_small "$room" || problems+=" cannot mount C:\\small;"
  fi
  oku_tmpfs q 64M && oku_map_drive Q q
  if [ "$name" = install-product ]; then
    oku_tmpfs r 1100M && oku_map_drive R r
    args+=('/DR:\Oku')
    env_run=(env OKU_DEMO_INSTALLER_DELAY_MS=5000)
  fi
  [ "$name" = install-copy ] && args+=('/DC:\small\Oku')
  folder_unix=$(unix_of "$folder")
  mkdir -p "$folder_unix" && cp "$bin/OkuSetup.exe" "$folder_unix/"
  if [ "$temp" != - ]; then
    mkdir -p "$(unix_of "$temp")"
    reg_set 'HKCU\Environment' TEMP "$temp" && reg_set 'HKCU\Environment' TMP "$temp"
    log="$(unix_of "$temp")/OkuSetupLogs/oku_install.log"
  else
    log="$WINEPREFIX/drive_c/users/root/Temp/OkuSetupLogs/oku_install.log"
  fi
  if [ "$appdata" != - ]; then
    mkdir -p "$(unix_of "$appdata")"
    for key in 'User Shell Folders' 'Shell Folders'; do
      reg_set "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\$key" 'Local AppData' "$appdata"
    done
  fi

  # The run that meets the full volume.
  answer_pid=""
  rm -f "$WINEPREFIX/drive_c/box.txt"
  if [ "$caption" != - ]; then
    OKU_WINE_TIMEOUT=120 "$run" "$box" --caption "$caption" --timeout 90000 --out 'C:\box.txt' >/dev/null 2>&1 &
    answer_pid=$!
  fi
  OKU_WINE_TIMEOUT=240 "${env_run[@]}" "$run" "$folder\\OkuSetup.exe" "${args[@]}" >"$work/output.txt" 2>&1 &
  setup_pid=$!
  if [ "$name" = install-product ]; then
    # Fill R: while the product installer waits, after OkuSetup copied its files there.
    demo_log="$work/r/Oku/okuinfo/mini_installer_log.log"
    deadline=$((SECONDS + 120))
    until grep -q 'test delay of' "$demo_log" 2>/dev/null || [ $SECONDS -ge $deadline ] || ! kill -0 $setup_pid 2>/dev/null; do
      sleep 0.05
    done
    if grep -q 'test delay of' "$demo_log" 2>/dev/null; then
      fallocate -l "$(df -B1 --output=avail "$work/r" | tail -1)" "$work/r/filler" 2>/dev/null
      dd if=/dev/zero of="$work/r/filler-rest" bs=4096 status=none 2>/dev/null
      [ "$(df -B1 --output=avail "$work/r" | tail -1 | tr -d " ")" = 0 ] || problems+=" R: not full;"
    else
      problems+=" the product installer never reached its delay;"
    fi
  fi
  wait $setup_pid
  status=$?
  [ -n "$answer_pid" ] && wait "$answer_pid"
  seen=$(cat "$WINEPREFIX/drive_c/box.txt" 2>/dev/null | tr -d "\r")
  [ "$status" = $((expected % 256)) ] || problems+=" exit $status, expected $expected (low byte $((expected % 256)));"
  grep -q -E 'Unhandled|page fault|starting debugger' "$work/output.txt" && problems+=" crashed;"
  if [ "$caption" != - ]; then
    [ "$seen" = "$caption"$'\t'"安装包损坏或磁盘空间不足，请重新下载后重试" ] || problems+=" box '$seen';"
  fi

  if [ "$kind" = extract ]; then
    cp "$log" "$work/failed.log" 2>/dev/null || : >"$work/failed.log"
    grep -a -q "Failed to write file: .*\\\\$failing, expected: [0-9]*, written: [0-9]*, error: \(112\|39\)" "$work/failed.log" ||
      problems+=" no 'Failed to write file' line for $failing;"
    grep -a -q '磁盘空间不足，已删除不完整文件' "$work/failed.log" || problems+=" no disk-full line;"
    grep -a -q "$line" "$work/failed.log" || problems+=" no '$line';"
    if [ "$expected" = 1392 ]; then
      grep -a -q '静默模式，不显示提示框: 安装包损坏或磁盘空间不足，请重新下载后重试' "$work/failed.log" ||
        problems+=" no log line for the box a silent run does not show;"
    fi
    first=$(grep -a -o '\] ✗ .*' "$work/failed.log" | head -1 | sed 's/\] ✗ //')
    [ "$first" = "$failing" ] || problems+=" first failed file '$first', expected $failing;"
    bad=$(truncated_reports "$work/failed.log")
    [ -z "$bad" ] || problems+=" reported as written but not whole: $bad;"
    [ -z "$(value OkuInstallPath)" ] || problems+=" OkuInstallPath recorded;"
    [ -z "$(value InstallerName)" ] || problems+=" InstallerName written;"
  else
    dir="$(unix_of "${args[1]#/D}")"
    cp "$dir/oku_install.log" "$work/failed.log" 2>/dev/null || cp "$log" "$work/failed.log" 2>/dev/null || : >"$work/failed.log"
    [ "$name" = install-product ] && cat "$dir/okuinfo/mini_installer_log.log" >>"$work/failed.log" 2>/dev/null
    grep -a -q -F "$line" "$work/failed.log" || problems+=" no '$line';"
    [ -z "$(value InstallerName)" ] || problems+=" InstallerName left: $(value InstallerName);"
    # OkuSetup's own files in the installation directory: none left cut short.
    if [ -e "$dir/mini_installer.exe" ]; then problems+=" mini_installer.exe left in the installation directory ($(size_of "$dir/mini_installer.exe") bytes);"; fi
    if [ -e "$dir/uninstall/OkuUninstall.exe" ] && [ "$(size_of "$dir/uninstall/OkuUninstall.exe")" != "$(size_of "$bin/OkuUninstall.exe")" ]; then
      problems+=" OkuUninstall.exe cut short;"
    fi
    [ -e "$dir/OkuUninstall.exe" ] && problems+=" OkuUninstall.exe left beside the product;"
    if [ -f "$dir/oku.compass.exe" ] && [ "$(size_of "$dir/oku.compass.exe")" != "$product_exe_size" ]; then
      problems+=" the product installer left oku.compass.exe cut short ($(size_of "$dir/oku.compass.exe") of $product_exe_size bytes);"
    fi
  fi
  if [ "$also" != - ]; then grep -a -q -F "$also" "$work/failed.log" || problems+=" no '$also';"; fi
  left=$(stray)
  [ -z "$left" ] || problems+=" working directories left: $left;"
  result="exit $status"

  # Room again: the next run installs.
  rm -f "$work/r/filler" "$work/r/filler-rest"
  [ -d "$small" ] && mountpoint -q "$small" && mount -o remount,size=400M "$small"
  rm -f "$WINEPREFIX/drive_c/box.txt"
  OKU_WINE_TIMEOUT=240 "$run" "$folder\\OkuSetup.exe" "${args[@]}" >"$work/output.txt" 2>&1
  again=$?
  [ "$again" = 0 ] || problems+=" next run exit $again;"
  installed=$(value OkuInstallPath)
  exe="$(unix_of "${installed:-C:\\none}")/oku.compass.exe"
  if [ -z "$installed" ] || [ ! -f "$exe" ] || [ "$(size_of "$exe")" != "$product_exe_size" ]; then
    problems+=" next run left no whole oku.compass.exe (OkuInstallPath '$installed');"
  fi
  [ "$(value InstallerName)" = OkuSetup.exe ] || problems+=" next run: InstallerName '$(value InstallerName)';"
  left=$(stray)
  [ -z "$left" ] || problems+=" next run left working directories: $left;"

  if [ -n "$problems" ]; then
    echo "FAIL $name:$problems"
    failures=$((failures + 1))
  else
    echo "ok   $name: $result ($expected), $failing met the full disk, no partial file of its own, no working directory; next run exit 0 into $installed${note:+;$note}"
  fi
  [ -n "$note" ] && [ -n "$problems" ] && echo "     note:$note"
  timeout 30 wineserver -k 2>/dev/null
  oku_drives_release
  [ "${OKU_KEEP_PREFIX:-0}" = 1 ] || rm -rf "$WINEPREFIX"
done
exit $((failures > 0))
