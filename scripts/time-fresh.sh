#!/usr/bin/env bash
# Clones this repository into a fresh folder and times the README's two commands there, as a new
# user meets them: ./scripts/demo.sh (to its first walkthrough step and to its end), then
# ./scripts/test.sh right after it. --test-alone also times ./scripts/test.sh on a second fresh
# clone, --ci times .ci/run on a third. Packages are installed by the first command that needs
# them (scripts/setup.sh), so on a machine that lacks them the first figure includes apt-get.
#   ./scripts/time-fresh.sh [--test-alone] [--ci] [--keep]   (logs in each clone's time-fresh/)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
test_alone=0 ci=0 keep=0
for arg in "$@"; do
  case $arg in
    --test-alone) test_alone=1 ;;
    --ci) ci=1 ;;
    --keep) keep=1 ;;
    *) echo "usage: $0 [--test-alone] [--ci] [--keep]" >&2; exit 2 ;;
  esac
done

base=$(mktemp -d /tmp/nbr-fresh.XXXXXX)
[ $keep -eq 1 ] || trap 'rm -rf "$base"' EXIT
results=()

now() { date +%s.%N; }
span() { awk -v a="$1" -v b="$2" 'BEGIN { s = b - a; printf "%d min %04.1f s", s / 60, s - 60 * int(s / 60) }'; }

fresh_clone() {
  git clone -q "$top" "$base/$1"
  mkdir -p "$base/$1/time-fresh"
  echo "$base/$1"
}

# Runs a command in a clone, its output in a log; sets took (the span) and returns its status.
timed() {
  local dir=$1 log=$2
  shift 2
  local start status=0
  start=$(now)
  (cd "$dir" && "$@") >"$dir/time-fresh/$log" 2>&1 || status=$?
  took=$(span "$start" "$(now)")
  return $status
}

# The demo, with the moment its first step starts.
clone=$(fresh_clone main)
start=$(now)
first=""
status=0
(cd "$clone" && ./scripts/demo.sh --scripted) 2>&1 | while IFS= read -r line; do
  printf '%s\n' "$line" >>"$clone/time-fresh/demo.log"
  case $line in "[1/8]"*) now >"$clone/time-fresh/first-step" ;; esac
done || status=$?
end=$(now)
[ -s "$clone/time-fresh/first-step" ] && first=$(span "$start" "$(cat "$clone/time-fresh/first-step")")
results+=("./scripts/demo.sh, clone to the first walkthrough step|${first:-never reached}")
results+=("./scripts/demo.sh, clone to its end (status $status)|$(span "$start" "$end")")

status=0
timed "$clone" test.log ./scripts/test.sh || status=$?
results+=("./scripts/test.sh right after the demo (status $status)|$took")

# A one-line change to the settings page, rebuilt with its tests run again.
echo "// touched by time-fresh" >>"$clone/settings/NimbrelListController.cpp"
status=0
timed "$clone" one-line.log ./scripts/test.sh -R 'NimbrelListController|Connection\.|Pairing' ||
  status=$?
results+=("one-line change in settings/NimbrelListController.cpp, rebuild + its tests (status $status)|$took")

if [ $test_alone -eq 1 ]; then
  clone=$(fresh_clone alone)
  status=0
  timed "$clone" test.log ./scripts/test.sh || status=$?
  results+=("./scripts/test.sh alone on a fresh clone (status $status)|$took")
fi
if [ $ci -eq 1 ]; then
  clone=$(fresh_clone ci)
  status=0
  timed "$clone" ci.log .ci/run || status=$?
  results+=(".ci/run on a fresh clone (status $status)|$took")
fi

echo
echo "fresh clones of $(git -C "$top" rev-parse --short HEAD) on $(nproc) cores, in $base"
for r in "${results[@]}"; do
  printf '  %-95s %s\n' "${r%%|*}" "${r##*|}"
done
[ $keep -eq 1 ] && echo "logs kept in $base/*/time-fresh/"
exit 0
