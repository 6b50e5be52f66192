#!/usr/bin/env bash
# The main job: builds what it runs, then runs the typical run with every process real, on a
# private session bus under a fresh device root. Under a display the user does it in the
# Settings window; otherwise a scripted walkthrough does it offscreen and saves a screenshot of
# every step. Extra arguments go to nbr-walkthrough (--scripted, --by-hand, --output DIR).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NBR_BUILD_DIR:-$top/build}
NBR_BUILD_DIR=$build "$top/scripts/build.sh" nbr-walkthrough
exec "$build/demo/nbr-walkthrough" --output "$build/walkthrough" "$@"
