#!/usr/bin/env bash
# Builds in release mode and prints the figures we hold KivoBar to (the README's Performance section):
#   the resident tray against its two yardsticks on the headless desktop stack, its 3-second tick with
#   0 to 1,000 waiting sessions, refresh against its bare system calls, and the start of `kivobar --status`
#   and of the tray.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build-bench -DCMAKE_BUILD_TYPE=Release -DKIVOBAR_TESTS=OFF

/usr/bin/python3 benchmarks/tray_memory.py build-bench
build-bench/benchmarks/tray_tick_benchmark --benchmark_min_time=1
build-bench/benchmarks/refresh_benchmark --benchmark_min_time=2

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
KIVO_HOME="$home" hyperfine --warmup 20 --min-runs 300 -N \
  "build-bench/benchmarks/qtcore_baseline" \
  "build-bench/app/kivobar --status"
# With no session bus both end as soon as they have started: the difference is what the exec costs.
env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY KIVO_HOME="$home" XDG_RUNTIME_DIR= \
  hyperfine --warmup 10 --min-runs 100 -N -i "build-bench/app/kivobar-tray" "build-bench/app/kivobar"
