#!/usr/bin/env bash
# The window program and its settings file: a FILE named on the command line
# is loaded once the window has started (the digest the log shows is the
# file's own), the settings file is written at the XDG place when the window
# closes, a remembered chip is chosen at the next start, and --fresh ignores
# what is stored but still writes the settings back.
set -euo pipefail
window=$1
firmware=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$firmware" "$scratch/"
cd "$scratch"
export QT_QPA_PLATFORM=offscreen
export XDG_CONFIG_HOME="$scratch/config"
settings="$XDG_CONFIG_HOME/velkor350qn/velkor350qn.conf"
run() { timeout 60 "$window" --echo-log --exit-after 1500 "$@" 2>/dev/null; }
fail() { echo "$1"; cat log.txt; exit 1; }

# Whole 4 KB: with no chip chosen the used range is cut to whole blocks.
seq 1 2000 | head -c 4096 > data.bin
run data.bin > log.txt
grep -q ' Load object file : data.bin$' log.txt || fail "data.bin was not loaded"
sum=$(sha256sum data.bin | cut -d' ' -f1)
grep -q "Image 0x000000-0x000FFF: SHA-256 $sum," log.txt || fail "the image's digest is not the file's ($sum)"
[ -f "$settings" ] || fail "no settings file at $settings"
grep -q "^recentFiles=.*$scratch/data.bin" "$settings" || { cat "$settings"; fail "data.bin is not among the recent files"; }

printf '[General]\nchip=24xx02\n' > "$settings"
run > log.txt
grep -q ' Chip "24xx02" is selectd\.$' log.txt || fail "the remembered chip was not chosen"
run --fresh > log.txt
if grep -q 'is selectd\.' log.txt; then fail "--fresh chose the remembered chip"; fi
run > log.txt
if grep -q 'is selectd\.' log.txt; then fail "--fresh did not write its settings back"; fi

status=0
"$window" data.bin other.bin > log.txt 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "two FILEs were not refused (status $status)"
echo "remembered settings check passed"
