#!/usr/bin/env bash
# Installs and builds KivoBar, starts the stand-in Kivo agent in a demo home, and shows what KivoBar
# makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build

home="$PWD/build/demo-home"
tools/stand-in-agent/make-home "$home" --set-up >/dev/null
"$home/bin/kivo" up >/dev/null
echo "The stand-in agent runs in $home (stop it with: $home/bin/kivo down)."
echo
KIVO_HOME="$home" build/app/kivobar --status
