#!/usr/bin/env bash
# Runs the Windows build's tests under Wine: the cross-built unit tests
# (build-windows/tests/quillet-unit-tests.exe), then the Wine end-to-end and differential suite
# (build/tests/quillet-wine-tests), which runs build-windows/quillet-sfx.exe and compares it with
# the Linux build. Expects both builds to be there (scripts/test.sh makes them). With --x86 it
# runs the 32-bit build's (build-windows-x86/), which needs 32-bit Wine (wine32:i386).
#
# One prefix per build, build-windows/wine-prefix (build-windows-x86/wine-prefix), is booted once
# and reused by every run. LANG and LC_ALL are handed to Wine as they are set here, so a caller
# picks the code page:
#   LC_ALL=ja_JP.SJIS bash scripts/wine-tests.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh
ensure_packages wine wine64 osslsigncode openssl

out=build-windows
case "${1:-}" in
--x86) out=build-windows-x86 ;;
"") ;;
*)
  echo "wine-tests.sh: unknown option '$1' (--x86 or nothing)" >&2
  exit 64
  ;;
esac

if [ "$out" = build-windows-x86 ] && ! ensure_wine32; then
  echo "wine-tests.sh: the 32-bit tests need 32-bit Wine (wine32:i386), which cannot be installed or run here" >&2
  exit 1
fi

export WINEPREFIX="$PWD/$out/wine-prefix" WINEDEBUG=-all
# No Mono or Gecko installers, and no browser started for an installed readme.
export WINEDLLOVERRIDES="mscoree,mshtml=;winebrowser.exe=d"
unset DISPLAY WAYLAND_DISPLAY
boot_wine_prefix
trap 'wineserver -k 2>/dev/null || true' EXIT

echo "== Windows unit tests under Wine ($out)"
wine "$out/tests/quillet-unit-tests.exe" --gtest_brief=1

if [ -x build/tests/quillet-wine-tests ]; then
  echo "== Windows installer under Wine, against the Linux build"
  QUILLET_WINDOWS_SFX="$PWD/$out/quillet-sfx.exe" \
    QUILLET_WINDOWS_STANDIN="$PWD/$out/tests/standin-dcc.exe" \
    build/tests/quillet-wine-tests --gtest_brief=1
fi
