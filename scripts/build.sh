#!/usr/bin/env bash
# Configures build/ (override with NBR_BUILD_DIR) and builds the targets given, everything when
# none. Every command configures it the same way (warnings as errors), so the demo's build and
# the tests' build are one build: what one compiled, the other reuses.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
build=${NBR_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DNBR_WERROR=ON >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" "${targets[@]}"
