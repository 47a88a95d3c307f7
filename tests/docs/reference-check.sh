#!/usr/bin/env bash
# reference-check.sh <source dir>
# Every exit code, analytics event and command-line form the code defines must be written down
# in the administrator reference (docs/). The lists are read from the code itself: the exit-code
# constants of the headers that hold them, the event names passed to the reporter, the reasons
# of "setup_installer_failed", and the literals the two command-line parsers compare with.
set -u
src="${1:?source dir}"
docs="$src/docs"
missing=0
fail() { echo "reference-check: $1" >&2; missing=$((missing + 1)); }

# Exit codes: integer constants named k... in the headers that define the programs' codes.
codes=$(grep -hoE 'constexpr int k[A-Za-z]+ = [0-9]+;' \
  "$src/setup/exit_codes.h" "$src/setup/quiet_install.h" "$src/setup/product_installer.h" \
  "$src/setup/delta_install.h" "$src/uninstall/uninstall_engine.h" | grep -oE '[0-9]+;' | tr -d ';' | sort -un)
timeout_code=$(grep -c 'kSetupTimeoutExitCode = WAIT_TIMEOUT' "$src/uninstall/uninstall_engine.h")
[ "$timeout_code" -gt 0 ] && codes="$codes 258"
[ -n "$codes" ] || fail "no exit codes found in the headers (moved?)"
for code in $codes; do
  [ "$code" = 6 ] && continue  # the engine's internal "ready" state, never a result
  grep -qE "(^|[^0-9])$code([^0-9]|$)" "$docs/exit-codes.md" || fail "exit code $code is not in docs/exit-codes.md"
done

# Events: every "setup_..." / "uninstall_..." literal handed to the reporter or an event scope.
events=$(grep -rhoE '(Report|EventScope [a-zA-Z]+|emplace|ReportEvent)\(\s*"(setup|uninstall)_[a-z0-9_]+"' \
  "$src/setup" "$src/uninstall" "$src/telemetry" "$src/common" --include=*.cpp | grep -oE '"[a-z0-9_]+"' | sort -u)
scoped=$(grep -rhoE '"(setup|uninstall)_[a-z0-9_]+_(start|completed|failed|done|fail)"' \
  "$src/setup" "$src/uninstall" --include=*.cpp | sort -u)
[ -n "$events" ] || fail "no events found in the code (moved?)"
for quoted in $events $scoped; do
  name=${quoted//\"/}
  grep -qF "\"$name\"" "$docs/analytics.md" && continue
  # A start/end family may be written as "x_start" / "_completed" / "_failed".
  suffix=${name##*_}
  stem=${name%_*}
  if grep -F "\"${stem}_start\"" "$docs/analytics.md" | grep -qF "\"_$suffix\""; then continue; fi
  fail "event $name is not in docs/analytics.md"
done
for reason in $(grep -rhoE 'ReportInstallerFailed\("[a-z_]+"' "$src/setup" --include=*.cpp | grep -oE '"[a-z_]+"' | tr -d '"' | sort -u); do
  grep -qF "\`$reason\`" "$docs/analytics.md" || fail "setup_installer_failed reason $reason is not in docs/analytics.md"
done

# Command-line forms: the literals the parsers compare arguments with.
forms=$(grep -hoE 'L"[^"]+"' "$src/setup/portable/install_options.cpp" "$src/uninstall/portable/uninstall_options.cpp" |
  sed -E 's/^L"(.*)"$/\1/' | grep -E '^(-|/|[a-z_]+$)' | sort -u)
forms="$forms $(grep -hoE 'kRemovalSwitch\[\] = L"[^"]+"' "$src/uninstall/self_delete.cpp" | sed -E 's/.*L"(.*)"/\1/')"
[ -n "$forms" ] || fail "no command-line forms found in the parsers (moved?)"
for form in $forms; do
  grep -qF "\`$form" "$docs/command-line.md" || fail "command-line form $form is not in docs/command-line.md"
done

if [ "$missing" -gt 0 ]; then
  echo "reference-check: $missing item(s) of the code are missing from the reference" >&2
  exit 1
fi
echo "reference-check: every exit code, event and command-line form is in the reference"
