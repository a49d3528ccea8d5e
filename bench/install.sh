#!/bin/sh
# Installation at scale: every ratio measured side by side in one run, with hyperfine medians.
#   speed       24 MB in ~600 source-like entries, installed with 2 threads and with 1, against
#               the floor: checking and decompressing every entry in memory on one thread
#               (quillet-bench extract)
#   linear      1,000 and 16,000 tiny entries, in one folder and over 100 folders: cost per entry
#               of 16,000 against 1,000; 16,000 in one folder against `tar -xjf` of the same tree
#   syscalls    system calls per entry installing 16,000 tiny entries (strace -c -f)
#   memory      peak resident memory with one large entry and with 20,000 entries
#   safety      16,000 tiny entries as new files, replacing existing ones, and written plainly by
#               tar -xf without compression
#   start-up    a run without registered IDEs (start-up, welcome, final prompt) for a small and
#               a large package
# Every run installs into a folder of its own, and the outputs stay until the batch ends: ext4
# is slower right after many files were deleted.
# Needs hyperfine, jq, python3, strace, tar, bzip2 and /usr/bin/time. Settings through the
# environment: QUILLET_BENCH_RUNS (default 5), QUILLET_BENCH_BIG_MB (the large entry, default
# 300), QUILLET_BENCH_BUILD (default build-bench), QUILLET_BENCH_WORK (scratch folder; default a
# new temporary folder, removed at the end).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BENCH_BUILD:-$root/build-bench}
runs=${QUILLET_BENCH_RUNS:-5}
big=${QUILLET_BENCH_BIG_MB:-300}
if [ -n "${QUILLET_BENCH_WORK:-}" ]; then
  work=$QUILLET_BENCH_WORK
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

for tool in hyperfine jq python3 strace tar bzip2; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BENCH=ON \
  -DQUILLET_TESTS=OFF >/dev/null
ninja -C "$build" -j2 quillet-sfx quillet-pack quillet-bench >/dev/null
sfx=$build/quillet-sfx
pack=$build/quillet-pack
bench=$build/quillet-bench

# A Wine prefix with one registered Delphi, and one without any.
prefix=$work/prefix
mkdir -p "$prefix/drive_c/Delphi7" "$prefix/dosdevices" "$work/empty-prefix"
ln -sfn ../drive_c "$prefix/dosdevices/c:"
printf '%s\n' 'WINE REGISTRY Version 2' '#arch=win32' '' \
  '[Software\\Borland\\Delphi\\7.0] 1796736037' '"RootDir"="C:\\Delphi7\\"' >"$prefix/system.reg"
printf '%s\n' 'WINE REGISTRY Version 2' '#arch=win32' >"$work/empty-prefix/system.reg"

# pack NAME SOURCE-FOLDER [LEVEL]: a package of every file below the folder.
pack_folder() {
  printf '%s\n' 'name = "Bench"' "default-folder = '%Delphi%Bench\\'" \
    'timestamp = 2026-01-15T10:30:00' \
    '[[entry]]' "source = \"$2\"" >"$work/$1.toml"
  "$pack" build "$work/$1.toml" -o "$work/$1.qpk" --level "${3:-9}" -q
}

# tiny NAME COUNT FOLDERS: COUNT files of a few bytes spread over FOLDERS folders.
tiny() {
  python3 - "$work/$1" "$2" "$3" <<'PY'
import os, sys
root, count, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(count):
    folder = os.path.join(root, "f%03d" % (i % folders)) if folders > 1 else root
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "unit%05d.pas" % i), "w") as f:
        f.write("unit u%d;\n" % i)
PY
  pack_folder "$1" "$1"
  tar -C "$work/$1" -cjf "$work/$1.tar.bz2" .
  tar -C "$work/$1" -cf "$work/$1.tar" .
}

"$bench" corpus "$work/corpus" 24
pack_folder corpus corpus
tiny tiny1k 1000 1
tiny tiny16k 16000 1
tiny spread1k 1000 100
tiny spread16k 16000 100
tiny tiny20k 20000 1
python3 - "$work/big" "$big" <<'PY'
import os, sys
os.makedirs(sys.argv[1], exist_ok=True)
line = b"procedure TWidget.Paint; begin Canvas.TextOut(0, 0, Caption); end;\n"
with open(os.path.join(sys.argv[1], "big.pas"), "wb") as f:
    for _ in range(int(sys.argv[2]) * 1048576 // len(line)):
        f.write(line)
PY
pack_folder big big 1
echo "packages: corpus $(wc -c <"$work/corpus.qpk") bytes, big $(wc -c <"$work/big.qpk") bytes"

# One installation into a new folder; the folder number is counted in a file.
cat >"$work/install" <<EOF
#!/bin/sh
n=\$(cat "$work/count" 2>/dev/null || echo 0); echo \$((n + 1)) >"$work/count"
printf '%s\n' "$work/out/\$n" | QUILLET_THREADS=\$2 WINEPREFIX="$prefix" "$sfx" "\$1" >/dev/null
EOF
cat >"$work/untar" <<EOF
#!/bin/sh
n=\$(cat "$work/count" 2>/dev/null || echo 0); echo \$((n + 1)) >"$work/count"
mkdir -p "$work/out/\$n" && tar -C "$work/out/\$n" -xjf "\$1"
EOF
# Plain create-and-write of the same tree: tar without compression.
cat >"$work/untar-plain" <<EOF
#!/bin/sh
n=\$(cat "$work/count" 2>/dev/null || echo 0); echo \$((n + 1)) >"$work/count"
mkdir -p "$work/out/\$n" && tar -C "$work/out/\$n" -xf "\$1"
EOF
# An installation over the files of an earlier one: every target is replaced.
cat >"$work/reinstall" <<EOF
#!/bin/sh
printf '%s\n' "$work/out/replaced" | QUILLET_THREADS=1 WINEPREFIX="$prefix" "$sfx" "\$1" >/dev/null
EOF
chmod +x "$work/install" "$work/untar" "$work/untar-plain" "$work/reinstall"
mkdir -p "$work/out"
cores=$(nproc)

hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/speed.json" \
  -n floor "$bench extract $work/corpus.qpk" \
  -n threads "$work/install $work/corpus.qpk $cores" \
  -n one "$work/install $work/corpus.qpk 1" >/dev/null
hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/linear.json" \
  -n one1k "$work/install $work/tiny1k.qpk $cores" \
  -n one16k "$work/install $work/tiny16k.qpk $cores" \
  -n spread1k "$work/install $work/spread1k.qpk $cores" \
  -n spread16k "$work/install $work/spread16k.qpk $cores" \
  -n tar16k "$work/untar $work/tiny16k.tar.bz2" >/dev/null
hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/safety.json" \
  -n new "$work/install $work/tiny16k.qpk 1" \
  -n replace "$work/reinstall $work/tiny16k.qpk" \
  -n plain "$work/untar-plain $work/tiny16k.tar" >/dev/null
hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/startup.json" \
  -n small "env WINEPREFIX=$work/empty-prefix $sfx $work/tiny1k.qpk" \
  -n large "env WINEPREFIX=$work/empty-prefix $sfx $work/big.qpk" >/dev/null

median() { jq -r --arg n "$2" '.results[] | select(.command == $n) | .median' "$work/$1.json"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
ms() { awk -v a="$1" 'BEGIN { printf "%.0f ms", a * 1000 }'; }

floor=$(median speed floor)
echo "Speed (24 MB, $(find "$work/corpus" -type f | wc -l) entries; floor $(ms "$floor"))"
echo "  $cores threads: $(ms "$(median speed threads)"), $(ratio "$(median speed threads)" "$floor") x floor (goal 0.7 on 2 cores)"
echo "  1 thread:  $(ms "$(median speed one)"), $(ratio "$(median speed one)" "$floor") x floor (goal 1.1)"
for layout in one spread; do
  a=$(median linear "${layout}1k")
  b=$(median linear "${layout}16k")
  echo "Linear, $layout folder(s): 1,000 in $(ms "$a"), 16,000 in $(ms "$b"):" \
    "$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", (b / 16000) / (a / 1000) }') x per entry (goal 1.3)"
done
echo "  16,000 in one folder against tar -xjf ($(ms "$(median linear tar16k)")):" \
  "$(ratio "$(median linear one16k)" "$(median linear tar16k)") x (goal 1.1)"

new=$(median safety new)
replace=$(median safety replace)
plain=$(median safety plain)
perentry() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f us", (a - b) * 1e6 / 16000 }'; }
echo "Cost of safety, 16,000 tiny entries in one folder, 1 thread: new files (unnamed file, then" \
  "link) $(ms "$new"), replacing them (named temporary file, then rename) $(ms "$replace")," \
  "plain create-and-write (tar -xf, uncompressed) $(ms "$plain"): per entry" \
  "$(perentry "$new" "$plain") and $(perentry "$replace" "$plain") above plain"

strace -c -f -o "$work/strace.txt" "$work/install" "$work/tiny16k.qpk" 1
calls=$(awk '$NF == "total" { print $(NF-2) }' "$work/strace.txt")
echo "System calls: $calls for 16,000 entries (1 thread, whole run):" \
  "$(awk -v c="$calls" 'BEGIN { printf "%.1f", c / 16000 }') per entry"

peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
echo "Memory: one ${big} MB entry: $(( $(peak "$work/install" "$work/big.qpk" "$cores") / 1024 )) MB peak;" \
  "20,000 entries: $(( $(peak "$work/install" "$work/tiny20k.qpk" "$cores") / 1024 )) MB peak" \
  "(goals: 64 + 16 MB and 64 + 32 MB)"
echo "Start-up without IDEs: $(wc -c <"$work/tiny1k.qpk")-byte package $(ms "$(median startup small)")," \
  "$(wc -c <"$work/big.qpk")-byte package $(ms "$(median startup large)")"
