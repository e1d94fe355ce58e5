#!/usr/bin/env bash
# Builds the fuzz targets and runs each one; fails on any finding.
#
#   fuzz/run.sh [SECONDS]       each target for SECONDS (default 60), one after another,
#                               then each Python decoder for a tenth of that (at least 5 s)
#   ./dev.sh fuzz [SECONDS]     the same
#   ./dev.sh fuzz-long HOURS    each C++ target for HOURS on both cores, then the
#                               inputs that reach new code merged into fuzz/seeds
#                               (ORVANE_FUZZ_LONG=1 ORVANE_FUZZ_JOBS=2 ORVANE_FUZZ_KEEP=1)
#
# The targets are every fuzz/fuzz_*.cpp (or those ORVANE_FUZZ_TARGETS names); each runs with a
# dictionary of tokens: those of a hive image (fuzz/dicts/hive.dict) for the targets that read hives,
# then its own, fuzz/dicts/<target>.dict. The Python decoders are those
# fuzz/python/fuzz_decoders.py lists (its DECODERS table), run with atheris.
# With ORVANE_FUZZ_KEEP=1 each target that found nothing then merges into
# fuzz/seeds/<target> the inputs it found that reach code the seeds do not
# (libFuzzer's -merge=1), minimised and at most max_len bytes each, for
# committing: the seed corpus stays small and grows only with coverage. Each
# target's executions and coverage go to build/fuzz/summary.txt.
#
# First the targets are built with g++ and a plain replay main
# (ORVANE_FUZZ_LINKMAIN) and replay the seeds and regression inputs, which
# proves they build outside clang. Then clang builds them with libFuzzer, ASan
# and UBSan in build/fuzz, and each runs from fuzz/seeds/<target> plus what
# earlier runs found (build/fuzz/corpus/<target>) and the regression inputs in
# tests/data/regressions/<target>. A crash, sanitizer report, timeout (10 s for
# one input) or memory blow-up (2 GiB) leaves its input in
# build/fuzz/findings/<target>/ and fails the run; so does an input libFuzzer
# found slow (over 10 s) that is slow again when replayed. Replay one with
#   build/fuzz/fuzz/fuzz_hive build/fuzz/findings/fuzz_hive/crash-...
# or, under gdb, with the replay build in build/fuzz-replay.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
jobs=${ORVANE_FUZZ_JOBS:-1}
build="${ORVANE_FUZZ_BUILD_DIR:-$root/build/fuzz}"
replay_build="${ORVANE_FUZZ_REPLAY_BUILD_DIR:-$root/build/fuzz-replay}"
targets=()
for source in "$root"/fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
# ORVANE_FUZZ_TARGETS="fuzz_find fuzz_carve" runs only those, so a long run can
# be spread over several sittings, each merging its seeds for the next.
if [ -n "${ORVANE_FUZZ_TARGETS:-}" ]; then
  for wanted in $ORVANE_FUZZ_TARGETS; do
    [ -f "$root/fuzz/$wanted.cpp" ] || { echo "fuzz/run.sh: no target $wanted" >&2; exit 2; }
  done
  read -r -a targets <<< "$ORVANE_FUZZ_TARGETS"
fi
. "$root/scripts/shell-helpers.sh"

# Inputs start as small as the seeds and libFuzzer lengthens them slowly
# (-len_control) up to these: whole small hives and logs fit, and the
# per-byte costs of copying and loading stay far below the parse.
max_len() {
  case $1 in
    fuzz_strings) echo 4096 ;;
    *) echo 262144 ;;
  esac
}

# Merged seeds are kept at most this long.
seed_len() {
  case $1 in
    fuzz_strings) echo 4096 ;;
    *) echo 16384 ;;
  esac
}

# The dictionary a target runs with, put together in the build folder; nothing when it has none.
hive_readers=" fuzz_hive fuzz_recovery fuzz_tables fuzz_find fuzz_carve fuzz_transaction_log "
dictionary_of() {
  local parts=()
  [[ "$hive_readers" == *" $1 "* ]] && parts+=("$root/fuzz/dicts/hive.dict")
  [ -f "$root/fuzz/dicts/$1.dict" ] && parts+=("$root/fuzz/dicts/$1.dict")
  [ ${#parts[@]} -eq 0 ] && return 0
  mkdir -p "$build/dicts"
  cat "${parts[@]}" >"$build/dicts/$1.dict"
  echo "$build/dicts/$1.dict"
}

# clang with its libFuzzer and sanitizer runtimes; cmake and ninja from the
# project's venv when ./dev.sh has made it, else from Debian.
apt_install build-essential clang libclang-rt-14-dev
[ -x "$root/.venv/bin/cmake" ] && export PATH="$root/.venv/bin:$PATH"
if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null; then apt_install cmake ninja-build; fi

# The long run is about what libFuzzer learns; the short one proves the replay build.
if [ "${ORVANE_FUZZ_LONG:-0}" != 1 ]; then
  log "fuzz targets with a replay main (g++): seeds and regression inputs"
  cmake -S "$root" -B "$replay_build" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVANE_WERROR=ON -DORVANE_BUILD_PYTHON=OFF -DORVANE_BUILD_TESTS=OFF \
    -DORVANE_BUILD_FUZZERS=ON -DORVANE_FUZZ_LINKMAIN=ON >/dev/null
  cmake --build "$replay_build" -j "${ORVANE_BUILD_JOBS:-2}"
  for target in "${targets[@]}"; do
    inputs=("$root/fuzz/seeds/$target")
    [ -d "$root/tests/data/regressions/$target" ] && inputs+=("$root/tests/data/regressions/$target")
    "$replay_build/fuzz/$target" "${inputs[@]}"
  done
fi

log "fuzz targets with libFuzzer, ASan and UBSan (clang)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANE_SANITIZE=ON -DORVANE_BUILD_PYTHON=OFF -DORVANE_BUILD_TESTS=OFF \
  -DORVANE_BUILD_FUZZERS=ON -DORVANE_FUZZ_LINKMAIN=OFF >/dev/null
cmake --build "$build" -j "${ORVANE_BUILD_JOBS:-2}"

summary="$build/summary.txt"
: >"$summary"
# One line per target: executions (over every job) and the last coverage and feature counts.
summarise() {
  local runs cov ft
  runs=$(grep -ho 'stat::number_of_executed_units: *[0-9]*' "$2" | awk '{s += $2} END {print s + 0}')
  cov=$(grep -ho 'cov: [0-9]*' "$2" | tail -n 1 | awk '{print $2}')
  ft=$(grep -ho 'ft: [0-9]*' "$2" | tail -n 1 | awk '{print $2}')
  printf '%-24s %12s executions in %ss, %s edges, %s features\n' "$1" "$runs" "$seconds" "${cov:-?}" "${ft:-?}" \
    | tee -a "$summary" >&2
}

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
  dict=()
  dictionary=$(dictionary_of "$target")
  [ -n "$dictionary" ] && dict=(-dict="$dictionary")
  log "$target for ${seconds}s"
  status=0
  # New inputs go to the first folder only; the seeds in the tree stay as they are.
  # ASan records no stack for each allocation (the slowest targets run a tenth more inputs so):
  # replaying a finding (see the top of this file) gives a report with them.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1:malloc_context_size=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" -len_control=100 \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${dict[@]}" "${parallel[@]}" \
      -artifact_prefix="$findings/" "${inputs[@]}" >"$build/$target.log" 2>&1 || status=$?
  if [ "$jobs" -gt 1 ]; then cat fuzz-*.log >>"$build/$target.log" 2>/dev/null || true; rm -f fuzz-*.log; fi
  tail -n 12 "$build/$target.log" >&2
  summarise "$target" "$build/$target.log"
  # A slow-unit-* is an input that took over 10 s of wall time: a slow input, or a machine that
  # stalled the worker (a paused process, a burst of paging). Each is replayed; one that runs in
  # time again is moved to build/fuzz/slow/<target> and named here, one that does not stays a finding.
  for unit in "$findings"/slow-unit-*; do
    [ -e "$unit" ] || continue
    if timeout 10 "$build/fuzz/$target" "$unit" >/dev/null 2>&1; then
      mkdir -p "$build/slow/$target"
      mv "$unit" "$build/slow/$target/"
      log "$target: $(basename "$unit") replays in under 10 s: kept in $build/slow/$target, not a finding"
    fi
  done
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
    log "$target: FINDING (exit $status); inputs in $findings, log in $build/$target.log"
    failed+=("$target")
  fi
done

# The Python decoders, with atheris in a venv of their own (the `fuzz` extra).
py_seconds=$(( seconds / 10 > 5 ? seconds / 10 : 5 ))
if [ "${ORVANE_FUZZ_LONG:-0}" != 1 ]; then
  py_venv="$build/venv-python"
  # The interpreter the project's own venvs are made with: a python3.13 on the
  # PATH may be a version manager's shim that runs nothing.
  python=${ORVANE_FUZZ_PYTHON:-$("$root/scripts/bootstrap-python.sh" 3.13)}
  [ -x "$py_venv/bin/python" ] || "$python" -m venv "$py_venv"
  "$py_venv/bin/python" -c 'import atheris' 2>/dev/null || "$py_venv/bin/pip" install -q atheris \
    || log "atheris does not install here: the decoders get random bytes instead"
  decoders=$("$py_venv/bin/python" "$root/fuzz/python/fuzz_decoders.py" --list)
  for decoder in $decoders; do
    findings="$build/findings/python/$decoder"
    mkdir -p "$findings"
    log "$decoder for ${py_seconds}s"
    status=0
    "$py_venv/bin/python" "$root/fuzz/python/fuzz_decoders.py" "$decoder" -max_total_time="$py_seconds" \
      -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
      >"$build/python-$decoder.log" 2>&1 || status=$?
    tail -n 3 "$build/python-$decoder.log" >&2
    if [ "$status" -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
      log "$decoder: FINDING (exit $status); inputs in $findings, log in $build/python-$decoder.log"
      failed+=("$decoder")
    fi
  done
fi

if [ "${ORVANE_FUZZ_KEEP:-0}" = 1 ]; then
  for target in "${targets[@]}"; do
    # A target with a finding keeps its corpus in build/fuzz for a look; the
    # others' runs are not lost to it.
    [[ " ${failed[*]} " == *" $target "* ]] && continue
    mkdir -p "$root/fuzz/seeds/$target"
    before=$(ls "$root/fuzz/seeds/$target" | wc -l)
    # Only what reaches new edges is added (-use_counters=0: hit counts would
    # keep thousands of inputs a run), the smallest input of each, read up to
    # 16 KiB: the repository stays small and the runs lengthen inputs again.
    "$build/fuzz/$target" -merge=1 -use_counters=0 -max_len="$(seed_len "$target")" -timeout=10 -rss_limit_mb=2048 \
      "$root/fuzz/seeds/$target" "$build/corpus/$target" >"$build/$target.merge.log" 2>&1
    log "$target: $(( $(ls "$root/fuzz/seeds/$target" | wc -l) - before )) inputs added to fuzz/seeds/$target"
  done
fi
if [ ${#failed[@]} -ne 0 ]; then
  log "findings in: ${failed[*]}"
  exit 1
fi
log "no findings (${#targets[@]} targets, ${seconds}s each)"
cat "$summary" >&2
