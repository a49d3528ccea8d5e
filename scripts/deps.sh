# Sourced by the other scripts: makes sure the Debian packages a script needs are installed.
# As root, missing packages are installed with apt-get; otherwise the script says what to install.

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing missing packages: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  else
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
}

# What building and testing Quillet needs.
BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libbz2-dev libtomlplusplus-dev libcli11-dev)

# Generates the UTF-8 locales a test runs under (ja_JP.UTF-8, de_DE.UTF-8, ...) when they are
# missing; a fresh machine has only C.UTF-8.
ensure_locales() {
  ensure_packages locales
  local name
  for name in "$@"; do
    if ! locale -a 2>/dev/null | grep -qix "${name%.UTF-8}.utf8"; then
      echo "Generating the locale $name" >&2
      localedef -i "${name%.UTF-8}" -f UTF-8 "$name" >&2
    fi
  done
}
