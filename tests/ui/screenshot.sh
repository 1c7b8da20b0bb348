#!/usr/bin/env bash
# The window's picture option: a chip chosen through the chip menu, a PNG of
# 1280x800 written, exit 0; a chip the menu does not offer is an error and
# leaves no picture; the picture after an automatic programming run on two
# simulated programmers is taken once both have succeeded.
set -euo pipefail
window=$1
firmware=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$firmware" "$scratch/"
cd "$scratch"
export QT_QPA_PLATFORM=offscreen

"$window" --screenshot-chip 24xx02 --screenshot shot.png 2>/dev/null
[ "$(head -c 8 shot.png | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || { echo "not a PNG"; exit 1; }
picture_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}'
}
size=$(picture_size shot.png)
[ "$size" = "1280x800" ] || { echo "picture is $size"; exit 1; }

seq 1 3000 > data.bin
"$window" --simulate --echo-log --screenshot-chip W25x10xx --screenshot-load data.bin --screenshot-auto \
  --screenshot auto.png > log.txt 2>/dev/null
[ "$(picture_size auto.png)" = "1280x800" ] || { echo "no picture after the automatic run"; exit 1; }
for n in 1 2; do
  grep -q "C$n: 操作成功！" log.txt || { echo "programmer $n did not succeed before the picture"; cat log.txt; exit 1; }
done

status=0
"$window" --screenshot-chip "NPC79nXBxx(8M)" --screenshot hidden.png 2>/dev/null || status=$?
[ "$status" -ne 0 ] || { echo "a hidden chip was accepted"; exit 1; }
[ ! -e hidden.png ] || { echo "a picture was written for a hidden chip"; exit 1; }
echo "screenshot check passed"
