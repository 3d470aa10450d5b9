#!/usr/bin/env bash
# Installs what the build and the tests need, then builds and runs every test twice: once in the
# normal build, once with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# The demo may have configured build without the tests.
scripts/setup.sh --for test build -DKIVOBAR_TESTS=ON -DKIVOBAR_BENCHMARKS=ON
echo "test: running every test in build"
ctest --test-dir build --output-on-failure --parallel "$jobs"

scripts/setup.sh --for test build-asan -DCMAKE_BUILD_TYPE=Debug -DKIVOBAR_SANITIZE=ON -DKIVOBAR_BENCHMARKS=OFF
echo "test: running every test again under the sanitizers, in build-asan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --parallel "$jobs"
echo "test: fuzzing each decoder for 30 seconds, in build-fuzz"
scripts/fuzz.sh 30
