#!/usr/bin/env bash
# Builds the fuzz targets and runs each one; fails on any finding.
#
#   fuzz/run.sh [SECONDS]     each target for SECONDS (default 60), one after another
#   ./dev.sh fuzz [SECONDS]   the same
#
# A longer run (say an hour per target, both cores):
#   ORVANE_FUZZ_JOBS=2 fuzz/run.sh 3600
# With ORVANE_FUZZ_KEEP=1 a run that finds nothing then merges into
# fuzz/seeds/<target> the inputs it found that reach code the seeds do not
# (libFuzzer's -merge=1), for committing: the seed corpus stays small and
# grows only with coverage.
#
# First the targets are built with g++ and a plain replay main
# (ORVANE_FUZZ_LINKMAIN) and replay the seeds and regression inputs, which
# proves they build outside clang. Then clang builds them with libFuzzer, ASan
# and UBSan in build/fuzz, and each runs from fuzz/seeds/<target> plus what
# earlier runs found (build/fuzz/corpus/<target>) and the regression inputs in
# tests/data/regressions/<target>. A crash, sanitizer report, timeout (10 s for
# one input) or memory blow-up (2 GiB) leaves its input in
# build/fuzz/findings/<target>/ and fails the run. Replay one with
#   build/fuzz/fuzz/fuzz_hive build/fuzz/findings/fuzz_hive/crash-...
# or, under gdb, with the replay build in build/fuzz-replay.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
jobs=${ORVANE_FUZZ_JOBS:-1}
build="${ORVANE_FUZZ_BUILD_DIR:-$root/build/fuzz}"
replay_build="${ORVANE_FUZZ_REPLAY_BUILD_DIR:-$root/build/fuzz-replay}"
targets=(fuzz_hive fuzz_transaction_log fuzz_strings fuzz_recovery fuzz_carve fuzz_lznt1)
. "$root/scripts/shell-helpers.sh"

# Whole small hives and logs fit in 1 MiB; strings are short.
max_len() {
  case $1 in
    fuzz_strings) echo 4096 ;;
    *) echo 1048576 ;;
  esac
}

# clang with its libFuzzer and sanitizer runtimes; cmake and ninja from the
# project's venv when ./dev.sh has made it, else from Debian.
apt_install build-essential clang libclang-rt-14-dev
[ -x "$root/.venv/bin/cmake" ] && export PATH="$root/.venv/bin:$PATH"
if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null; then apt_install cmake ninja-build; fi

log "fuzz targets with a replay main (g++): seeds and regression inputs"
cmake -S "$root" -B "$replay_build" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANE_WERROR=ON -DORVANE_BUILD_PYTHON=OFF -DORVANE_BUILD_TESTS=OFF \
  -DORVANE_BUILD_FUZZERS=ON -DORVANE_FUZZ_LINKMAIN=ON >/dev/null
cmake --build "$replay_build"
for target in "${targets[@]}"; do
  inputs=("$root/fuzz/seeds/$target")
  [ -d "$root/tests/data/regressions/$target" ] && inputs+=("$root/tests/data/regressions/$target")
  "$replay_build/fuzz/$target" "${inputs[@]}"
done

log "fuzz targets with libFuzzer, ASan and UBSan (clang)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANE_SANITIZE=ON -DORVANE_BUILD_PYTHON=OFF -DORVANE_BUILD_TESTS=OFF \
  -DORVANE_BUILD_FUZZERS=ON -DORVANE_FUZZ_LINKMAIN=OFF >/dev/null
cmake --build "$build"

parallel=()
# With more than one job libFuzzer runs them as child processes, each writing fuzz-<n>.log here.
[ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
failed=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  inputs=("$corpus" "$root/fuzz/seeds/$target")
  [ -d "$root/tests/data/regressions/$target" ] && inputs+=("$root/tests/data/regressions/$target")
  log "$target for ${seconds}s"
  status=0
  # New inputs go to the first folder only; the seeds in the tree stay as they are.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 "${parallel[@]}" \
      -artifact_prefix="$findings/" "${inputs[@]}" >"$build/$target.log" 2>&1 || status=$?
  if [ "$jobs" -gt 1 ]; then cat fuzz-*.log >>"$build/$target.log" 2>/dev/null || true; rm -f fuzz-*.log; fi
  tail -n 12 "$build/$target.log" >&2
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
    log "$target: FINDING (exit $status); inputs in $findings, log in $build/$target.log"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  log "findings in: ${failed[*]}"
  exit 1
fi
if [ "${ORVANE_FUZZ_KEEP:-0}" = 1 ]; then
  for target in "${targets[@]}"; do
    before=$(ls "$root/fuzz/seeds/$target" | wc -l)
    "$build/fuzz/$target" -merge=1 -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 \
      "$root/fuzz/seeds/$target" "$build/corpus/$target" >"$build/$target.merge.log" 2>&1
    log "$target: $(( $(ls "$root/fuzz/seeds/$target" | wc -l) - before )) inputs added to fuzz/seeds/$target"
  done
fi
log "no findings (${#targets[@]} targets, ${seconds}s each)"
