#!/bin/sh
# Measures, side by side in one run, on a generated corpus:
#   - extraction of every entry in memory (ExtractEntry, as the installer does) against
#     `bzip2 -dc` over the very same stored streams, written out as .bz2 files;
#   - `quillet-pack build --jobs 2` against `pbzip2 -p2` compressing the same bytes (the corpus
#     files concatenated in package order), both at level 9.
# Needs hyperfine, pbzip2, bzip2 and jq. Settings through the environment:
#   QUILLET_BENCH_MB (corpus size, default 24), QUILLET_BENCH_RUNS (default 5),
#   QUILLET_BENCH_BUILD (build folder, default build-bench), QUILLET_BENCH_WORK (scratch folder,
#   default a new temporary folder, removed at the end).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BENCH_BUILD:-$root/build-bench}
size=${QUILLET_BENCH_MB:-24}
runs=${QUILLET_BENCH_RUNS:-5}
if [ -n "${QUILLET_BENCH_WORK:-}" ]; then
  work=$QUILLET_BENCH_WORK
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

for tool in hyperfine pbzip2 bzip2 jq; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BENCH=ON \
  -DQUILLET_TESTS=OFF >/dev/null
ninja -C "$build" -j2 quillet-pack quillet-bench >/dev/null
bench=$build/quillet-bench
pack=$build/quillet-pack

rm -rf "$work/corpus" "$work/streams"
"$bench" corpus "$work/corpus" "$size"
cat >"$work/corpus.toml" <<'MANIFEST'
name = "Bench"
default-folder = '%Delphi%Bench\'
timestamp = 2026-01-15T10:30:00
[[entry]]
source = "corpus"
MANIFEST
"$pack" build "$work/corpus.toml" -o "$work/corpus.qpk" -q
"$pack" test "$work/corpus.qpk" >/dev/null
"$bench" streams "$work/corpus.qpk" "$work/streams"
(cd "$work/corpus" && find . -type f | LC_ALL=C sort | xargs cat) >"$work/corpus.cat"
bytes=$(wc -c <"$work/corpus.cat")
entries=$(ls "$work/streams" | wc -l)
echo "corpus: $bytes bytes in $entries files; package $(wc -c <"$work/corpus.qpk") bytes;" \
  "pbzip2 -p2 -9 output $(pbzip2 -p2 -9 -c "$work/corpus.cat" | wc -c) bytes"

hyperfine --warmup 1 --runs "$runs" --export-json "$work/extract.json" \
  -n "quillet extract" "'$bench' extract '$work/corpus.qpk'" \
  -n "bzip2 -dc" "bzip2 -dc '$work'/streams/*.bz2 >/dev/null"

hyperfine --warmup 1 --runs "$runs" --export-json "$work/compress.json" \
  -n "quillet-pack build --jobs 2" \
  "'$pack' build '$work/corpus.toml' -o '$work/again.qpk' --jobs 2 -q" \
  -n "pbzip2 -p2" "pbzip2 -p2 -9 -c '$work/corpus.cat' >/dev/null"

cmp -s "$work/corpus.qpk" "$work/again.qpk" || { echo "bench: --jobs 2 changed the package" >&2; exit 1; }

summary() {
  jq -r --argjson bytes "$bytes" '.results as $r |
    ($r[0].mean) as $a | ($r[1].mean) as $b |
    "\($r[0].command): \($a * 1000 | round) ms (\($bytes / $a / 1048576 * 10 | round / 10) MiB/s)  " +
    "\($r[1].command): \($b * 1000 | round) ms (\($bytes / $b / 1048576 * 10 | round / 10) MiB/s)  " +
    "time ratio \($a / $b * 1000 | round / 1000)"' "$1"
}
echo
echo "Extraction:  $(summary "$work/extract.json")"
echo "Compression: $(summary "$work/compress.json")"
