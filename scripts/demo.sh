#!/usr/bin/env bash
# Installs what building and running KivoBar need, builds it, and takes you on a short tour: the
# stand-in Kivo agent goes through its states and KivoBar follows, in your panel when there is a
# desktop session, else on a private virtual desktop whose panel's view of the menu is printed.
# Ctrl+C or "Quit Kivo Bar" ends the tour; nothing it started keeps running.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
cd "$root"
scripts/setup.sh --for demo build
echo
exec /usr/bin/python3 tools/desktop/demo.py --build build --source . "$@"
