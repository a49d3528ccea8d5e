#!/bin/bash
# Kill trials: an upgrade killed with SIGKILL at a random moment, then a second run that either
# upgrades again or removes the package. Each trial checks what the install record promises:
# after the upgrade no file of version 1 is left and the library path holds only the new folder
# where the old one was; after the removal the folders are gone and user.reg is byte for byte
# what it was before the first install. Odd trials upgrade into the same folder, even ones into
# a new folder. Prints one line per trial and the count of failures; exit status 1 on any.
# Settings: QUILLET_TRIALS (default 20), QUILLET_BENCH_BUILD (default build-bench), or
# QUILLET_PROGRAMS, a build folder whose quillet-sfx and quillet-pack are used as they are (the
# test run's own build, which this script then neither configures nor builds).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_PROGRAMS:-${QUILLET_BENCH_BUILD:-$root/build-bench}}
trials=${QUILLET_TRIALS:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -z "${QUILLET_PROGRAMS:-}" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BENCH=ON \
    -DQUILLET_TESTS=OFF >/dev/null
  ninja -C "$build" -j2 quillet-sfx quillet-pack >/dev/null
fi
build=$(cd "$build" && pwd) || exit 1
sfx=$build/quillet-sfx
pack=$build/quillet-pack

prefix=$work/prefix
mkdir -p "$prefix/drive_c/Delphi7" "$prefix/dosdevices"
ln -sfn ../drive_c "$prefix/dosdevices/c:"
printf '%s\n' 'WINE REGISTRY Version 2' '#arch=win32' '' \
  '[Software\\Borland\\Delphi\\7.0] 1796736037' '"RootDir"="C:\\Delphi7\\"' >"$prefix/system.reg"
printf '%s\n' 'WINE REGISTRY Version 2' '#arch=win32' '' \
  '[Software\\Borland\\Delphi\\7.0\\Library] 1796736037' \
  '"Search Path"="$(DELPHI)\\Lib;C:\\Mine"' >"$work/user.reg.before"

# Version 1: 3,000 units in Source and 300 in Old; version 2: the 3,000 with other content.
python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
for version, folders in (("v1", (("Source", 3000), ("Old", 300))), ("v2", (("Source", 3000),))):
    for folder, count in folders:
        os.makedirs(os.path.join(work, version, folder), exist_ok=True)
        for i in range(count):
            with open(os.path.join(work, version, folder, "unit%05d.pas" % i), "w") as f:
                f.write("unit u%d; { %s }\n" % (i, version))
PY
for v in v1 v2; do
  printf '%s\n' 'name = "Trial"' "version = \"${v#v}.0\"" "default-folder = '%Delphi%Trial\\'" \
    "library-path = ['%zel_root%Source']" '[[entry]]' "source = \"$v/**/*\"" \
    "folder = '%zel_root%'" >"$work/$v.toml"
  (cd "$work" && "$pack" build "$v.toml" -o "$v.qpk" -q) || exit 1
done

run() { QUILLET_THREADS=1 WINEPREFIX="$prefix" "$sfx" "$@" --yes >/dev/null 2>&1; }
search() { grep -a '"Search Path"' "$prefix/user.reg"; }
# How long an upgrade takes here: the kills fall anywhere in it.
cp "$work/user.reg.before" "$prefix/user.reg"
run "$work/v1.qpk" --target 'C:\Trial' || { echo "version 1 failed"; exit 1; }
start=$(date +%s.%N)
run "$work/v2.qpk" --target 'C:\Trial2' || { echo "version 2 failed"; exit 1; }
span=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
echo "an upgrade takes ${span}s; kills fall within it"
failures=0
for trial in $(seq 1 "$trials"); do
  rm -rf "$prefix/drive_c/Trial" "$prefix/drive_c/Trial2"
  cp "$work/user.reg.before" "$prefix/user.reg"
  run "$work/v1.qpk" --target 'C:\Trial' || { echo "trial $trial: version 1 failed"; exit 1; }
  target='C:\Trial'
  [ $((trial % 2)) -eq 0 ] && target='C:\Trial2'
  delay=$(awk -v s="$RANDOM" -v span="$span" 'BEGIN { srand(s); printf "%.3f", rand() * span }')
  QUILLET_THREADS=1 WINEPREFIX="$prefix" "$sfx" "$work/v2.qpk" --yes --target "$target" \
    >/dev/null 2>&1 &
  sleep "$delay"
  kill -9 $! 2>/dev/null
  wait $! 2>/dev/null
  problems=""
  if [ $((trial % 4)) -lt 2 ]; then
    how="upgrade again"
    run "$work/v2.qpk" --target "$target" || problems+=" the second run failed;"
    folder=$prefix/drive_c/${target#C:\\}
    stale=$(grep -rl 'v1 }' "$prefix/drive_c" --include='*.pas' 2>/dev/null | wc -l)
    units=$(find "$folder/Source" -name '*.pas' | wc -l)
    leftovers=$(find "$prefix/drive_c" -name '*.quillet-journal' | wc -l)
    [ "$stale" -eq 0 ] || problems+=" $stale files of version 1 left;"
    [ "$units" -eq 3000 ] || problems+=" $units units of version 2;"
    [ "$leftovers" -eq 0 ] || problems+=" a journal left;"
    # user.reg doubles every backslash.
    expected='"Search Path"="$(DELPHI)\\Lib;C:\\Mine;'"${target/\\/\\\\}"'\\Source"'
    [ "$(search)" = "$expected" ] || problems+=" library path $(search);"
    if [ "$target" = 'C:\Trial2' ] && [ -e "$prefix/drive_c/Trial" ]; then
      problems+=" the old folder stays: $(find "$prefix/drive_c/Trial" | head -3 | tr '\n' ' ');"
    fi
  else
    how="remove"
    run --uninstall=Trial || problems+=" the removal failed;"
    [ ! -e "$prefix/drive_c/Trial" ] || problems+=" C:\\Trial stays ($(find "$prefix/drive_c/Trial" | tr '\n' ' '));"
    [ ! -e "$prefix/drive_c/Trial2" ] || problems+=" C:\\Trial2 stays ($(find "$prefix/drive_c/Trial2" | wc -l) paths);"
    cmp -s "$prefix/user.reg" "$work/user.reg.before" ||
      problems+=" user.reg differs: $(diff "$work/user.reg.before" "$prefix/user.reg" | tr '\n' ' ');"
  fi
  if [ -n "$problems" ]; then
    failures=$((failures + 1))
    echo "trial $trial: killed after ${delay}s into $target, $how: FAILED:$problems"
  else
    echo "trial $trial: killed after ${delay}s into $target, $how: clean"
  fi
done
echo "$failures of $trials trials failed"
[ "$failures" -eq 0 ]
