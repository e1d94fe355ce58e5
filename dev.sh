#!/usr/bin/env bash
# The project's one entry point. Every command sets up what it needs first,
# so each works on a fresh machine:
#
#   ./dev.sh sample     build orvane and print the bundled sample hive
#   ./dev.sh test       run every test: C++ once (ctest), Python on 3.13, 3.13t and 3.12 when present
#   ./dev.sh sanitize   build and run the C++ tests under ASan and UBSan
#   ./dev.sh fuzz [SECONDS]   run each fuzz target (default 60 s each), the Python decoders too
#   ./dev.sh fuzz-long HOURS  each C++ fuzz target for HOURS on both cores; what reaches new
#                       code is merged into fuzz/seeds for committing
#   ./dev.sh bench      run the benchmarks (the thread ones on 3.13 and 3.13t)
#   ./dev.sh wheel      build a manylinux wheel per interpreter into dist/
#   ./dev.sh install    pip-install orvane into the project's venv
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
venv="$root/.venv"
# Separate build folders let several checkouts or workers build side by side.
build_dir="${ORVANE_BUILD_DIR:-$root/build/dev}"
asan_dir="${ORVANE_ASAN_BUILD_DIR:-$root/build/asan}"
. "$root/scripts/shell-helpers.sh"

# The interpreters, by flavour: 3.13 (with the GIL) is the main one, used for
# the C++ build, the benchmarks and the fuzz tools; 3.13t (free-threaded) is
# built from source when missing; 3.12 is used when one is installed.
venv_of() { [ "$1" = 3.13 ] && echo "$venv" || echo "$root/.venv-$1"; }
python_build_of() { [ "$1" = 3.13 ] && echo "$build_dir" || echo "$root/build/python-$1"; }

# Prints the flavour's interpreter, building it when missing; fails with
# status 3 when the flavour has none on this machine (only 3.12 may be missing).
find_python() { "$root/scripts/bootstrap-python.sh" "$1"; }

# Makes the flavour's venv (recreated when its interpreter changes) with the
# build tools and the `test` extra of pyproject.toml.
setup_python() {  # flavour, interpreter
  local flavour=$1 python=$2 env wanted
  env=$(venv_of "$flavour")
  if [ "$(cat "$env/.orvane-python" 2>/dev/null)" != "$python" ] || ! "$env/bin/python" -c '' 2>/dev/null; then
    log "creating $env with $python"
    rm -rf "$env"
    "$python" -m venv "$env"
    echo "$python" > "$env/.orvane-python"
  fi
  # The main flavour also gets the engines the table tests and the Spark
  # example run on (pyspark is pure Python; Java 17 is on these machines).
  local extras=test
  [ "$flavour" = 3.13 ] && extras="test spark engines"
  wanted=$(cat "$root/requirements-dev.txt"; "$env/bin/python" - "$root/pyproject.toml" $extras <<'PY'
import sys, tomllib
with open(sys.argv[1], "rb") as f:
    extras = tomllib.load(f)["project"]["optional-dependencies"]
print("\n".join(requirement for name in sys.argv[2:] for requirement in extras[name]))
PY
)
  if [ "$wanted" != "$(cat "$env/.orvane-tools" 2>/dev/null)" ]; then
    log "installing the build tools and the extras ($extras) into $env"
    "$env/bin/python" -m pip install -q --upgrade pip
    # Wheels only where a release has them: the newest pyarrow may come as a
    # source archive alone for some interpreter (3.13t), and building it takes hours.
    printf '%s\n' "$wanted" | grep -v '^#' | grep . | xargs "$env/bin/python" -m pip install -q --prefer-binary
    printf '%s' "$wanted" > "$env/.orvane-tools"
  fi
}

setup() {
  apt_install build-essential libgtest-dev xz-utils binutils liblzma-dev chromium chromium-driver
  local python
  python=$(find_python 3.13)
  setup_python 3.13 "$python"
  export PATH="$venv/bin:$PATH"
}

configure_and_build() {  # build-dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_WERROR=ON \
    -DPython_EXECUTABLE="$venv/bin/python" "$@" >/dev/null
  cmake --build "$dir"
}

# pytest against the extension just built in `dir`; conftest checks that the
# module imported is that one, not an installed copy.
run_pytest() {  # flavour, build-dir
  local env module
  env=$(venv_of "$1")
  module=$(ls "$2"/orvane.*.so)
  log "Python tests on $1 ($("$env/bin/python" -VV | head -n 1))"
  (cd "$root" && PYTHONPATH="$2" ORVANE_BUILT_MODULE="$module" "$env/bin/python" -m pytest -q)
}

cmd_build() {
  setup
  configure_and_build "$build_dir" -DORVANE_BUILD_TESTS=ON
}

cmd_test() {
  cmd_build
  log "C++ tests"
  ctest --test-dir "$build_dir" --output-on-failure -j2 -L cpp
  run_pytest 3.13 "$build_dir"
  local flavour python dir
  for flavour in 3.13t 3.12; do
    python=$(find_python "$flavour") || {
      [ $? -eq 3 ] && { log "no CPython $flavour here: its Python tests are skipped"; continue; }
      return 1
    }
    setup_python "$flavour" "$python"
    dir=$(python_build_of "$flavour")
    configure_and_build "$dir" -DPython_EXECUTABLE="$(venv_of "$flavour")/bin/python"
    run_pytest "$flavour" "$dir"
  done
  log "packaging: the 3.13 wheel in a fresh venv, imported from outside the source tree"
  cmd_wheel 3.13
  local check="$root/build/wheel-check"
  rm -rf "$check"
  "$(cat "$venv/.orvane-python")" -m venv "$check"
  "$check/bin/python" -m pip install -q --no-index "$(ls "$root"/dist/orvane-*-cp313-cp313-manylinux*.whl)"
  # The stubs and the report page's style and script are data files: the wheel must carry them.
  (cd /tmp && "$check/bin/python" -c '
import pathlib, orvane, orvane_cli
site = pathlib.Path(orvane.__file__).parent
needed = [site / "orvane.pyi"] + [pathlib.Path(orvane_cli.__file__).parent / "report" / name for name in ("report.css", "report.js")]
missing = [str(path) for path in needed if not path.is_file()]
print("installed", orvane.__version__, "from", orvane.__file__)
raise SystemExit(f"missing from the wheel: {missing}" if missing else 0)')
}

# One wheel per interpreter (3.12 only when present), repaired by auditwheel
# to a manylinux tag, in dist/.
cmd_wheel() {  # [flavour...]
  setup
  local flavours=("$@") flavour python env raw="$root/build/wheels"
  [ ${#flavours[@]} -gt 0 ] || flavours=(3.12 3.13 3.13t)
  for flavour in "${flavours[@]}"; do
    python=$(find_python "$flavour") || {
      [ $? -eq 3 ] && { log "no CPython $flavour here: no wheel for it"; continue; }
      return 1
    }
    setup_python "$flavour" "$python"
    env=$(venv_of "$flavour")
    log "wheel for $flavour"
    rm -rf "$raw"
    "$env/bin/python" -m pip wheel -q --no-build-isolation --no-deps -w "$raw" "$root"
    "$venv/bin/auditwheel" repair -w "$root/dist" "$raw"/orvane-*.whl
  done
}

cmd_sanitize() {
  setup
  log "C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  configure_and_build "$asan_dir" -DORVANE_SANITIZE=ON -DORVANE_BUILD_PYTHON=OFF -DORVANE_BUILD_TESTS=ON
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$asan_dir" --output-on-failure -j2
}

# The thread benchmark also runs on the free-threaded interpreter (built
# here like the tests' one), so its figures stand beside those with the GIL.
cmd_bench() {
  cmd_build
  local python extra=()
  if python=$(find_python 3.13t); then
    setup_python 3.13t "$python"
    configure_and_build "$(python_build_of 3.13t)" -DPython_EXECUTABLE="$(venv_of 3.13t)/bin/python"
    extra=(--free-threaded "$(venv_of 3.13t)/bin/python" "$(python_build_of 3.13t)")
  else
    [ $? -eq 3 ] || return 1
    log "no CPython 3.13t here: the free-threaded thread figures are skipped"
  fi
  PYTHONPATH="$build_dir" exec "$venv/bin/python" "$root/bench/bench.py" "${extra[@]}" "$@"
}

cmd_install() {
  setup
  "$venv/bin/python" -m pip install -q --no-build-isolation "$root"
}

cmd_sample() {  # [HIVE]: a hive file, or an .xz-compressed one
  cmd_build
  local hive=${1:-$root/tests/data/corpus/BCD.xz}
  if [[ $hive == *.xz ]]; then
    local plain="$build_dir/sample/$(basename "${hive%.xz}")"
    mkdir -p "$(dirname "$plain")"
    xz -dc "$hive" > "$plain"
    hive=$plain
  fi
  local orvane=("$venv/bin/python" -m orvane_cli)
  PYTHONPATH="$build_dir:$root/src" "${orvane[@]}" info "$hive"
  echo
  PYTHONPATH="$build_dir:$root/src" "${orvane[@]}" ls --recursive "$hive"
}

case "${1:-}" in
  build) shift; cmd_build "$@" ;;
  test) shift; cmd_test "$@" ;;
  sanitize) shift; cmd_sanitize "$@" ;;
  install) shift; cmd_install "$@" ;;
  wheel) shift; cmd_wheel "$@" ;;
  sample) shift; cmd_sample "$@" ;;
  fuzz) shift; exec "$root/fuzz/run.sh" "$@" ;;
  fuzz-long) shift
    seconds=$(awk -v h="${1:?fuzz-long HOURS}" 'BEGIN {printf "%d", h * 3600}')
    ORVANE_FUZZ_LONG=1 ORVANE_FUZZ_JOBS=${ORVANE_FUZZ_JOBS:-2} ORVANE_FUZZ_KEEP=1 exec "$root/fuzz/run.sh" "$seconds" ;;
  bench) shift; cmd_bench "$@" ;;
  *) sed -n '2,11p' "$0" >&2; exit 2 ;;
esac
