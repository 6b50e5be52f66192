#!/usr/bin/env bash
# The demo, run on a private session bus by scripts/demo.sh: a fresh device root, the
# controller daemon stand-in, and a client that queries, connects, sets the light-bar colour and
# disconnects. Each step prints what the client saw, the bytes the daemon received and the
# notifications it posted.
set -euo pipefail
build=${1:?build folder}
root=$(mktemp -d /tmp/nbr-demo.XXXXXX)
export NIMBREL_ROOT=$root
mkdir -p "$root/tmp" "$root/var/mobile/Library/Preferences"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Starts a process whose output goes to FILE and waits for its "ready" line.
start() {
  local out=$1; shift
  "$@" >"$out" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do grep -qx ready "$out" && return 0; sleep 0.02; done
  echo "demo: $1 did not become ready" >&2; cat "$out" >&2; exit 1
}

daemon_log=$root/controllerd.log
banners=$root/notifications.log
start "$root/controllerd.out" "$build/controllerd/nbr-controllerd" --log "$daemon_log" --connect-delay 300
start "$banners" "$build/platform/notify/notifyutil" -w \
  com.tesmar.nbr.searching com.tesmar.nbr.controllerdetected com.tesmar.nbrdisconnected

seen_log=0 seen_banners=1
show_new() {
  sleep 0.1 # the daemon's log and the notifications arrive on their own
  local lines
  lines=$(wc -l <"$daemon_log")
  sed -n "$((seen_log + 1)),${lines}p" "$daemon_log" | sed 's/^/  daemon: /'
  seen_log=$lines
  lines=$(wc -l <"$banners")
  sed -n "$((seen_banners + 1)),${lines}p" "$banners" | sed 's/^/  notification: /'
  seen_banners=$lines
}

step() {
  echo "== $1"; shift
  "$build/demo/nbrctl" "$@" | sed 's/^/  /' || true
  show_new
}

echo "Nimbrel demo under device root $root"
show_new
step "Is a controller connected?" query
step "Connect the DualShock 4 (type 1) at 00:1b:dc:0f:e2:7a" connect 1 001bdc0fe27a
step "Set the light bar to ff8000" color ff8000
step "Is a controller connected?" query
step "Disconnect" disconnect 1
step "Is a controller connected?" query
echo "== done"
