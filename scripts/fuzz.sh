#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in build-fuzz, runs each over its seed corpus, then
# fuzzes each for SECONDS (30 unless given) on a copy of that corpus inside the build directory, so that
# a normal run never adds inputs to the repository. Fails on the first finding, which is left in
# build-fuzz/fuzz-runs/<target>/ to be turned into a unit test.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build-fuzz

# CXX only picks the compiler when the build directory is first configured; the fuzz CMakeLists refuses
# any other compiler than clang.
CXX=clang++ scripts/setup.sh --for test "$build" -DKIVOBAR_FUZZ=ON -DKIVOBAR_TESTS=OFF -DKIVOBAR_BENCHMARKS=OFF

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  fuzzer="$build/fuzz/${name}_fuzzer"
  work="$build/fuzz-runs/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/findings"
  cp "$corpus"* "$work/corpus/"
  echo "fuzz: $name: the seed corpus, then ${seconds} s of fuzzing"
  "$fuzzer" -artifact_prefix="$work/findings/" "$corpus"* >"$work/seeds.log" 2>&1 || {
    cat "$work/seeds.log"
    exit 1
  }
  dictionary=()
  case "$name" in decode_status | status_dump | menu_rows | *_manifest) dictionary=(-dict=fuzz/json.dict) ;; esac
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${dictionary[@]}" \
    -artifact_prefix="$work/findings/" "$work/corpus" >"$work/fuzz.log" 2>&1 || {
    tail -n 60 "$work/fuzz.log"
    exit 1
  }
  grep -E '^#[0-9]+[[:space:]]+DONE' "$work/fuzz.log" | tail -n 1 | sed "s/^/fuzz: $name: /"
done
