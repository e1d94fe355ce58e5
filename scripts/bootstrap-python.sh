#!/usr/bin/env bash
# Prints the path of a CPython >= 3.12 interpreter with development headers,
# building CPython 3.13 from Debian's source package when none is found.
# The build is cached outside the work tree so later runs reuse it.
#
#   ORVANE_PYTHON       use this interpreter (must be >= 3.12)
#   ORVANE_CACHE        cache folder (default: ~/.cache/orvane)
#   ORVANE_BUILD_PYTHON=1  skip the search and build (or reuse) the cached one
set -euo pipefail

cache="${ORVANE_CACHE:-$HOME/.cache/orvane}"
prefix="$cache/cpython-3.13"
log() { printf 'bootstrap-python: %s\n' "$*" >&2; }

suitable() {
  # a usable interpreter is >= 3.12, has its C headers and can make venvs
  "$1" - <<'PY' >/dev/null 2>&1
import sys, sysconfig, os, venv, ensurepip
assert sys.version_info >= (3, 12)
assert os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h"))
PY
}

candidates() {
  [ -n "${ORVANE_PYTHON:-}" ] && echo "$ORVANE_PYTHON"
  echo "$prefix/bin/python3"
  [ "${ORVANE_BUILD_PYTHON:-0}" = 1 ] && return 0
  for v in 3.14 3.13 3.12; do
    command -v "python$v" 2>/dev/null || true
  done
  ls -d "$HOME"/.pyenv/versions/3.1[2-9]*/bin/python3 2>/dev/null | sort -rV || true
}

for c in $(candidates); do
  if [ -x "$c" ] && suitable "$c"; then
    echo "$c"
    exit 0
  fi
done
[ -n "${ORVANE_PYTHON:-}" ] && { log "ORVANE_PYTHON=$ORVANE_PYTHON is not a usable CPython >= 3.12"; exit 1; }

log "no CPython >= 3.12 found; building 3.13 from Debian's source package into $prefix"
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
apt-get install -y -qq build-essential dpkg-dev xz-utils libssl-dev zlib1g-dev libffi-dev \
  libbz2-dev liblzma-dev libsqlite3-dev libreadline-dev >&2

work="$cache/cpython-src"
rm -rf "$work"
mkdir -p "$work"
(cd "$work" && apt-get source --download-only python3.13 >&2)
tarball=$(ls "$work"/python3.13_*.orig.tar.* | head -n 1)
mkdir -p "$work/src"
tar -xf "$tarball" -C "$work/src" --strip-components=1
(
  cd "$work/src"
  ./configure --prefix="$prefix" >&2
  make -j"$(nproc)" >&2
  make install >&2
)
rm -rf "$work"
suitable "$prefix/bin/python3" || { log "the built interpreter is not usable"; exit 1; }
echo "$prefix/bin/python3"
