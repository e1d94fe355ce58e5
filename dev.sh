#!/usr/bin/env bash
# The project's one entry point. Every command sets up what it needs first,
# so each works on a fresh machine:
#
#   ./dev.sh sample     build orvane and print the bundled sample hive
#   ./dev.sh test       run every test (C++ through ctest, Python through pytest)
#   ./dev.sh sanitize   build and run the C++ tests under ASan and UBSan
#   ./dev.sh fuzz [SECONDS]   run each fuzz target (default 60 s each)
#   ./dev.sh bench      run the benchmarks
#   ./dev.sh install    pip-install orvane into the project's venv
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
venv="$root/.venv"
# Separate build folders let several checkouts or workers build side by side.
build_dir="${ORVANE_BUILD_DIR:-$root/build/dev}"
asan_dir="${ORVANE_ASAN_BUILD_DIR:-$root/build/asan}"
. "$root/scripts/shell-helpers.sh"

setup_python() {
  local python
  python=$("$root/scripts/bootstrap-python.sh")
  if ! "$venv/bin/python" -c 'import sys; assert sys.version_info >= (3, 12)' 2>/dev/null; then
    log "creating $venv with $python"
    rm -rf "$venv"
    "$python" -m venv "$venv"
  fi
  if ! cmp -s "$root/requirements-dev.txt" "$venv/.requirements-dev.txt" 2>/dev/null; then
    log "installing Python tools into $venv"
    "$venv/bin/python" -m pip install -q --upgrade pip
    "$venv/bin/python" -m pip install -q -r "$root/requirements-dev.txt"
    cp "$root/requirements-dev.txt" "$venv/.requirements-dev.txt"
  fi
  export PATH="$venv/bin:$PATH"
}

setup() {
  apt_install build-essential libgtest-dev xz-utils binutils liblzma-dev
  setup_python
}

configure_and_build() {  # build-dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_WERROR=ON \
    -DPython_EXECUTABLE="$venv/bin/python" "$@" >/dev/null
  cmake --build "$dir"
}

cmd_build() {
  setup
  configure_and_build "$build_dir" -DORVANE_BUILD_TESTS=ON
}

cmd_test() {
  cmd_build
  log "C++ and Python tests"
  ctest --test-dir "$build_dir" --output-on-failure -j2
  log "packaging: pip install . and import the installed module"
  cmd_install
  (cd /tmp && "$venv/bin/python" -c 'import orvane, pathlib; print("installed", orvane.__version__, "stubs:", (pathlib.Path(orvane.__file__).parent / "orvane.pyi").exists())')
}

cmd_sanitize() {
  setup
  log "C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  configure_and_build "$asan_dir" -DORVANE_SANITIZE=ON -DORVANE_BUILD_PYTHON=OFF -DORVANE_BUILD_TESTS=ON
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$asan_dir" --output-on-failure -j2
}

cmd_install() {
  setup
  "$venv/bin/python" -m pip install -q --no-build-isolation "$root"
}

cmd_sample() {
  cmd_build
  PYTHONPATH="$build_dir" "$venv/bin/python" "$root/examples/print_hive.py" "$@"
}

case "${1:-}" in
  build) shift; cmd_build "$@" ;;
  test) shift; cmd_test "$@" ;;
  sanitize) shift; cmd_sanitize "$@" ;;
  install) shift; cmd_install "$@" ;;
  sample) shift; cmd_sample "$@" ;;
  fuzz) shift; exec "$root/fuzz/run.sh" "$@" ;;
  bench) shift; cmd_build; PYTHONPATH="$build_dir" exec "$venv/bin/python" "$root/bench/bench.py" "$@" ;;
  *) sed -n '2,12p' "$0" >&2; exit 2 ;;
esac
