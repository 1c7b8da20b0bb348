#!/usr/bin/env bash
# Renders the PNG sizes of the icon from velkor350qn.svg (run after editing
# the drawing; needs rsvg-convert, Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" velkor350qn.svg --output "velkor350qn-$size.png"
done
