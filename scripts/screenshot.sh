#!/usr/bin/env bash
# Takes a picture of KivoBar's open tray menu on a private desktop (tools/desktop/screenshot.py).
# usage: scripts/screenshot.sh BUILD_DIR OUT.png     (e.g. scripts/screenshot.sh build docs/screenshot.png)
exec /usr/bin/python3 "$(dirname -- "$0")/../tools/desktop/screenshot.py" "$@"
