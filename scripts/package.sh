#!/usr/bin/env bash
# Builds the Debian package velkor350qn_VERSION_ARCH.deb in build-package/
# (a Release build of its own, without the tests), for example
#   scripts/package.sh && sudo apt install ./build-package/velkor350qn_*.deb
# docs/install.md says what it holds and what it depends on.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
build="$root/build-package"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_TESTS=OFF
cmake --build "$build" -j"$(nproc)"
(cd "$build" && rm -f velkor350qn_*.deb && cpack -G DEB)
echo "Built: $(ls "$build"/velkor350qn_*.deb)"
