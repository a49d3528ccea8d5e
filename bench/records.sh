#!/bin/sh
# Install records at scale: every ratio measured side by side in one run, with hyperfine medians,
# 1 installer thread, against a fresh install of 16,000 tiny entries into a new folder:
#   replace     the same package again into its folder: every file replaced, nothing stale
#   upgrade     version 2 over version 1 in its folder: 16,000 files replaced and the 1,600 files
#               that only version 1 installs removed, since they are unchanged
#   uninstall   --uninstall of the 16,000 files, their folder and their library-path entry
# Each timed run gets its state from hyperfine's --prepare (an install of version 1, or of the
# package itself), which is not timed. QUILLET_BENCH_BASELINE=path/to/quillet-sfx times the fresh
# install and the replacement with another installer (an earlier build) in the same batch.
# Needs hyperfine, jq and python3. Settings through the environment: QUILLET_BENCH_RUNS (default
# 5), QUILLET_BENCH_BUILD (default build-bench), QUILLET_BENCH_WORK (scratch folder; default a new
# temporary folder, removed at the end).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BENCH_BUILD:-$root/build-bench}
runs=${QUILLET_BENCH_RUNS:-5}
if [ -n "${QUILLET_BENCH_WORK:-}" ]; then
  work=$QUILLET_BENCH_WORK
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

for tool in hyperfine jq python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BENCH=ON \
  -DQUILLET_TESTS=OFF >/dev/null
ninja -C "$build" -j2 quillet-sfx quillet-pack >/dev/null
sfx=$build/quillet-sfx
pack=$build/quillet-pack
baseline=${QUILLET_BENCH_BASELINE:-}

# A Wine prefix with one registered Delphi 7 whose user settings have a library key.
prefix=$work/prefix
mkdir -p "$prefix/drive_c/Delphi7" "$prefix/dosdevices"
ln -sfn ../drive_c "$prefix/dosdevices/c:"
printf '%s\n' 'WINE REGISTRY Version 2' '#arch=win32' '' \
  '[Software\\Borland\\Delphi\\7.0] 1796736037' '"RootDir"="C:\\Delphi7\\"' >"$prefix/system.reg"
printf '%s\n' 'WINE REGISTRY Version 2' '#arch=win32' '' \
  '[Software\\Borland\\Delphi\\7.0\\Library] 1796736037' \
  '"Search Path"="$(DELPHI)\\Lib"' >"$prefix/user.reg"
cp "$prefix/user.reg" "$work/user.reg.empty"

# tiny FOLDER COUNT TEXT: COUNT files of a few bytes, their content marked with TEXT.
tiny() {
  python3 - "$work/$1" "$2" "$3" <<'PY'
import os, sys
root, count, text = sys.argv[1], int(sys.argv[2]), sys.argv[3]
os.makedirs(root, exist_ok=True)
for i in range(count):
    with open(os.path.join(root, "unit%05d.pas" % i), "w") as f:
        f.write("unit u%d; { %s }\n" % (i, text))
PY
}
# pack NAME VERSION SOURCE: a named package of every file below the folder, on the library path.
pack_folder() {
  printf '%s\n' 'name = "Bench"' "version = \"$2\"" "default-folder = '%Delphi%Bench\\'" \
    'timestamp = 2026-01-15T10:30:00' "library-path = ['%zel_root%']" \
    '[[entry]]' "source = \"$3/*\"" >"$work/$1.toml"
  "$pack" build "$work/$1.toml" -o "$work/$1.qpk" -q
}
tiny v1 17600 one
tiny v2 16000 two
pack_folder v1 1.0 v1
pack_folder v2 2.0 v2

# install PACKAGE [INSTALLER]: into the one folder, every answer given.
cat >"$work/install" <<EOF
#!/bin/sh
QUILLET_THREADS=1 WINEPREFIX="$prefix" "\${2:-$sfx}" "\$1" --yes --target 'C:\\Bench' >/dev/null
EOF
# clean: the folder, the records and the user's settings as before any install.
cat >"$work/clean" <<EOF
#!/bin/sh
rm -rf "$prefix/drive_c/Bench" && cp "$work/user.reg.empty" "$prefix/user.reg"
EOF
cat >"$work/uninstall" <<EOF
#!/bin/sh
QUILLET_THREADS=1 WINEPREFIX="$prefix" "$sfx" --uninstall=Bench --yes >/dev/null
EOF
# installed PACKAGE [INSTALLER]: the state after one install of the package on a clean prefix.
cat >"$work/installed" <<EOF
#!/bin/sh
"$work/clean" && "$work/install" "\$@"
EOF
chmod +x "$work/install" "$work/clean" "$work/uninstall" "$work/installed"

set -- -n fresh --prepare "$work/clean" "$work/install $work/v2.qpk" \
  -n replace --prepare "$work/installed $work/v2.qpk" "$work/install $work/v2.qpk" \
  -n upgrade --prepare "$work/installed $work/v1.qpk" "$work/install $work/v2.qpk" \
  -n uninstall --prepare "$work/installed $work/v2.qpk" "$work/uninstall"
if [ -n "$baseline" ]; then
  set -- "$@" -n fresh-baseline --prepare "$work/clean" "$work/install $work/v2.qpk $baseline" \
    -n replace-baseline --prepare "$work/installed $work/v2.qpk $baseline" \
    "$work/install $work/v2.qpk $baseline"
fi
hyperfine -N --runs "$runs" --export-json "$work/records.json" "$@" >/dev/null

# The state after an upgrade and after a removal, counted once more outside the timing.
"$work/clean"
"$work/install" "$work/v1.qpk"
"$work/install" "$work/v2.qpk"
files=$(find "$prefix/drive_c/Bench" -name 'unit*.pas' | wc -l)
stale=$(grep -rl 'one }' "$prefix/drive_c/Bench" | wc -l)
"$work/uninstall"
left=0
if [ -d "$prefix/drive_c/Bench" ]; then left=$(find "$prefix/drive_c/Bench" | wc -l); fi
same=CHANGED
if cmp -s "$prefix/user.reg" "$work/user.reg.empty"; then same="as before"; fi

median() { jq -r --arg n "$1" '.results[] | select(.command == $n) | .median' "$work/records.json"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
ms() { awk -v a="$1" 'BEGIN { printf "%.0f ms", a * 1000 }'; }
fresh=$(median fresh)
echo "Fresh install of 16,000 tiny entries: $(ms "$fresh")"
echo "  replacing them:        $(ms "$(median replace)"), $(ratio "$(median replace)" "$fresh") x"
echo "  upgrade (1,600 stale): $(ms "$(median upgrade)"), $(ratio "$(median upgrade)" "$fresh") x (goal 1.0)"
echo "  removal:               $(ms "$(median uninstall)"), $(ratio "$(median uninstall)" "$fresh") x (goal 0.5)"
if [ -n "$baseline" ]; then
  echo "  baseline installer: fresh $(ms "$(median fresh-baseline)"), replacing" \
    "$(ms "$(median replace-baseline)"), $(ratio "$(median replace-baseline)" "$(median fresh-baseline)") x"
fi
echo "After the upgrade: $files units, $stale of version 1; after the removal: $left paths left" \
  "in the folder, user.reg $same"
