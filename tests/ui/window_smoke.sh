#!/usr/bin/env bash
# The window starts without a display, finds two simulated programmers,
# closes on its own and takes the simulator with it; options for the
# simulator are passed on.
set -euo pipefail
window=$1
firmware=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
out="$scratch/log.txt"
# The program finds the programmers' firmware file in the directory it starts in.
cp "$firmware" "$scratch/"
cd "$scratch"
# The window's remembered settings stay in the scratch folder.
export XDG_CONFIG_HOME="$scratch/config"

# Simulators already running (another program's) are not this window's.
before=$(pgrep -x velkor-sim | sort || true)
status=0
QT_QPA_PLATFORM=offscreen timeout 60 "$window" --simulate --echo-log --exit-after 3000 >"$out" 2>/dev/null || status=$?
cat "$out"
[ "$status" -eq 0 ] || { echo "window exited with $status"; exit 1; }
found=$(grep -c ' C[12]: Find Device: Velkor350QN V3.10!$' "$out" || true)
[ "$found" -eq 2 ] || { echo "expected both programmers found, saw $found"; exit 1; }
grep -q '^> [0-9][0-9]:[0-9][0-9]:[0-9][0-9] Hello Velkor350QN-ED User! ----- ' "$out" || { echo "no greeting"; exit 1; }
if grep -q 'not Found!' "$out"; then echo "the firmware file was not found"; exit 1; fi
# Options for the simulated programmers reach them.
QT_QPA_PLATFORM=offscreen timeout 60 "$window" --simulate --sim-count 1 --sim-option=--version-text \
  --sim-option=V3.50 --echo-log --exit-after 1500 >"$out" 2>/dev/null
grep -q ' C1: Find Device: Velkor350QN V3.50!$' "$out" || { echo "the simulator option was not passed on"; cat "$out"; exit 1; }
# The simulator ends with the window: nothing of it may be left behind.
sleep 0.5
left=$(comm -13 <(echo "$before") <(pgrep -x velkor-sim | sort || true) | grep . || true)
if [ -n "$left" ]; then echo "simulator left running: $left"; exit 1; fi
echo "window smoke check passed"
