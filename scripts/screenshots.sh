#!/usr/bin/env bash
# Builds the program and renders the main window, without a display, at the
# size of a bench PC's screen (1280x800) with a chip chosen from the chip
# menu: docs/screenshots/<chip>.png. Pass another build directory as the
# first argument to use a build you already have.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-}
if [ -z "$build" ]; then
  "$root/scripts/build.sh"
  build="$root/build"
else
  cmake --build "$build" -j"$(nproc)" --target velkor350qn
fi
window="$build/ui/velkor350qn"
out="$root/docs/screenshots"
mkdir -p "$out"

# The window makes its log folder in the directory it starts in.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

shoot() {  # chip caption, file name
  (cd "$scratch" && QT_QPA_PLATFORM=offscreen "$window" --screenshot-chip "$1" --screenshot "$out/$2" 2>/dev/null)
  echo "$out/$2"
}
shoot "W25x128xx" w25x128xx.png
shoot "24xx02" 24xx02.png
