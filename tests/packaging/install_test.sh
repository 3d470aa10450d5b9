#!/usr/bin/env bash
# Installs the build with the prefix /usr into a temporary root, as a package would lay it out, and
# checks what was installed.
# usage: install_test.sh BUILD_DIR VERSION
set -euo pipefail
build=${1:?usage: install_test.sh BUILD_DIR VERSION}
version=${2:?usage: install_test.sh BUILD_DIR VERSION}

root=$(mktemp -d)
trap 'rm -rf -- "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
"$(dirname "$0")/check_installed.sh" "$root" "$version"
