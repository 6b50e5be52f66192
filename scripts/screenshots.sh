#!/usr/bin/env bash
# Remakes the pictures of the light-bar colour: the settings page with its swatch (through the
# Settings app stand-in) and the colour chooser screen. Writes settings-led-color.png and
# colorchooser.png into the folder given (default build/screenshots).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NBR_BUILD_DIR:-$top/build}
out=${1:-$build/screenshots}
colour=${NBR_SCREENSHOT_COLOR:-ff8000}
cmake --build "$build" --target Nimbrel Preferences nbr-colorchooser-snapshot >/dev/null
mkdir -p "$out"
out=$(cd "$out" && pwd)

root=$(mktemp -d /tmp/nbr.XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/Library/PreferenceBundles" "$root/var/mobile/Library/Preferences" "$root/tmp"
ln -s "$build/PreferenceBundles/Nimbrel.bundle" "$root/Library/PreferenceBundles/"
cat >"$root/var/mobile/Library/Preferences/com.tesmar.nimbrel.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
  <key>ControllerType</key><integer>1</integer>
  <key>NBRLEDColorKey</key><string>$colour</string>
</dict>
</plist>
PLIST
export NIMBREL_ROOT=$root QT_QPA_PLATFORM=offscreen

# The host keeps running once it has saved the window: read its "ready", then end it.
coproc host { exec "$build/platform/preferences/host/Preferences" --open Nimbrel \
    --screenshot "$out/settings-led-color.png"; }
host_pid=$host_PID
read -r line <&"${host[0]}"
kill -TERM "$host_pid"
wait "$host_pid" || true
[ "$line" = ready ] || { echo "the Settings app stand-in did not start" >&2; exit 1; }

"$build/settings/nbr-colorchooser-snapshot" "$out/colorchooser.png"
echo "$out/settings-led-color.png"
echo "$out/colorchooser.png"
