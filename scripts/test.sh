#!/usr/bin/env bash
# Builds Quillet and runs every test: the unit, end-to-end and fuzz replay tests in a normal
# build and a few upgrades killed at random moments (bench/kill-trials.sh), then the tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and finally the Windows builds' unit
# tests, installers and smoke tests under Wine (scripts/wine-tests.sh, scripts/build-windows.sh
# --smoke, scripts/codepage-diff.sh): the 64-bit ones always, the 32-bit ones where 32-bit Wine
# can be installed (otherwise one line says what did not run).
#
# Every step runs, whatever became of the ones before it, so that one failure hides no other; each
# step's result and time are listed at the end, and the status is 1 when any step failed.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
summary=()
passed=0
failed=0

# step NAME COMMAND...: runs COMMAND with set -e in a subshell (not in a condition, where bash
# would ignore set -e), and records its result, its time and the summary lines of the test
# runners in its output (ctest's, GoogleTest's or a check script's).
step() {
  local name="$1"
  shift
  local log="$logs/$((${#summary[@]} + 1)).log"
  echo
  echo "== $name"
  local start status
  start=$(date +%s)
  (
    set -e
    "$@"
  ) 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  local seconds=$(($(date +%s) - start))
  local result note
  note=$(grep -E 'tests passed|^\[  (PASSED|FAILED)  \] [0-9]+ test|check\(s\) failed|every check passed|checks passed|of [0-9]+ trials failed' \
    "$log" | paste -sd ';' | sed 's/;/; /g; s/^./: &/')
  if [ "$status" -eq 0 ]; then
    result=passed
    passed=$((passed + 1))
  else
    result="FAILED (status $status)"
    failed=$((failed + 1))
  fi
  echo "== $name: $result in $seconds s"
  summary+=("$(printf '%-20s %5d s  %s%s' "$result" "$seconds" "$name" "$note")")
}

not_run() {
  echo "NOT RUN: $1"
  summary+=("$(printf '%-20s %5s    %s' "NOT RUN" "" "$1")")
}

setup() {
  ensure_packages "${BUILD_PACKAGES[@]}" util-linux
  # The code-page tests run under Japanese and German locales.
  ensure_locales ja_JP.UTF-8 de_DE.UTF-8 zh_CN.UTF-8 de_DE.ISO-8859-1
}

build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_WERROR=ON >/dev/null
  cmake --build build -j "$jobs"
}

build_asan() {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLET_SANITIZE=ON \
    -DQUILLET_WERROR=ON >/dev/null
  cmake --build build-asan -j "$jobs"
}

# The end-to-end tests run the sanitized installer and packer, and the fuzz replays the
# sanitized targets, so a fault in a child process fails its test too.
test_asan() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
}

step "Packages and locales" setup
step "Build (build/)" build
step "Unit and end-to-end tests" ctest --test-dir build --output-on-failure -j "$jobs"
# Upgrades killed at random moments, with the programs just built: what the install record and
# its journal promise holds after the next run.
step "Kill trials (6 upgrades killed)" env QUILLET_TRIALS=6 QUILLET_PROGRAMS=build \
  bash bench/kill-trials.sh
step "Sanitizer build (build-asan/)" build_asan
step "Unit, end-to-end and fuzz replay tests under ASan and UBSan" test_asan

# 32-bit Wine first, so that every Wine prefix is booted with it.
echo
echo "== 32-bit Wine"
wine32=0
wine32_start=$(date +%s)
if ensure_wine32; then
  wine32=1
fi
wine32_result=$([ "$wine32" -eq 1 ] && echo installed || echo "not available")
echo "== 32-bit Wine: $wine32_result in $(($(date +%s) - wine32_start)) s"
summary+=("$(printf '%-20s %5d s  %s' "$wine32_result" "$(($(date +%s) - wine32_start))" "32-bit Wine (wine32:i386)")")

step "Windows build with its unit tests (build-windows/)" bash scripts/build-windows.sh --tests
step "Windows unit tests and Wine suite" bash scripts/wine-tests.sh
# The same configuration as the build above, so nothing is built again.
step "Windows smoke test" bash scripts/build-windows.sh --tests --smoke

x86_start=$(date +%s)
if [ "$wine32" -eq 1 ]; then
  step "32-bit Windows build with its unit tests (build-windows-x86/)" \
    bash scripts/build-windows.sh --x86 --tests
  step "32-bit Windows unit tests and Wine suite" bash scripts/wine-tests.sh --x86
  step "32-bit Windows smoke test" bash scripts/build-windows.sh --x86 --tests --smoke
else
  # The programs are built all the same; their unit tests, which could not run, are not.
  step "32-bit Windows build (build-windows-x86/)" bash scripts/build-windows.sh --x86
  not_run "32-bit Wine (wine32:i386) cannot be installed or run here, so the 32-bit Windows unit tests, Wine suite and smoke test did not run (the 32-bit programs were built)"
fi
echo "== 32-bit Windows build and tests: $(($(date +%s) - x86_start)) s"

step "Code pages: the Linux installer against the Windows one under Wine" \
  bash scripts/codepage-diff.sh

echo
echo "== Summary"
printf '%s\n' "${summary[@]}"
echo "test.sh: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
