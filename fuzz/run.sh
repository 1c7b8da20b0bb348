#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for RUNS executions from
# its seed corpus.
#
#   fuzz/run.sh RUNS [TARGET...]   build, then run the targets (all by default)
#   fuzz/run.sh --seeds            build, then rewrite fuzz/corpus/ from the
#                                  program's own writers
#
# The seeds are copied to a scratch corpus under build-fuzz/, so a run never
# changes the committed ones; inputs that fail are kept in
# build-fuzz/artifacts/TARGET/. Exits non-zero when any target fails
# (crash, leak, sanitizer report, time-out). One line per target:
#   fuzz TARGET runs=N seconds=S result=ok|FAILED
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build="$root/build-fuzz"
all_targets=(intel_hex srecord hex_text binary project_file firmware_file link_receive)

if [[ $# -lt 1 ]]; then
  echo "usage: $0 RUNS [TARGET...] | $0 --seeds" >&2
  exit 2
fi

export CC="${CC:-clang-14}" CXX="${CXX:-clang++-14}"
mkdir -p "$build"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=None >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j "$(nproc)" >"$build/build.log" 2>&1 || { tail -50 "$build/build.log" >&2; exit 1; }

if [[ $1 == --seeds ]]; then
  rm -rf "$here/corpus"
  "$build/write_seeds" "$here/corpus"
  find "$here/corpus" -type f | sort
  exit 0
fi

runs=$1
shift
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=("${all_targets[@]}")

failed=0
for target in "${targets[@]}"; do
  exe="$build/$target"
  [[ -x $exe ]] || { echo "no fuzz target $target" >&2; exit 2; }
  scratch="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  rm -rf "$scratch"
  mkdir -p "$scratch" "$artifacts"
  [[ -d $here/corpus/$target ]] && cp "$here/corpus/$target"/* "$scratch"/
  log="$build/$target.log"
  start=$(date +%s.%N)
  status=0
  # The regression inputs run first, so a defect found once stays in view.
  regressions=()
  [[ -d $here/regressions/$target ]] && regressions=("$here/regressions/$target")
  "$exe" -runs="$runs" -detect_leaks=1 -timeout=25 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$scratch" "${regressions[@]}" >"$log" 2>&1 || status=$?
  seconds=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  result=ok
  if [[ $status -ne 0 ]] || grep -qE '^==[0-9]+==ERROR|runtime error:|^SUMMARY:' "$log"; then
    result=FAILED
    failed=1
    echo "--- $target: see $log" >&2
    grep -E 'ERROR|runtime error|SUMMARY|Test unit written' "$log" | head -5 >&2 || true
  fi
  echo "fuzz $target runs=${executed:-0} seconds=$seconds result=$result"
done
exit $failed
