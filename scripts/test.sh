#!/usr/bin/env bash
# Builds everything (warnings as errors) and runs every test through CTest on a private session
# bus. Extra arguments go to CTest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NBR_BUILD_DIR:-$top/build}
NBR_BUILD_DIR=$build "$top/scripts/build.sh"
"$top/scripts/run-ctest.sh" "$build" "$@"
