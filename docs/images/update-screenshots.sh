#!/usr/bin/env bash
# Copies the window suite's screenshots of the four window states into docs/images/, cropped to
# the window (ImageMagick's trim: the desktop around it is one colour). The window scenarios
# write them into <build>/artifacts/window/; run them first:
#   cd build && xvfb-run -a -s "-screen 0 1600x1200x24" ctest \
#     -R 'window_(WindowInstall_OptionsViewInstallProgressAndCompletion|WindowFailure_FailingProductInstallerShowsItsCodeAndEndsWithIt)$'
set -euo pipefail
cd "$(dirname "$0")/../.."
artifacts=${1:-build/artifacts/window}
# <artifact>|<image in docs/images>
shots=(
  "options_view|window-options.png"
  "progress_view|window-progress.png"
  "failure_view|window-failure.png"
  "product_launched|window-completion.png"
)
for shot in "${shots[@]}"; do
  [ -f "$artifacts/${shot%%|*}.png" ] || { echo "update-screenshots: no $artifacts/${shot%%|*}.png (run the window scenarios first)" >&2; exit 1; }
done
for shot in "${shots[@]}"; do
  # -strip: no timestamps or other chunks, so that the same screen gives the same file.
  convert "$artifacts/${shot%%|*}.png" -trim +repage -strip "docs/images/${shot#*|}"
  echo "docs/images/${shot#*|}"
done
