#!/usr/bin/env bash
# window-scenario.sh [--drives] <command> [args...]
# Runs one window scenario: needs an X display (Xvfb); skips (77) without one. With --drives,
# two small drives are mapped into the scenario's prefix while it runs:
#   R:  read-only tmpfs (a folder nobody may write)
#   S:  tmpfs of 64 MiB (far less than 1 GiB free)
# Mounting needs root; without it the drives are missing and the scenario skips them.
set -u
if [ -z "${DISPLAY:-}" ]; then
  echo "window-scenario: no X display (run under xvfb-run); skipped" >&2
  exit 77
fi
. "$(dirname "$0")/../harness/drives.sh"
if [ "${1:-}" = "--drives" ]; then
  shift
  oku_drives_begin window
  oku_tmpfs r 8M ro locked && oku_map_drive R r
  oku_tmpfs s 64M && oku_map_drive S s
fi
mkdir -p "${OKU_ARTIFACT_DIR:-/tmp}"
"$@"
