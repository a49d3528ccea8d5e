#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan, and runs each for a while on seeds that
# the project's own writer makes. Usage: scripts/fuzz.sh [SECONDS per target] [TARGET...]
# The whole-run target writes wherever a package says; as root, every target runs as the user
# nobody, who may write only below the world-writable temporary folders.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-dev util-linux

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(PackageFuzz RegistryFuzz RunFuzz CommandLineFuzz TemplateFuzz RecordFuzz IndexTextFuzz
  DelphiPackageFuzz SettingsFuzz)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DQUILLET_FUZZ=ON -DQUILLET_SANITIZE=ON -DQUILLET_TESTS=OFF -DQUILLET_PACKER=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}" quillet-fuzz-seeds

work=${QUILLET_FUZZ_WORK:-/tmp/quillet-fuzz}
mkdir -p "$work"
build-fuzz/quillet-fuzz-seeds "$work/seeds"
runner=()
if [ "$(id -u)" = 0 ]; then
  chown -R nobody "$work"
  runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi

for target in "${targets[@]}"; do
  case $target in
    PackageFuzz) corpus=package ;;
    RegistryFuzz) corpus=registry ;;
    RunFuzz) corpus=run ;;
    CommandLineFuzz) corpus=commandline ;;
    TemplateFuzz) corpus=template ;;
    RecordFuzz) corpus=record ;;
    IndexTextFuzz) corpus=index ;;
    DelphiPackageFuzz) corpus=dpk ;;
    SettingsFuzz) corpus=settings ;;
    *) echo "fuzz.sh: unknown target $target" >&2; exit 4 ;;
  esac
  mkdir -p "$work/corpus/$corpus" "$work/artifacts/$corpus"
  [ "$(id -u)" != 0 ] || chown nobody "$work/corpus/$corpus" "$work/artifacts/$corpus"
  echo "== $target for $seconds s (corpus $work/corpus/$corpus)"
  (cd "$work" && "${runner[@]}" "$OLDPWD/build-fuzz/$target" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/$corpus/" \
    "$work/corpus/$corpus" "$work/seeds/$corpus") 2>&1 |
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+[[:space:]]+(DONE|INITED)|==[0-9]+==ERROR|SUMMARY)' || true
  echo "findings: $(find "$work/artifacts/$corpus" -type f | wc -l) (in $work/artifacts/$corpus)"
done
