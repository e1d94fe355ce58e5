# Helpers shared by dev.sh and fuzz/run.sh (sourced, not run).

log() { printf '\033[1m== %s\033[0m\n' "$*" >&2; }

# Installs the Debian packages among "$@" that are missing.
apt_install() {
  local missing=()
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
}
