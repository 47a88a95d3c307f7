#!/usr/bin/env bash
# check-imports.sh <objdump> <program.exe>...
# Fails when a program's import table names a DLL the loader could take from the program's own
# folder. On Windows only KnownDLLs are always mapped from the system directory; under Wine even
# those are not safe (its shell32 and shlwapi forward exports to shcore, which the loader then
# looks for beside the program first), so the list is the strict one: kernel32 and msvcrt, which
# both need before the first line of wWinMain, ntdll, and API sets. Everything else is
# delay-loaded after wWinMain restricts the search (cmake/OkuDelayLoad.cmake).
set -u
objdump="$1"; shift
allowed=" kernel32.dll msvcrt.dll ntdll.dll "
status=0
for program in "$@"; do
  if ! names=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p'); then
    echo "check-imports: cannot read $program" >&2
    exit 2
  fi
  for name in $names; do
    lower=$(printf '%s' "$name" | tr 'A-Z' 'a-z')
    case "$lower" in api-ms-win-*|ext-ms-win-*) continue ;; esac
    if [[ "$allowed" != *" $lower "* ]]; then
      echo "check-imports: $(basename "$program") imports $name, which the loader could take from beside it; link it through its delay-load library instead" >&2
      status=1
    fi
  done
  echo "check-imports: $(basename "$program"): $(echo $names)"
done
exit $status
