#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in build-fuzz, runs each over its seed corpus, then
# fuzzes each for SECONDS (30 unless given) on a copy of that corpus inside the build directory, so that
# a normal run never adds inputs to the repository. Fails when any target finds something; the finding is
# left in build-fuzz/fuzz-runs/<target>/findings/ to be turned into a unit test.
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

# One target: its seeds, then its fuzzing. What it says goes to its own report, so that targets fuzzed side
# by side do not mix their lines.
fuzz_one() {
  local name=$1 corpus=fuzz/corpus/$1/
  local fuzzer="$build/fuzz/${name}_fuzzer" work="$build/fuzz-runs/$name"
  local report="$work/report"
  if ! "$fuzzer" -artifact_prefix="$work/findings/" "$corpus"* >"$work/seeds.log" 2>&1; then
    cat "$work/seeds.log" >"$report"
    return 1
  fi
  local dictionary=()
  case "$name" in decode_status | status_dump | menu_rows | *_manifest) dictionary=(-dict=fuzz/json.dict) ;; esac
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${dictionary[@]}" \
      -artifact_prefix="$work/findings/" "$work/corpus" >"$work/fuzz.log" 2>&1; then
    tail -n 60 "$work/fuzz.log" >"$report"
    return 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE' "$work/fuzz.log" | tail -n 1 | sed "s/^/fuzz: $name: /" >"$report"
  touch "$work/passed"
}

# A fuzzer is one process on one core: as many side by side as there are cores, each for its full time.
names=()
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  names+=("$name")
  work="$build/fuzz-runs/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/findings"
  cp "$corpus"* "$work/corpus/"
done
lanes=$(nproc)
echo "fuzz: ${#names[@]} targets, $lanes at a time: each its seed corpus, then ${seconds} s of fuzzing"
for name in "${names[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$lanes" ]; do wait -n || true; done
  fuzz_one "$name" &
done
wait
# Each target says whether it passed in a file of its own: an exit status can be reaped before it is read.
failed=0
for name in "${names[@]}"; do
  cat "$build/fuzz-runs/$name/report" 2>/dev/null || echo "fuzz: $name: no report"
  [ -f "$build/fuzz-runs/$name/passed" ] || failed=1
done
exit "$failed"
