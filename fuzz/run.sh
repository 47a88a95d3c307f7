#!/usr/bin/env bash
# fuzz/run.sh [seconds per harness] [harness...]
# Builds the libFuzzer harnesses natively with Clang (AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a bounded time on a working copy of its committed corpus. Crashes land in
# <build>/fuzz-out/<name>/; the exit status is non-zero when any harness failed.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"; shift || true
build="${OKU_FUZZ_BUILD_DIR:-build-fuzz}"
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
fi
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for dir in fuzz/*/; do
    name=$(basename "$dir")
    [ -f "fuzz/$name/${name}_fuzz.cpp" ] && names+=("$name")
  done
fi
targets=()
for name in "${names[@]}"; do targets+=("fuzz_$name"); done
cmake --build "$build" -j "${OKU_FUZZ_JOBS:-2}" --target "${targets[@]}" || exit 1

status=0
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
for name in "${names[@]}"; do
  out="$build/fuzz-out/$name"
  rm -rf "$out" && mkdir -p "$out/corpus"
  cp fuzz/"$name"/corpus/* "$out/corpus/"
  dict=()
  [ -f "fuzz/$name/$name.dict" ] && dict=(-dict="fuzz/$name/$name.dict")
  echo "== $name: ${seconds}s"
  if timeout -k 10 $((seconds + 60)) "$build/fuzz/fuzz_$name" "$out/corpus" "${dict[@]}" \
      -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$out/" -print_final_stats=1 >"$out/log.txt" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$out/log.txt" | grep -o '[0-9]*$')
    echo "   ok: ${runs:-?} executions, corpus $(ls "$out/corpus" | wc -l) inputs"
  else
    status=1
    echo "   FAILED (see $out/log.txt):"
    grep -m5 -E 'ERROR|runtime error|deadly|Test unit written' "$out/log.txt" | sed 's/^/   /'
  fi
done
exit $status
