#!/usr/bin/env bash
# The test command: bootstrap, build, then every test under Wine (in a private prefix under
# build/, with a virtual display) and the native tests of the platform-free logic.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh

status=0
if [ -f tests/native/CMakeLists.txt ]; then
  if [ ! -f build-native/build.ninja ]; then
    cmake -S . -B build-native -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  fi
  cmake --build build-native
  (cd build-native && ctest --output-on-failure --timeout 300) || status=1
fi

# Wine tests last, so CTest's summary line closes the output.
# Tests that drive windows with real mouse and keyboard input (label "input") run alone on the
# display, after the rest (other tests' windows would take their focus and clicks).
# A skipped test (a missing drive, display or mount) fails the command when running as root
# with the display, where every scenario can run.
cd build
results="$PWD/Testing/results"
mkdir -p "$results"
rm -f "$results"/pass-*.xml
xvfb-run -a -s "-screen 0 1600x1200x24" \
  ctest --output-on-failure --no-label-summary --timeout 600 -j "${OKU_TEST_JOBS:-2}" -LE input \
    --output-junit "$results/pass-1.xml" "$@" || status=1
xvfb-run -a -s "-screen 0 1600x1200x24" \
  ctest --output-on-failure --no-label-summary --timeout 600 -j 1 -L input \
    --output-junit "$results/pass-2.xml" "$@" || status=1

skipped=$(cat "$results"/pass-*.xml 2>/dev/null | tr '\n' ' ' |
  grep -o '<testcase name="[^"]*"[^>]*status="notrun">[[:space:]]*<skipped' |
  sed 's/<testcase name="\([^"]*\)".*/\1/' || true)
if [ -n "$skipped" ]; then
  echo "Skipped tests:"
  printf '  %s\n' $skipped
  if [ "$(id -u)" -eq 0 ]; then
    echo "test.sh: tests were skipped although this machine can run them (root, with a display)"
    status=1
  fi
fi
exit $status
