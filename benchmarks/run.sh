#!/usr/bin/env bash
# Builds in release mode and prints the figures we hold KivoBar to:
#   refresh against its bare system calls, and `kivobar --status` against a QtCore-only program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build-bench -DCMAKE_BUILD_TYPE=Release -DKIVOBAR_TESTS=OFF

build-bench/benchmarks/refresh_benchmark --benchmark_min_time=2

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
KIVO_HOME="$home" hyperfine --warmup 20 --min-runs 300 -N \
  "build-bench/benchmarks/qtcore_baseline" \
  "build-bench/app/kivobar --status"
