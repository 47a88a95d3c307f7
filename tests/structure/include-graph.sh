#!/usr/bin/env bash
# include-graph.sh <source root>
# The include graph of the shipped modules, checked two ways:
#   - a header and its .cpp are one unit; the units' graph has no cycle (tsort names the loop);
#   - an include between modules goes down the layers below, never up or sideways.
# Modules and layers (a module may include its own layer's module and every lower layer):
#   1 common
#   2 workspace, telemetry, ui
#   3 uninstall
#   4 setup core: records, checks, pipeline, product installer, incremental update, progress
#   5 setup window (setup/window/)
#   6 setup program: entry, startup, silent installation, window mode
set -u
root="${1:?source root}"
cd "$root" || exit 2

setup_program_units=" setup/main setup/entry setup/startup setup/quiet_install setup/window_mode setup/payload_groups "

module_of() {  # module_of <unit> -> "<layer> <name>"
  case "$1" in
    common/*) echo "1 common" ;;
    workspace/*) echo "2 workspace" ;;
    telemetry/*) echo "2 telemetry" ;;
    ui/*) echo "2 ui" ;;
    uninstall/*) echo "3 uninstall" ;;
    setup/window/*) echo "5 setup_window" ;;
    setup/*) case "$setup_program_units" in *" $1 "*) echo "6 setup_program" ;; *) echo "4 setup_core" ;; esac ;;
    *) echo "0 other" ;;
  esac
}

edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
status=0
while IFS= read -r file; do
  unit="${file%.*}"
  read -r from_layer from_module <<<"$(module_of "$unit")"
  while IFS= read -r included; do
    [ -f "$included" ] || continue  # system and generated headers
    target="${included%.*}"
    [ "$target" = "$unit" ] && continue
    echo "$unit $target" >>"$edges"
    read -r to_layer to_module <<<"$(module_of "$target")"
    if [ "$to_module" != "$from_module" ] && [ "$to_layer" -ge "$from_layer" ]; then
      echo "layering: $file ($from_module) includes $included ($to_module)"
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find common workspace telemetry ui uninstall setup -name '*.h' -o -name '*.cpp' | LC_ALL=C sort)

if ! tsort "$edges" >/dev/null 2>"$edges.loops"; then
  echo "include cycles between units (a header with its .cpp):"
  sed -e 's/^tsort: [^:]*: input contains a loop:$/  a loop:/' -e 's/^tsort: /    /' "$edges.loops"
  status=1
fi
rm -f "$edges.loops"
units=$(tr ' ' '\n' <"$edges" | sort -u | wc -l)
echo "include graph: $(wc -l <"$edges") includes between $units units checked"
exit $status
