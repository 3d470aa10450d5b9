#!/usr/bin/env bash
# Takes a picture of waybar showing the README's Kivo module beside the tray (tools/desktop/waybar_shot.py).
# usage: scripts/waybar-screenshot.sh BUILD_DIR OUT.png     (e.g. scripts/waybar-screenshot.sh build docs/waybar.png)
exec /usr/bin/python3 "$(dirname -- "$0")/../tools/desktop/waybar_shot.py" "$@"
