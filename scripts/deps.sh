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
    # An index that fails to update (a mirror being synced) need not stop the install: the
    # install itself fails when a package cannot be had.
    apt-get update -qq >&2 || echo "apt-get update failed for some indexes; going on" >&2
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
  local name charset
  for name in "$@"; do
    # locale -a shows "de_DE.ISO-8859-1" as "de_DE.iso88591".
    charset="${name#*.}"
    charset="${charset//-/}"
    if ! locale -a 2>/dev/null | grep -qix "${name%%.*}.${charset}"; then
      echo "Generating the locale $name" >&2
      localedef -i "${name%%.*}" -f "${name#*.}" "$name" >&2
    fi
  done
}

wine32_installed() {
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'
}

# 32-bit Wine (wine32:i386) beside the 64-bit one, for the 32-bit Windows programs. Status 1, with
# the system left as it was, where it cannot be installed: not root, or Debian's i386 packages do
# not fit the installed ones (for example when an i386 index failed to update).
ensure_wine32() {
  wine32_installed && return 0
  [ "$(id -u)" -eq 0 ] || return 1
  local added=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added=1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2 || echo "apt-get update failed for some indexes; going on" >&2
  if apt-get install -y -qq --no-install-recommends wine32:i386 >&2; then
    return 0
  fi
  if [ "$added" -eq 1 ]; then
    # Back to one architecture, so that later updates do not fetch i386 indexes for nothing.
    dpkg --remove-architecture i386 >&2 || true
    apt-get update -qq >&2 || true
  fi
  return 1
}

# Boots the Wine prefix $WINEPREFIX unless it is there and fits the installed Wine. A prefix booted
# before 32-bit Wine was installed lacks the 32-bit system (syswow64), and Wine then fails in it
# with "could not load kernel32.dll": such a prefix is made again.
boot_wine_prefix() {
  if [ -f "$WINEPREFIX/system.reg" ]; then
    if ! wine32_installed || [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
      return 0
    fi
    echo "== The Wine prefix $WINEPREFIX predates 32-bit Wine: making it again"
    rm -rf "$WINEPREFIX"
  fi
  echo "== Booting the Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
}
