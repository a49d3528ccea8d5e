#!/usr/bin/env bash
# Builds Quillet and runs every test: the unit, end-to-end and fuzz replay tests in a normal
# build, then all of them again under AddressSanitizer and UndefinedBehaviorSanitizer, and finally
# the Windows builds' unit tests and installers under Wine (scripts/wine-tests.sh,
# scripts/codepage-diff.sh): the 64-bit ones always, the 32-bit ones where 32-bit Wine can be
# installed (otherwise one line says what did not run).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" util-linux
# The code-page tests run under Japanese and German locales.
ensure_locales ja_JP.UTF-8 de_DE.UTF-8 zh_CN.UTF-8 de_DE.ISO-8859-1

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Build (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_WERROR=ON >/dev/null
cmake --build build -j "$jobs"

echo "== Unit and end-to-end tests"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Sanitizer build (build-asan/)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLET_SANITIZE=ON -DQUILLET_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"

# The end-to-end tests run the sanitized installer and packer, and the fuzz replays the
# sanitized targets, so a fault in a child process fails its test too.
echo "== Unit, end-to-end and fuzz replay tests under ASan and UBSan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# 32-bit Wine first, so that every Wine prefix is booted with it.
wine32=0
if ensure_wine32; then
  wine32=1
fi

echo "== Windows build with its unit tests (build-windows/)"
bash scripts/build-windows.sh --tests
bash scripts/wine-tests.sh

echo "== 32-bit Windows build (build-windows-x86/)"
if [ "$wine32" -eq 1 ]; then
  x86_start=$(date +%s)
  bash scripts/build-windows.sh --x86 --tests --smoke
  bash scripts/wine-tests.sh --x86
  echo "== 32-bit Windows build and tests: $(($(date +%s) - x86_start)) s"
else
  bash scripts/build-windows.sh --x86
  echo "NOT RUN: 32-bit Wine (wine32:i386) cannot be installed here, so the 32-bit Windows unit tests, Wine suite and smoke test did not run (the 32-bit programs were built)"
fi

echo "== Code pages: the Linux installer against the Windows one under Wine"
bash scripts/codepage-diff.sh
