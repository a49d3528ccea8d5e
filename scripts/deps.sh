# Sourced by the other scripts: makes sure the Debian packages a script needs are installed.
# As root, missing packages are installed with apt-get; otherwise the script says what to install.

package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! package_installed "$pkg"; then
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

# Multi-Arch "same" libraries that 32-bit Wine pulls in and whose two architectures must carry one
# version. Where an i386 index failed to update (a security mirror being synced), the i386
# candidate is older than the amd64 package installed from it, and apt would make room for it by
# removing wine64 and libwine:amd64: both architectures are pinned to the i386 candidate instead.
WINE32_ALIGNED_PACKAGES=(libgstreamer-plugins-base1.0-0)

# The version apt would install of PACKAGE (with an architecture), under the options given.
apt_candidate() { # apt_candidate PACKAGE APT-OPTION...
  local pkg="$1"
  shift
  apt-cache "$@" policy "$pkg" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -vx '(none)'
}

# The arguments that install 32-bit Wine beside the 64-bit one under the target-release options
# given: wine32:i386 and a pin of each package in WINE32_ALIGNED_PACKAGES whose i386 candidate
# differs from the installed amd64 version.
wine32_install_arguments() { # wine32_install_arguments APT-OPTION...
  local pkg want have
  for pkg in "${WINE32_ALIGNED_PACKAGES[@]}"; do
    want=$(apt_candidate "$pkg:i386" "$@") || continue
    have=$(dpkg-query -W -f='${Version}' "$pkg:amd64" 2>/dev/null) || continue
    [ "$want" = "$have" ] || printf '%s\n' "$pkg:i386=$want" "$pkg:amd64=$want"
  done
  echo wine32:i386
}

wine32_installed() {
  package_installed wine32:i386
}

# Whether this kernel runs 32-bit x86 programs at all: some do not (no IA-32 emulation, or a
# sandbox that runs 64-bit programs only). There, wine32:i386 would do worse than nothing: Debian's
# wine script prefers its 32-bit loader once it is installed, so every wine command, 64-bit
# programs too, would fail with "Exec format error". The probe is the smallest i386 program: an
# ELF header, one loadable segment and exit(42).
kernel_runs_i386() {
  local probe status
  # In the working folder, where built programs run, rather than a /tmp that may be noexec.
  probe=$(mktemp -p "$PWD" .i386-probe.XXXXXX) || return 1
  {
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    # Executable for the 80386, entry 0x08048054, program headers at 52, one of 32 bytes.
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00'
    printf '\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
    # PT_LOAD of the whole 96-byte file at 0x08048000, readable and executable.
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    # mov eax, 1 (exit); mov ebx, 42; int 0x80
    printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
  } >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# 32-bit Wine (wine32:i386) beside the 64-bit one, for the 32-bit Windows programs. Nothing is
# installed where the kernel runs no 32-bit program. Every attempt is simulated first and refused
# if apt would remove any package (it would rather remove wine64 than keep a library at two
# versions); a plain install is tried, then one that prefers the release's own archive
# (-t CODENAME), whose i386 and amd64 packages fit each other when a security index did not
# update. A 32-bit Wine that then does not start is removed again, with the i386 packages it
# brought. Status 1 where it cannot be had (or not as root), with wine64 as it was.
ensure_wine32() {
  if ! kernel_runs_i386; then
    echo "32-bit Wine: this kernel does not run 32-bit (i386) programs" >&2
    if wine32_installed; then
      echo "32-bit Wine: wine32:i386 is installed and stops every wine command here; remove it with: apt-get remove wine32:i386" >&2
    fi
    return 1
  fi
  wine32_installed && return 0
  [ "$(id -u)" -eq 0 ] || return 1
  local added=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added=1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2 || echo "apt-get update failed for some indexes; going on" >&2
  local codename release plan new args=()
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  for release in "" "$codename"; do
    local options=(--no-install-recommends --allow-downgrades)
    [ -n "$release" ] && options+=(-t "$release")
    mapfile -t args < <(wine32_install_arguments ${release:+-t "$release"})
    echo "32-bit Wine: simulating apt-get install ${options[*]} ${args[*]}" >&2
    if ! plan=$(apt-get install -s "${options[@]}" "${args[@]}" 2>&1); then
      echo "32-bit Wine: apt cannot resolve this install" >&2
      continue
    fi
    if grep -q '^Remv ' <<<"$plan"; then
      echo "32-bit Wine: refused, the install would remove$(sed -n 's/^Remv \([^ ]*\).*/ \1/p' <<<"$plan" | tr -d '\n')" >&2
      continue
    fi
    grep -E '^[0-9]+ upgraded' <<<"$plan" >&2 || true
    # The i386 packages new to the system, to be removed again if 32-bit Wine fails to start.
    new=$(sed -n 's/^Inst \([^ ]*:i386\) (.*/\1/p' <<<"$plan")
    if ! apt-get install -y -qq "${options[@]}" "${args[@]}" >&2; then
      echo "32-bit Wine: apt-get install failed" >&2
      continue
    fi
    if ! package_installed wine64 || ! package_installed libwine:amd64; then
      echo "32-bit Wine: wine64 or libwine:amd64 is gone after the install; reinstall wine64" >&2
      return 1
    fi
    if ! wine --version >/dev/null 2>&1; then
      echo "32-bit Wine: installed, but wine does not start; removing the i386 packages again" >&2
      # shellcheck disable=SC2086 # one package a word
      apt-get remove -y -qq $new >&2 || true
      break
    fi
    wine32_installed && return 0
  done
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
