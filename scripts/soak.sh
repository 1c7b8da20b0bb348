#!/usr/bin/env bash
# Soak run: builds the simulator and velkor-soak, then drives two simulated
# programmers through CYCLES automatic programming cycles (default 2000) and
# prints one line of figures. Exits non-zero when a counter is off, a cycle
# fails or hangs, or memory, descriptors or threads grew.
#
#   scripts/soak.sh [CYCLES]
#
# VELKOR_SOAK_BUILD names the build directory (default build-soak/, a Release
# build without the window); it is configured on first use.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cycles=${1:-2000}
build=${VELKOR_SOAK_BUILD:-$root/build-soak}
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_UI=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target velkor-sim velkor-soak >/dev/null
VELKOR_SIM="$build/sim/velkor-sim" exec "$build/tests/soak/velkor-soak" "$cycles"
