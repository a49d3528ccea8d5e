#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan, and runs each for a while on seeds made
# from the sample package and a small registry file. Usage: scripts/fuzz.sh [SECONDS per target]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-dev

seconds=${1:-60}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DQUILLET_FUZZ=ON -DQUILLET_SANITIZE=ON -DQUILLET_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)" --target PackageFuzz RegistryFuzz quillet-pack

seeds=build-fuzz/seeds
mkdir -p "$seeds/package" "$seeds/registry" build-fuzz/corpus/package build-fuzz/corpus/registry
build-fuzz/quillet-pack build examples/tallowmere/quillet.toml -o "$seeds/package/tallowmere.qpk" -q
cat > "$seeds/registry/system.reg" <<'REG'
WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Wow6432Node\\Borland\\Delphi\\7.0] 1796736037
#time=1dc5a1b2c3d4e5f
"RootDir"="C:\\Program Files\\Borland\\Delphi7\\"
"Kind"=str(2):"%ProgramFiles%\\x"
"Size"=dword:0000000a
"Data"=hex:00,01,02,\
  03,04
"Wide"=hex(1):43,00,3a,00,00,00
@="default \"quoted\" \x41 \n"

[Software\\Borland\\C++Builder\\6.0] 1796736037
"RootDir"="C:\\CB6"
REG

for target in PackageFuzz RegistryFuzz; do
  case $target in
    PackageFuzz) corpus=package ;;
    RegistryFuzz) corpus=registry ;;
  esac
  echo "== $target for $seconds s"
  "build-fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=4096 -print_final_stats=1 \
    "build-fuzz/corpus/$corpus" "$seeds/$corpus" 2>&1 | grep -E '^(stat::number_of_executed_units|#[0-9]+ +DONE|==[0-9]+==ERROR|SUMMARY)' || true
done
