#!/usr/bin/env bash
# Installs and builds KivoBar, starts the stand-in Kivo agent in a demo home, and starts the tray
# against it: in your panel when there is a desktop session, else on a private virtual desktop whose
# panel's view of the menu is printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
cd "$root"
scripts/setup.sh build

home="$root/build/demo-home"
tools/stand-in-agent/make-home "$home" --set-up >/dev/null
"$home/bin/kivo" up >/dev/null
echo "The stand-in agent runs in $home (stop it with: $home/bin/kivo down)."
echo "Edit $home/needs-you.json, relays or clients there and watch KivoBar follow."
echo
echo "\$ kivobar --status"
KIVO_HOME="$home" build/app/kivobar --status
echo

# The icons are looked up by theme name, as for an installed app.
export XDG_DATA_DIRS="$root/build/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "KivoBar is in your panel; quit it from its menu."
  KIVO_HOME="$home" exec build/app/kivobar
fi

echo "No desktop session here: starting KivoBar on a private virtual desktop."
source tests/e2e/desktop.sh
export XDG_DATA_DIRS="$root/build/share:/usr/share"
desktop_begin
desktop_start_panel
desktop_spawn kivobar env KIVO_HOME="$home" QT_QPA_PLATFORM=xcb build/app/kivobar
desktop_wait "$DESKTOP_DEADLINE" tray_find "$(desktop_pid kivobar)"
tray_wait_row "Open the dashboard"
echo "Icon: $(tray_prop IconName)"
echo "Menu, as the panel reads it:"
tray_menu_text
