#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer)
# into build-fuzz/ and runs each for a while on its seed corpus (fuzz/corpus/<target>/, read
# only; what the run finds goes to build-fuzz/corpus/<target>/). A crash leaves its input in
# build-fuzz/artifacts/ and fails the script.
#   ./scripts/fuzz.sh [seconds-per-target]   (default 12 each, one target per core at a time)
#   ./scripts/fuzz.sh 600                    (the longer run)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-12}
build=${NBR_FUZZ_BUILD_DIR:-$top/build-fuzz}
targets=(fuzz_discovery_packets fuzz_preferences_plist fuzz_hex_color fuzz_control_replies
  fuzz_progress_userinfo)

"$top/scripts/setup.sh"
# Line tables are all a sanitizer's report needs for its file:line frames.
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DNBR_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" >/dev/null
cmake --build "$build" -j"${NBR_JOBS:-$(nproc)}" --target "${targets[@]}"

supp=$top/scripts/sanitizers
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:suppressions=$supp/asan.supp
export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp
export QT_QPA_PLATFORM=offscreen
mkdir -p "$build/artifacts"
# One target per core at a time: each still fuzzes for its full time.
run() {
  local target=$1
  mkdir -p "$build/corpus/$target"
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
    "$build/corpus/$target" "$top/fuzz/corpus/$target" 2>"$build/$target.log"
}
declare -A pids
jobs=${NBR_JOBS:-$(nproc)}
status=0
report() {
  local target=$1
  if ! wait "${pids[$target]}"; then
    tail -n 40 "$build/$target.log"
    echo "== $target: FAILED (log: $build/$target.log)"
    status=1
  else
    echo "== $target: ${seconds}s"
    grep -E "stat::number_of_executed_units|cov:" "$build/$target.log" | tail -n 2
  fi
}
for ((i = 0; i < ${#targets[@]}; i++)); do
  run "${targets[i]}" &
  pids[${targets[i]}]=$!
  # Once `jobs` are under way, the oldest is waited for before the next starts.
  if ((i >= jobs - 1)); then
    report "${targets[i - jobs + 1]}"
  fi
done
for ((i = ${#targets[@]} - jobs + 1; i < ${#targets[@]}; i++)); do
  ((i >= 0)) && report "${targets[i]}"
done
exit $status
