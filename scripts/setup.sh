#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, skipping what is already
# there, then configures and builds. Usage: scripts/setup.sh [BUILD_DIR [extra cmake arguments...]]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  # build
  cmake g++ make ccache pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-l10n-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # the tray's icons and menu on a real desktop, and the end-to-end test that reads them
  qt6-qpa-plugins libqt6svg6 xvfb dbus haskell-status-notifier-item-utils haskell-gtk-sni-tray-utils
  libglib2.0-bin x11-utils xdotool imagemagick librsvg2-bin xterm desktop-file-utils
  # benchmarks and timing
  hyperfine
  # the Debian package and the checks on what it installs: dpkg-buildpackage, lintian, the metainfo,
  # desktop entry and manual page validators
  build-essential debhelper dpkg-dev lintian appstream desktop-file-utils man-db
  # fuzzing the decoders with libFuzzer (scripts/fuzz.sh)
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

build_dir=${1:-build}
shift || true
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
