#!/usr/bin/env bash
# Builds everything (warnings as errors) and runs every test through CTest on a private session bus.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NBR_BUILD_DIR:-$top/build}
NBR_BUILD_DIR=$build "$top/scripts/build.sh" -DNBR_WERROR=ON

runtime=$(mktemp -d /tmp/nbr-xdg.XXXXXX)
chmod 0700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen
cd "$build"
dbus-run-session -- ctest --output-on-failure -j"$(nproc)" "$@"
