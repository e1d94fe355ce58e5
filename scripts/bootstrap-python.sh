#!/usr/bin/env bash
# Prints the path of a CPython interpreter of the given flavour, with its
# development headers, building it from Debian's python3.13 source package when
# none is found. Builds are cached outside the work tree so later runs reuse them.
#
#   bootstrap-python.sh [3.13]   CPython >= 3.12 with the interpreter lock (3.13 preferred)
#   bootstrap-python.sh 3.13t    free-threaded CPython 3.13 (configure --disable-gil)
#   bootstrap-python.sh 3.12     CPython 3.12 when one is installed; never built (exit 3 when none)
#
#   ORVANE_PYTHON          use this interpreter for 3.13 (must be >= 3.12, with the lock)
#   ORVANE_PYTHON_FT       use this interpreter for 3.13t (must be free-threaded)
#   ORVANE_CACHE           cache folder (default: ~/.cache/orvane)
#   ORVANE_BUILD_PYTHON=1  skip the search and build (or reuse) the cached one
set -euo pipefail

flavour="${1:-3.13}"
cache="${ORVANE_CACHE:-$HOME/.cache/orvane}"
log() { printf 'bootstrap-python: %s\n' "$*" >&2; }

# A usable interpreter has its C headers, can make venvs and matches the
# flavour: the version range and whether the interpreter lock is compiled in.
suitable() {  # interpreter, flavour
  "$1" - "$2" <<'PY' >/dev/null 2>&1
import sys, sysconfig, os, venv, ensurepip
assert sys.prefix == sys.base_prefix  # not a venv's interpreter
flavour = sys.argv[1]
free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
assert free_threaded == (flavour == "3.13t")
assert sys.version_info >= (3, 12) if flavour == "3.13" else sys.version_info[:2] == tuple(map(int, flavour.rstrip("t").split(".")))
assert os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h"))
PY
}

pyenv_versions() {  # glob
  ls -d "$HOME"/.pyenv/versions/$1/bin/python3 2>/dev/null | sort -rV || true
}

candidates() {
  case "$flavour" in
    3.13)
      [ -n "${ORVANE_PYTHON:-}" ] && echo "$ORVANE_PYTHON"
      echo "$cache/cpython-3.13/bin/python3"
      [ "${ORVANE_BUILD_PYTHON:-0}" = 1 ] && return 0
      for v in 3.13 3.14 3.12; do command -v "python$v" 2>/dev/null || true; done
      pyenv_versions '3.13.[0-9]*'
      pyenv_versions '3.1[2-9].[0-9]*' ;;
    3.13t)
      [ -n "${ORVANE_PYTHON_FT:-}" ] && echo "$ORVANE_PYTHON_FT"
      echo "$cache/cpython-3.13t/bin/python3.13t"
      [ "${ORVANE_BUILD_PYTHON:-0}" = 1 ] && return 0
      command -v python3.13t 2>/dev/null || true
      ls -d "$HOME"/.pyenv/versions/3.13*t/bin/python3.13t 2>/dev/null | sort -rV || true ;;
    3.12)
      command -v python3.12 2>/dev/null || true
      pyenv_versions '3.12.[0-9]*' ;;
    *) log "unknown flavour $flavour (expected 3.13, 3.13t or 3.12)"; exit 2 ;;
  esac
}

for c in $(candidates); do
  if [ -x "$c" ] && suitable "$c" "$flavour"; then
    echo "$c"
    exit 0
  fi
done
case "$flavour" in
  3.13) [ -n "${ORVANE_PYTHON:-}" ] && { log "ORVANE_PYTHON=$ORVANE_PYTHON is not a usable CPython >= 3.12"; exit 1; } ;;
  3.13t) [ -n "${ORVANE_PYTHON_FT:-}" ] && { log "ORVANE_PYTHON_FT=$ORVANE_PYTHON_FT is not a free-threaded CPython 3.13"; exit 1; } ;;
  3.12) exit 3 ;;
esac

# Both flavours come from one source tarball, fetched once into the cache.
fetch_source() {
  local src="$cache/source"
  if ! ls "$src"/python3.13_*.orig.tar.* >/dev/null 2>&1; then
    export DEBIAN_FRONTEND=noninteractive
    if [ ! -f /etc/apt/sources.list.d/orvane-trixie-src.sources ]; then
      cat > /etc/apt/sources.list.d/orvane-trixie-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    fi
    apt-get update -qq >&2
    rm -rf "$src.part"
    mkdir -p "$src.part"
    (cd "$src.part" && apt-get source --download-only python3.13 >&2)
    rm -rf "$src"
    mv "$src.part" "$src"
  fi
  ls "$src"/python3.13_*.orig.tar.* | head -n 1
}

build() {  # prefix, configure arguments...
  local prefix=$1; shift
  log "building CPython 3.13 ($flavour) from Debian's source package into $prefix"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq build-essential dpkg-dev xz-utils libssl-dev zlib1g-dev libffi-dev \
    libbz2-dev liblzma-dev libsqlite3-dev libreadline-dev >&2
  local tarball work="$cache/build-$flavour"
  tarball=$(fetch_source)
  rm -rf "$work" "$prefix"
  mkdir -p "$work"
  tar -xf "$tarball" -C "$work" --strip-components=1
  (
    cd "$work"
    ./configure --prefix="$prefix" "$@" >&2
    make -j"$(nproc)" >&2
    make install >&2
  )
  rm -rf "$work"
}

case "$flavour" in
  3.13) python="$cache/cpython-3.13/bin/python3"; configure=() ;;
  3.13t) python="$cache/cpython-3.13t/bin/python3.13t"; configure=(--disable-gil) ;;
esac
prefix="$cache/cpython-$flavour"
mkdir -p "$cache"
# Several checkouts may ask at once: one builds, the others wait and reuse it.
exec 9>"$cache/.build-$flavour.lock"
flock 9
if ! { [ -x "$python" ] && suitable "$python" "$flavour"; }; then
  build "$prefix" "${configure[@]}"
fi
suitable "$python" "$flavour" || { log "the built interpreter is not usable"; exit 1; }
echo "$python"
