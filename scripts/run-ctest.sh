#!/usr/bin/env bash
# Runs CTest in a build folder on a private session bus, offscreen: run-ctest.sh BUILD [ctest args]
set -euo pipefail
build=$1
shift
runtime=$(mktemp -d /tmp/nbr-xdg.XXXXXX)
chmod 0700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen
cd "$build"
# Most tests wait on the processes and sockets they drive as much as they compute: two per core.
dbus-run-session -- ctest --output-on-failure -j"$(($(nproc) * 2))" "$@"
