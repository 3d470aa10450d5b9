#!/usr/bin/env bash
# Installs the Debian packages that one use of the project needs, skipping what is already there,
# then configures and builds.
# usage: scripts/setup.sh [--for demo|test|all] [BUILD_DIR [extra cmake arguments...]]
#   demo  building and running the tray, plus a private virtual desktop when this session has none;
#         builds only the app when BUILD_DIR is new
#   test  building everything and the test stack: the desktops the end-to-end tests run on
#   all   the test stack, the screenshot tools and the benchmarks' timer (the default)
set -euo pipefail
cd "$(dirname "$0")/.."

purpose=all
if [ "${1:-}" = --for ]; then
  purpose=${2:-}
  shift 2 || true
fi
case $purpose in demo | test | all) ;; *) echo "setup: --for takes demo, test or all" >&2; exit 2 ;; esac

build=(cmake g++ make ccache pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-l10n-tools libgl-dev)
# The widget tray for XEmbed-only desktops needs Qt's platform plugins; the demo's driver reads the tray
# over D-Bus.
run=(qt6-qpa-plugins python3 python3-jeepney)
# A private X server and session bus with a StatusNotifier watcher and a GTK tray bar.
private_desktop=(xvfb dbus-daemon haskell-status-notifier-item-utils haskell-gtk-sni-tray-utils)
# The JSON that --status --json prints is checked against its schema in docs/.
unit_tests=(libgtest-dev libgmock-dev libbenchmark-dev desktop-file-utils python3-jsonschema)
# The second panel (waybar on a headless sway) and an XEmbed-only tray.
more_desktops=(sway waybar trayer)
# The desktops people run, met through a real pointer: XFCE and LXQt (with the themes and platform plugin a
# session of it has) and their notification servers, GNOME Shell with the AppIndicator extension, Plasma,
# dunst as a server only the bus starts, and a known-good GTK tray item to compare with. A desktop also has
# GTK's SVG loader (Debian only recommends it): without it GNOME's tray finds no icon named by theme.
desktops=(xfce4-panel xfwm4 xfce4-notifyd lxqt-panel lxqt-notificationd lxqt-qtplugin lxqt-themes openbox dunst
  gnome-shell gnome-shell-extension-appindicator gjs adwaita-icon-theme librsvg2-common
  plasma-workspace plasma-desktop kwin-x11 breeze-icon-theme
  xdotool python3-gi gir1.2-ayatanaappindicator3-0.1)
# A login as each desktop's own session manager runs it, and GNOME Shell and Plasma as the Wayland compositors
# Debian starts by default (kded5 aborts on Wayland without Qt 5's Wayland plugin).
sessions=(xfce4-session gnome-session xwayland kwin-wayland qtwayland5)
# The Debian package and the checks on what it installs: dpkg-buildpackage, lintian, the metainfo,
# desktop entry and manual page validators.
packaging=(build-essential debhelper dpkg-dev lintian appstream man-db)
# Fuzzing the decoders with libFuzzer (scripts/fuzz.sh).
fuzzing=(clang libclang-rt-14-dev)
# The README's i3blocks and polybar modules run in the real bars, and the completions in the real shells.
bars_and_shells=(i3blocks polybar zsh fish)
# grim photographs the headless sway that waybar runs on.
screenshot=(x11-utils xdotool imagemagick librsvg2-bin grim)
timing=(hyperfine)

packages=("${build[@]}" "${run[@]}")
case $purpose in
  demo)
    # The demo shows the tray in the user's panel only with a display and a session bus to reach.
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] ||
      { [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && [ ! -S "${XDG_RUNTIME_DIR:-/nonexistent}/bus" ]; }; then
      packages+=("${private_desktop[@]}")
    fi
    ;;
  test)
    packages+=("${private_desktop[@]}" "${unit_tests[@]}" "${more_desktops[@]}" "${desktops[@]}" "${sessions[@]}"
      "${packaging[@]}" "${fuzzing[@]}" "${bars_and_shells[@]}")
    ;;
  all)
    packages+=("${private_desktop[@]}" "${unit_tests[@]}" "${more_desktops[@]}" "${desktops[@]}" "${sessions[@]}"
      "${packaging[@]}" "${fuzzing[@]}" "${bars_and_shells[@]}" "${screenshot[@]}" "${timing[@]}")
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "setup: updating the package lists"
  # Quiet, but its errors still show.
  "${sudo[@]}" apt-get update -qq
  total=$(apt-get install -s --no-install-recommends "${missing[@]}" 2>/dev/null | grep -c '^Inst ' || true)
  echo "setup: installing ${#missing[@]} packages (${total:-?} with what they depend on): ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

build_dir=${1:-build}
shift || true
targets=()
if [ "$purpose" = demo ]; then
  # The demo needs only the app; a folder the tests already configured keeps their options.
  [ -f "$build_dir/CMakeCache.txt" ] || set -- -DKIVOBAR_TESTS=OFF -DKIVOBAR_BENCHMARKS=OFF "$@"
  targets=(--target kivobar)
fi
if [ -f "$build_dir/CMakeCache.txt" ]; then
  echo "setup: building in $build_dir (only what changed)"
else
  # Measured on 2 cores with an empty ccache: the app alone 1 minute, everything 3, with the sanitizers 3.
  what="everything in $build_dir for the first time (about 3 minutes"
  [ "$purpose" = demo ] && what="the app in $build_dir for the first time (about a minute"
  echo "setup: building $what on 2 cores, less when ccache has the objects)"
fi
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" "${targets[@]}"
