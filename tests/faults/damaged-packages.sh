#!/usr/bin/env bash
# damaged-packages.sh: damaged installers (bin/variants, tests/faults/faults.cmake) and an
# installer file cut short, each run from the same Downloads folder in turn; every run must end
# with its documented exit code (compared by its low byte, all a Unix exit status carries) and
# message box (answered; a silent run shows none and logs its text instead), never a crash, and
# leave no working directory and no product behind unless it installs.
set -u
run="${OKU_WINE_RUN:?}"
box="$OKU_BIN_DIR/tools/box-answer.exe"
dl_unix="$WINEPREFIX/drive_c/dl"; dl='C:\dl'
mkdir -p "$dl_unix"
cp "$OKU_BIN_DIR"/variants/OkuSetup_fault_*.exe "$dl_unix/"
# A download cut off at 60 %: the payload at the end of the file is gone.
size=$(stat -c %s "$OKU_BIN_DIR/OkuSetup.exe")
head -c $((size * 6 / 10)) "$OKU_BIN_DIR/OkuSetup.exe" > "$dl_unix/OkuSetup_fault_cut.exe"
failures=0
stray() {
  (cd "$WINEPREFIX/drive_c" && ls -d users/root/Temp/OkuSetup_* users/root/AppData/Local/OkuSetup/Temp_* \
    dl/.OkuSetupTemp 2>/dev/null | tr '\n' ' ')
}
installed() {
  "$run" reg query 'HKCU\Software\Oku.compass' /v OkuInstallPath >/dev/null 2>&1 && echo yes || echo no
}
uninstall() {  # back to a clean machine for the next case
  if [ "$(installed)" = yes ]; then
    "$run" 'C:\users\root\AppData\Local\oku.compass\Application\uninstall\OkuUninstall.exe' >/dev/null 2>&1
    "$run" reg delete 'HKCU\Software\Oku.compass' /f >/dev/null 2>&1
  fi
}
# program | arguments | expected exit | box caption to answer ("-" none) | box text | installs |
# leaves its working directory (the window base ends the process at once on a bad layout; the
# next run's leftover clean-up removes it)
cases=(
  "OkuSetup_fault_no_mini_installer.exe|/S|1001|-||no|no"
  "OkuSetup_fault_no_tessel.exe|/S|1392|-|安装包损坏或磁盘空间不足，请重新下载后重试|no|no"
  "OkuSetup_fault_damaged_lantern.exe|/S|0|-||yes|no"
  "OkuSetup_fault_damaged_main_xml.exe||1|Duilib|加载资源文件失败|no|yes"
  "OkuSetup_fault_cut.exe|/S|cut|-||no|no"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r program args expected caption text installs leaves <<<"$entry"
  answer_pid=""
  rm -f "$dl_unix/box.txt"
  if [ "$caption" != - ]; then
    OKU_WINE_TIMEOUT=120 "$run" "$box" --caption "$caption" --timeout 90000 --out 'C:\dl\box.txt' >/dev/null 2>&1 &
    answer_pid=$!
  fi
  output=$("$run" "$dl\\$program" $args 2>&1)
  status=$?
  [ -n "$answer_pid" ] && wait "$answer_pid"
  seen=$(cat "$dl_unix/box.txt" 2>/dev/null | tr -d '\r')
  problems=""
  if [ "$expected" = cut ]; then
    # The loader refuses the file (Wine: "Bad EXE format"), or it runs and reports a damaged package.
    case "$status" in 0) problems+=" a cut installer reported success;" ;; esac
  elif [ "$status" != $((expected % 256)) ]; then
    # A Windows exit code reaches the shell as its low byte (1392 shows as 112).
    problems+=" exit $status, expected $expected (low byte $((expected % 256)));"
  fi
  if printf '%s' "$output" | grep -q -E 'Unhandled|page fault|starting debugger'; then problems+=" crashed;"; fi
  if [ "$caption" != - ] && [ "$seen" != "$caption"$'\t'"$text" ]; then problems+=" box '${seen}';"; fi
  if [ "$caption" = - ] && [ -n "$text" ] &&
     ! grep -a -q -F "静默模式，不显示提示框: $text" "$WINEPREFIX/drive_c/users/root/Temp/OkuSetupLogs/oku_install.log"; then
    problems+=" no log line for the box a silent run does not show;"
  fi
  [ "$(installed)" = "$installs" ] || problems+=" installed: $(installed), expected $installs;"
  left=$(stray)
  if [ "$leaves" = no ] && [ -n "$left" ]; then problems+=" stray working directories: $left;"; fi
  if [ "$leaves" = yes ] && [ -z "$left" ]; then problems+=" expected its working directory left;"; fi
  (cd "$WINEPREFIX/drive_c" && rm -rf users/root/Temp/OkuSetup_* users/root/AppData/Local/OkuSetup dl/.OkuSetupTemp)
  if [ -n "$problems" ]; then
    echo "FAIL $program $args:$problems"
    failures=$((failures + 1))
  else
    shown=$status; [ "$expected" != cut ] && shown=$expected
    echo "ok   $program $args: exit $shown${seen:+, box \"$seen\"}, installed $installs, nothing left over"
  fi
  uninstall
done
exit $((failures > 0))
