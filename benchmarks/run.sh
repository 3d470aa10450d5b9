#!/usr/bin/env bash
# Builds in release mode and prints the figures we hold KivoBar to (the README's Performance section):
#   the resident tray against its two yardsticks on the headless desktop stack, its 3-second tick with
#   0 to 1,000 waiting sessions, refresh against its bare system calls, the start of `kivobar --status`
#   (as text and as JSON) and of the tray, and the wakeups of `kivobar --status --watch` while nothing changes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build-bench -DCMAKE_BUILD_TYPE=Release -DKIVOBAR_TESTS=OFF

/usr/bin/python3 benchmarks/tray_memory.py build-bench
build-bench/benchmarks/tray_tick_benchmark --benchmark_min_time=1
build-bench/benchmarks/refresh_benchmark --benchmark_min_time=2

home=$(mktemp -d)
agent=$(mktemp -d)/home
trap 'rm -rf "$home"; "$agent/bin/kivo" down >/dev/null 2>&1; rm -rf "$(dirname "$agent")"' EXIT
KIVO_HOME="$home" hyperfine --warmup 20 --min-runs 300 -N \
  "build-bench/benchmarks/qtcore_baseline" \
  "build-bench/app/kivobar --status"
# With no session bus both end as soon as they have started: the difference is what the exec costs.
env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY KIVO_HOME="$home" XDG_RUNTIME_DIR= \
  hyperfine --warmup 10 --min-runs 100 -N -i "build-bench/app/kivobar-tray" "build-bench/app/kivobar"

# The JSON against the text, on an online agent home with two sessions waiting. On a busy shared machine the
# two runs one after the other see different loads: the interleaved runs weigh both alike.
tools/stand-in-agent/make-home --set-up "$agent" >/dev/null
echo '[{"agent": "coder", "where": "repo-a", "detail": "approve?", "run": "r-1"}, {"agent": "writer", "where": "docs"}]' \
  >"$agent/needs-you.json"
"$agent/bin/kivo" up >/dev/null
KIVO_HOME="$agent" hyperfine --warmup 50 --min-runs 400 -N \
  "build-bench/app/kivobar --status" "build-bench/app/kivobar --status --json"
KIVO_HOME="$agent" /usr/bin/python3 benchmarks/interleaved_starts.py 500 \
  "$PWD/build-bench/app/kivobar --status" "$PWD/build-bench/app/kivobar --status --json"
/usr/bin/python3 benchmarks/watch_idle.py build-bench
