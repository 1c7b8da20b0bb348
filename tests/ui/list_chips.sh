#!/usr/bin/env bash
# The chip listing opens no window: it works where no display and no Qt
# platform is to be had, prints every catalogue entry and exits 0.
set -euo pipefail
window=$1
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=none-at-all "$window" --list-chips)
entries=$(printf '%s\n' "$out" | grep -c '^{"menu":\[.*\],"caption":"[^"]*","hidden":\(true\|false\),"fields":{.*},"origin":"built-in"}$' || true)
total=$(printf '%s\n' "$out" | wc -l)
echo "$entries well-formed lines of $total"
[ "$entries" -eq 188 ] && [ "$total" -eq 188 ]
