#!/usr/bin/env bash
# Builds the tests (and the tools, plug-ins and stand-ins they start) with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/ and runs the tests under them, on a private
# session bus, offscreen. The first fault stops the process that made it, which fails its test.
# Extra arguments go to CTest: ./scripts/test-sanitizers.sh -L unit
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NBR_ASAN_BUILD_DIR:-$top/build-asan}
"$top/scripts/setup.sh"
# Line tables are all a sanitizer's report needs for its file:line frames.
cmake -S "$top" -B "$build" -G Ninja -DNBR_SANITIZE=ON -DNBR_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" >/dev/null
# With one label (-L unit), only that label's tests and what they start are built.
labels=()
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  if [ "${args[i]}" = -L ] && [ $((i + 1)) -lt ${#args[@]} ]; then
    labels+=("${args[i + 1]}")
  fi
done
targets=()
[ ${#labels[@]} -ne 1 ] || targets=(--target "tests-${labels[0]}")
cmake --build "$build" -j"${NBR_JOBS:-$(nproc)}" "${targets[@]}"

supp=$top/scripts/sanitizers
# Child processes that tests start inherit these, so they run under the same rules.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1:suppressions=$supp/asan.supp
export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp

"$top/scripts/run-ctest.sh" "$build" "$@"
