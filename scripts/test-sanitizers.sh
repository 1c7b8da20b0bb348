#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehavior-
# Sanitizer (build-asan/), or with ThreadSanitizer for the serial transport,
# the window's logic and the end-to-end tests (build-tsan/):
#   scripts/test-sanitizers.sh            address and undefined behaviour
#   scripts/test-sanitizers.sh thread     threads
#   scripts/test-sanitizers.sh quick      address and undefined behaviour for
#                                         the core's own suites only (no window,
#                                         no simulator): the pass scripts/test.sh
#                                         runs after the tests (build-asan-quick/)
# Any report fails the test that made it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
kind=${1:-address}
case "$kind" in
  address)
    build="$root/build-asan"
    flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
    tests="."
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export LSAN_OPTIONS=suppressions=$root/scripts/sanitizers/lsan.supp
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ;;
  quick)
    build="$root/build-asan-quick"
    # Unoptimised with line tables only: it builds in half the time of the
    # full run's flags, and the suites are quick either way.
    flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g1 -O0"
    # Everything read from outside (object, project and firmware files, the
    # link's bytes) and the window's logic, without the programs around them.
    suites=(text_tests link_tests data_tests chips_tests platform_tests app_tests)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export LSAN_OPTIONS=suppressions=$root/scripts/sanitizers/lsan.supp
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ;;
  thread)
    build="$root/build-tsan"
    flags="-fsanitize=thread -fno-omit-frame-pointer -g -O1"
    # The threads live in the serial transport; these suites drive it. The
    # window's suites are left out: Qt's own thread pool is not built with
    # the sanitizer, so its internals would be reported.
    tests="^(CommTest|ReassemblyTest|EventLoopTest|DiscoveryTest|OperationsEndToEndTest|TransfersTest|FailuresTest|ProgrammingTest|FirmwareTest|FrontEnd)\\."
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    ;;
  *)
    echo "usage: $0 [address|thread|quick]" >&2
    exit 2
    ;;
esac
if [ "$kind" = quick ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="${flags%% -g*}" -DVELKOR_BUILD_UI=OFF -DVELKOR_MAN_PAGES=OFF >/dev/null
  echo "sanitizers: building the core's suites with AddressSanitizer and UndefinedBehaviorSanitizer in $build"
  cmake --build "$build" -j"$(nproc)" --target "${suites[@]}" >"$build/build.log" 2>&1 ||
    { tail -50 "$build/build.log" >&2; exit 1; }
  for suite in "${suites[@]}"; do
    binary=$(find "$build/tests" -name "$suite" -type f -executable | head -1)
    echo "sanitizers: $suite"
    (cd "$build" && "$binary" --gtest_brief=1)
  done
  exit 0
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="${flags%% -g*}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest -j"$(nproc)" --output-on-failure -R "$tests"
