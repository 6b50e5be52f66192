#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing. One line per
# step; apt-get's own output goes to a log (build/setup.log, or under $TMPDIR when that cannot be
# written), shown in full with NBR_VERBOSE=1 or --verbose, its tail when a step fails.
set -euo pipefail

verbose=${NBR_VERBOSE:-0}
for argument in "$@"; do
  case $argument in
    --verbose) verbose=1 ;;
    --help)
      echo "usage: $0 [--verbose]"
      echo
      echo "Installs the Debian packages Nimbrel's build, tests and demo need, when missing."
      exit 0 ;;
    *) echo "$0: unknown option $argument" >&2; echo "usage: $0 [--verbose]" >&2; exit 2 ;;
  esac
done

packages=(
  build-essential cmake ninja-build pkg-config mold
  qt6-base-dev qt6-qpa-plugins libqt6widgets6 libqt6test6 libplist-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  dbus python3-dbusmock fonts-dejavu-core
  xvfb libx11-dev libxtst-dev dunst
  clang libclang-rt-14-dev
  umockdev libumockdev-dev zlib1g-dev libevdev-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

top=$(cd "$(dirname "$0")/.." && pwd)
build=${NBR_BUILD_DIR:-$top/build}
log=$build/setup.log
if ! { mkdir -p "$build" && : >"$log"; } 2>/dev/null; then
  log=$(mktemp "${TMPDIR:-/tmp}/nbr-setup.XXXXXX.log")
fi

# Runs one step: its output to the log, and to the terminal too when verbose.
step() {
  local status=0
  if [ "$verbose" = 1 ]; then
    "$@" 2>&1 | tee -a "$log" || status=$?
  else
    "$@" >>"$log" 2>&1 </dev/null || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    echo "Failed (status $status): $*" >&2
    echo "The last lines of $log:" >&2
    tail -n 20 "$log" >&2
    exit "$status"
  fi
}

echo "Installing ${#missing[@]} packages: ${missing[*]}"
echo "Full log: $log"
echo "Updating package lists…"
step $sudo env DEBIAN_FRONTEND=noninteractive apt-get update
step $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  "${missing[@]}"
echo "Done"
