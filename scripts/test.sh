#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then a short pass of the
# core's own suites under AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/test-sanitizers.sh quick; the full sanitizer runs are
# scripts/test-sanitizers.sh [address|thread]). VELKOR_SKIP_SANITIZERS=1
# leaves the pass out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
cd "$root/build"
ctest --output-on-failure -j"$(nproc)"
if [ "${VELKOR_SKIP_SANITIZERS:-0}" != 1 ]; then
  "$root/scripts/test-sanitizers.sh" quick
fi
