#!/usr/bin/env bash
# The demo, run on a private session bus by scripts/demo.sh, under a fresh device root:
# SpringBoard with the banner plug-in and a recording notification server, the pairing tool
# against the BTstack simulator with a virtual DualShock 4, then the controller daemon stand-in
# driven by a client that queries, connects, sets the light-bar colour and disconnects. Each step
# prints what happened: progress messages, bytes on the control socket, banners.
set -euo pipefail
build=${1:?build folder}
root=$(mktemp -d /tmp/nbr-demo.XXXXXX)
export NIMBREL_ROOT=$root
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/tmp" "$root/var/mobile/Library/Preferences" \
  "$root/Library/MobileSubstrate/DynamicLibraries"
cp "$build/sbsupport/NBRSBSupport.dylib" "$root/Library/MobileSubstrate/DynamicLibraries/"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Prints the lines of FILE after line SEEN, each with PREFIX; echoes the new line count.
new_lines() {
  local file=$1 seen=$2 prefix=$3 lines
  lines=$(wc -l <"$file")
  [ "$lines" -gt "$seen" ] && tail -n +"$((seen + 1))" "$file" | head -n "$((lines - seen))" | sed "s/^/  $prefix: /" >&2
  echo "$lines"
}

# Starts a process whose output goes to FILE and waits for its "ready" line.
start() {
  local out=$1; shift
  "$@" >"$out" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do grep -qx ready "$out" && return 0; sleep 0.02; done
  echo "demo: $1 did not become ready" >&2; cat "$out" >&2; exit 1
}

banners=$root/banners.log
start "$banners" "$build/platform/springboard/notificationrecorder"
start "$root/springboard.out" "$build/platform/springboard/springboard"

echo "Nimbrel demo under device root $root"
echo "== Pair a DualShock 4 with nbrdiscovery (BTstack simulator, virtual controller in range)"
start "$root/btstack.log" "$build/platform/btstack/btstack-simulator" \
  --scenario "$top/platform/btstack/scenarios/dualshock4.txt"
progress=$root/progress.log
start "$progress" "$build/platform/messaging/messagingutil" -s -b -n 5 \
  com.tesmar.nbr.bootstrap NBRDiscoveryUpdate
"$build/discovery/nbrdiscovery" &
tool=$!
seen=1
for _ in $(seq 300); do
  seen=$(new_lines "$progress" "$seen" progress)
  [ "$(grep -c "NBRDiscoveryState=i:2" "$progress")" -ge 1 ] && [ "$seen" -ge 6 ] && break
  sleep 0.05
done
kill -INT "$tool"
status=0
wait "$tool" || status=$?
echo "  nbrdiscovery ended with status $status"
stored=$(grep -A3 PS4BluetoothAddress "$root/var/mobile/Library/Preferences/com.tesmar.nimbrel.plist" |
  tr -d ' \t\n' | sed -n 's|.*<data>\(.*\)</data>.*|\1|p' | base64 -d | od -An -tx1 | tr -d ' \n')
echo "  stored in the preferences file: PS4BluetoothAddress = $stored"

daemon_log=$root/controllerd.log
start "$root/controllerd.out" "$build/controllerd/nbr-controllerd" --log "$daemon_log" --connect-delay 300

seen_log=0 seen_banners=1
show_new() {
  sleep 0.2 # the daemon's log and the banners arrive on their own
  seen_log=$(new_lines "$daemon_log" "$seen_log" daemon)
  seen_banners=$(new_lines "$banners" "$seen_banners" banner)
}

step() {
  echo "== $1"; shift
  "$build/demo/nbrctl" "$@" | sed 's/^/  /' || true
  show_new
}

show_new
step "Is a controller connected?" query
step "Connect the DualShock 4 (type 1) at 00:1b:dc:0f:e2:7a" connect 1 001bdc0fe27a
step "Set the light bar to ff8000" color ff8000
step "Is a controller connected?" query
step "Disconnect" disconnect 1
step "Is a controller connected?" query
echo "== done"
