#!/usr/bin/env bash
# Runs every benchmark on this machine under Wine and writes docs/performance.md: each figure as a
# ratio against a baseline measured in the same run, with the machine described. About 10 minutes.
#   - extraction vs CopyFileW and peak private memory (bench/run.sh)
#   - update package: patch size, apply vs xdelta3 -d, ComputeFileSha256 vs sha256sum
#     (bench/delta/run.sh; without it bench/zucchini/run.sh)
#   - silent installation of the demo product in fresh prefix copies, split from its session log
#   - window mode: process start to the first painted frame (bench/paint_probe.cpp)
#   - sizes of OkuSetup.exe without payload and OkuUninstall.exe, largest contributors (linker maps)
#   - reporter per event and session log per line (bench/reporter_bench.cpp, session_log_bench.cpp)
# Usage: bench/run-all.sh [windows-build-dir]   (default build/; needs an X display for the window
# figures and starts Xvfb itself when there is none). OKU_PERF_REPORT: output (docs/performance.md).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ] && [ -z "${OKU_RUN_ALL_XVFB:-}" ] && command -v xvfb-run >/dev/null; then
  OKU_RUN_ALL_XVFB=1 exec xvfb-run -a -s "-screen 0 1600x1200x24" "$0" "$@"
fi
build=${1:-$root/build}
report=${OKU_PERF_REPORT:-$root/docs/performance.md}
rounds_silent=3
rounds_window=5

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
build=$(cd "$build" && pwd)
out=$build/bench/run-all
rm -rf "$out"
mkdir -p "$out"
log() { printf '[run-all %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
started=$(date +%s)

log "building the programs and the probes"
ninja -C "$build" OkuSetup OkuUninstall bench_probes >/dev/null
template=$build/wineprefix
if [ ! -f "$template/system.reg" ]; then "$root/tests/harness/make-prefix.sh" "$template" >/dev/null; fi
bench=$build/bench
user=$(id -un)  # Wine's user folder
winpath() { echo "Z:$(echo "$1" | sed 's#/#\\#g')"; }

# --- the machine ---------------------------------------------------------------------------------
{
  echo "cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1)"
  echo "cores=$(nproc)"
  echo "threads_per_core=$(lscpu | sed -n 's/^Thread(s) per core: *//p' | head -1)"
  echo "hypervisor=$(lscpu | sed -n 's/^Hypervisor vendor: *//p' | head -1)"
  echo "ram_mib=$(awk '/^MemTotal/ {printf "%d", $2 / 1024}' /proc/meminfo)"
  echo "wine=$(wine --version 2>/dev/null | head -1)"
  echo "kernel=$(uname -r)"
  echo "os=$(. /etc/os-release && echo "$PRETTY_NAME")"
  echo "mingw=$(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null || echo unknown)"
  dev=$(df --output=source "$build" | tail -1)
  echo "disk_fs=$(df --output=fstype "$build" | tail -1)"
  echo "disk_device=$dev"
  name=$(basename "$dev")
  echo "disk_size=$(lsblk -dno SIZE "$dev" 2>/dev/null | tr -d ' ' || true)"
  echo "disk_rotational=$(cat "/sys/block/$name/queue/rotational" 2>/dev/null || echo unknown)"
  echo "load_before=$(cut -d' ' -f1-3 /proc/loadavg)"
  echo "date=$(date -u +%Y-%m-%dT%H:%MZ)"
  echo "commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "window_in_git=$(git -C "$root" log --oneline -1 -- setup/window 2>/dev/null | cut -c1-7)"
} >"$out/machine.txt"

# --- sizes ---------------------------------------------------------------------------------------
{
  echo "setup_full $(stat -c %s "$build/bin/OkuSetup.exe")"
  echo "setup_no_payload $(stat -c %s "$bench/OkuSetup_no_payload.exe")"
  echo "uninstall $(stat -c %s "$build/bin/OkuUninstall.exe")"
  echo "uninstall_map_build $(stat -c %s "$bench/OkuUninstall_map.exe")"
  echo "bare_window $(stat -c %s "$bench/bare_window.exe")"
} >"$out/sizes.txt"
python3 "$root/bench/map_contributors.py" "$bench/OkuSetup_no_payload.map" 12 >"$out/contributors_setup.txt"
python3 "$root/bench/map_contributors.py" "$bench/OkuUninstall.map" 12 >"$out/contributors_uninstall.txt"

# --- extraction ----------------------------------------------------------------------------------
log "extraction benchmark (bench/run.sh)"
ninja -C "$build" extract_bench >/dev/null  # the 190 MiB payload is generated before sampling starts
"$root/bench/run.sh" "$build" >"$out/extract.txt" 2>&1 &
runner=$!
# Linux's view of the benchmark process's private memory (Wine reports no PrivateUsage): its
# resident anonymous pages, sampled every 20 ms; the first sample is the process just started.
first_kib="" peak_kib=0
while kill -0 "$runner" 2>/dev/null; do
  for pid in $(pgrep -f 'extract_bench[.]exe' || true); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "extract_bench.e" ] || continue
    kib=$(awk '/^RssAnon/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$kib" ] || continue
    [ -n "$first_kib" ] || first_kib=$kib
    [ "$kib" -le "$peak_kib" ] || peak_kib=$kib
  done
  sleep 0.02
done
wait "$runner" || echo "FAILED: bench/run.sh exit $?" >>"$out/extract.txt"
echo "rss_anon_first_kib ${first_kib:-0} rss_anon_peak_kib $peak_kib" >"$out/extract_rss.txt"

# --- update package: patch size, apply, SHA-256 --------------------------------------------------
if [ -x "$root/bench/delta/run.sh" ]; then
  log "update-package benchmark (bench/delta/run.sh)"
  "$root/bench/delta/run.sh" "$build" >"$out/delta.txt" 2>&1 || echo "FAILED: bench/delta/run.sh exit $?" >>"$out/delta.txt"
else
  log "patcher benchmark (bench/zucchini/run.sh; bench/delta/run.sh is missing)"
  "$root/bench/zucchini/run.sh" "$build" >"$out/zucchini.txt" 2>&1 || echo "FAILED: bench/zucchini/run.sh exit $?" >>"$out/zucchini.txt"
fi

# --- a fresh prefix copy with a persistent wineserver and its desktop process running (as on
# Windows, where both are there before any program starts) -------------------------------------
fresh_prefix() {
  local prefix=$1
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
  cp -a "$template" "$prefix"
  WINEPREFIX=$prefix wineserver -p
  WINEPREFIX=$prefix "$build/wine-run.sh" "$bench/bare_window.exe" --desktop >/dev/null 2>&1 || true
}
end_prefix() {
  WINEPREFIX=$1 timeout 30 wineserver -k 2>/dev/null || true
  rm -rf "$1"
}
# wall(cmd...): seconds of one run; its exit code in $out/last_rc.
wall() {
  local t0 t1 rc=0
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || rc=$?
  t1=$(date +%s.%N)
  echo "$rc" >"$out/last_rc"
  echo "$t1 - $t0" | bc -l
}

# --- silent installation -------------------------------------------------------------------------
log "silent installation, $rounds_silent rounds in fresh prefix copies"
for round in $(seq 1 "$rounds_silent"); do
  prefix=$out/prefix-silent
  fresh_prefix "$prefix"
  export WINEPREFIX=$prefix
  base=""
  for i in 1 2 3; do
    t=$(wall "$build/wine-run.sh" "$bench/bare_window.exe" --exit)
    if [ -z "$base" ] || [ "$(echo "$t < $base" | bc -l)" = 1 ]; then base=$t; fi
  done
  t=$(wall "$build/wine-run.sh" "$build/bin/OkuSetup.exe" /S)
  rc=$(cat "$out/last_rc")
  user_dir=$prefix/drive_c/users/$user
  cp "$user_dir/AppData/Local/oku.compass/Application/oku_install.log" "$out/silent-$round.log" 2>/dev/null || true
  cp "$user_dir/AppData/Local/Velmora/Lantern/outbox.jsonl" "$out/silent-$round.outbox" 2>/dev/null || true
  echo "round $round wall_s $t exit $rc wine_start_exit_s $base" >>"$out/silent.txt"
  unset WINEPREFIX
  end_prefix "$prefix"
done

# --- window mode ---------------------------------------------------------------------------------
if [ -n "${DISPLAY:-}" ]; then
  log "window mode, $rounds_window rounds (bare window baseline first)"
  prefix=$out/prefix-window
  fresh_prefix "$prefix"
  export WINEPREFIX=$prefix
  OKU_WINE_TIMEOUT=300 "$build/wine-run.sh" "$bench/paint_probe.exe" "$(winpath "$bench/bare_window.exe")" \
    OkuBareWindow "$rounds_window" >"$out/window-bare.txt" 2>&1 || echo "FAILED: exit $?" >>"$out/window-bare.txt"
  OKU_WINE_TIMEOUT=300 "$build/wine-run.sh" "$bench/paint_probe.exe" "$(winpath "$build/bin/OkuSetup.exe")" \
    OkuSetup "$rounds_window" "C:\\users\\$user\\Temp\\OkuSetupLogs\\oku_install.log" "UI资源解压完成" \
    >"$out/window-setup.txt" 2>&1 || echo "FAILED: exit $?" >>"$out/window-setup.txt"
  cp "$prefix/drive_c/users/$user/Temp/OkuSetupLogs/oku_install.log" "$out/window-last.log" 2>/dev/null || true
  unset WINEPREFIX
  end_prefix "$prefix"
else
  echo "no X display: window figures not measured" >"$out/window-setup.txt"
fi

# --- micro-benchmarks ----------------------------------------------------------------------------
log "reporter and session log micro-benchmarks"
prefix=$out/prefix-micro
fresh_prefix "$prefix"
WINEPREFIX=$prefix "$build/wine-run.sh" "$bench/reporter_bench.exe" "$(winpath "$build/payload/targets")" \
  >"$out/reporter.txt" 2>&1 || echo "FAILED: exit $?" >>"$out/reporter.txt"
WINEPREFIX=$prefix "$build/wine-run.sh" "$bench/session_log_bench.exe" >"$out/session_log.txt" 2>&1 ||
  echo "FAILED: exit $?" >>"$out/session_log.txt"
end_prefix "$prefix"

echo "load_after=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"
echo "run_seconds=$(($(date +%s) - started))" >>"$out/machine.txt"
python3 "$root/bench/write_report.py" "$out" "$report"
log "wrote $report (raw outputs in $out)"
