#!/usr/bin/env bash
# The main job: builds, then runs the demo on a private session bus under a fresh device root.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NBR_BUILD_DIR:-$top/build}
NBR_BUILD_DIR=$build "$top/scripts/build.sh"
exec dbus-run-session -- "$top/demo/run-demo.sh" "$build"
