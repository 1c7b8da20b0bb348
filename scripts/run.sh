#!/usr/bin/env bash
# Builds and starts the window; arguments go to the program, for example
#   scripts/run.sh --simulate              two simulated programmers
#   scripts/run.sh --ports ttyUSB0,ttyUSB1 real programmers
# The program runs in build/run, which holds the programmers' firmware file
# and gets the Log folder. Relative paths among the arguments are taken from
# there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
cd "$root/build/run"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running without a window; the information log follows." >&2
  exec env QT_QPA_PLATFORM=offscreen "$root/build/ui/velkor350qn" --echo-log "$@"
fi
exec "$root/build/ui/velkor350qn" "$@"
