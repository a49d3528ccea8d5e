#!/bin/sh
# Start-up with a large Wine registry, every ratio measured side by side in one run, with
# hyperfine medians:
#   time        the time until the installer has asked its folder questions, on a prefix whose
#               system.reg is 50 MB and 100 MB (many filler keys around a few IDE registrations),
#               less the same on a prefix with a small system.reg, against reading the file once
#               (`cat system.reg > /dev/null`); for a package of the default families (Delphi and
#               C++Builder, two base keys read) and one of every family (five base keys)
#   memory      peak resident memory of those runs (/usr/bin/time), against the file's size
# The installer gets "N" for every question, so it skips every turn and ends at the final prompt:
# what it does after the first question costs next to nothing.
# Needs hyperfine, jq, python3 and /usr/bin/time. Settings through the environment:
# QUILLET_BENCH_RUNS (default 10), QUILLET_BENCH_BUILD (default build-bench), QUILLET_BENCH_WORK
# (scratch folder; default a new temporary folder, removed at the end), QUILLET_BENCH_BASELINE (another
# quillet-sfx, for example one built from an earlier commit, measured beside this one).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BENCH_BUILD:-$root/build-bench}
runs=${QUILLET_BENCH_RUNS:-10}
baseline=${QUILLET_BENCH_BASELINE:-}
if [ -n "${QUILLET_BENCH_WORK:-}" ]; then
  work=$QUILLET_BENCH_WORK
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

for tool in hyperfine jq python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_TESTS=OFF >/dev/null
ninja -C "$build" -j2 quillet-sfx quillet-pack >/dev/null
sfx=$build/quillet-sfx
pack=$build/quillet-pack

# reg FILE MIB: a system.reg of a 64-bit prefix in Wine's layout and order, of about MIB MiB (0:
# the IDE registrations alone). Filler: COM classes, font data in hex over continuation lines, the
# Wow6432Node branch's classes, services.
reg() {
  python3 - "$1" "$2" <<'PY'
import sys
path, target = sys.argv[1], int(sys.argv[2]) * 1048576
size = 0
out = open(path, "w", newline="\n")
def w(text):
    global size
    size += len(text)
    out.write(text)
def section(key, n):
    w("\n[%s] %d\n#time=1dd871a3d07%x\n" % (key, 1796737465 + n, n))
def ide(key, folder, n):
    section(key, n)
    w('"RootDir"="%s"\n"Version"="1.0"\n' % folder)
def guid(n):
    return "{%08X-%04X-%04X-%04X-%012X}" % ((n * 2654435761) & 0xFFFFFFFF, n & 0xFFFF,
                                           (n >> 3) & 0xFFFF, (n * 7) & 0xFFFF, n * 977)
def fill(until, write):
    global n
    while size < until:
        n += 1
        write(n)
def com(n):
    section("Software\\\\Classes\\\\CLSID\\\\" + guid(n), n)
    w('@="Component %d"\n' % n)
    section("Software\\\\Classes\\\\CLSID\\\\" + guid(n) + "\\\\InprocServer32", n)
    w('@="C:\\\\windows\\\\system32\\\\comp%d.dll"\n"ThreadingModel"="Both"\n' % n)
def font(n):
    section("Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Fonts\\\\F%d" % n, n)
    data = ["%02x" % ((n + i * 31) & 0xFF) for i in range(96)]
    w('"Data"=hex:' + ",\\\n  ".join(",".join(data[i:i + 25]) for i in range(0, 96, 25)) + "\n")
    w('"Names"=str(7):"Arial\\0Arial Bold\\0"\n')
def wow(n):
    section("Software\\\\Wow6432Node\\\\Classes\\\\CLSID\\\\" + guid(n), n)
    w('@="Wow64 component %d"\n' % n)
def service(n):
    section("System\\\\CurrentControlSet\\\\Services\\\\svc%d" % n, n)
    w('"DisplayName"="Service %d"\n"ErrorControl"=dword:00000001\n' % n)
    w('"ImagePath"=str(2):"%%SystemRoot%%\\\\system32\\\\svc%d.exe"\n"Start"=dword:00000003\n' % n)
n = 0
w("WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n")
ide("Software\\\\Borland\\\\Delphi\\\\7.0", "C:\\\\Delphi7 (64-bit view)\\\\", 0)
fill(target * 1 // 4, com)
fill(target * 2 // 4, font)
ide("Software\\\\Wow6432Node\\\\Borland\\\\C++Builder\\\\6.0", "C:\\\\CBuilder6\\\\", n)
ide("Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\5.0", "C:\\\\Delphi5\\\\", n)
ide("Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\7.0", "C:\\\\Delphi7\\\\", n)
fill(target * 3 // 4, wow)
ide("Software\\\\Wow6432Node\\\\Embarcadero\\\\BDS\\\\23.0", "C:\\\\Studio\\\\23.0\\\\", n)
fill(target, service)
out.close()
PY
}

mkdir -p "$work/small" "$work/mb50" "$work/mb100" "$work/src"
reg "$work/small/system.reg" 0
reg "$work/mb50/system.reg" 50
reg "$work/mb100/system.reg" 100
echo "unit Bench; interface implementation end." >"$work/src/Bench.pas"
# pack NAME [IDES]: a package of one unit, for the default families or the ones named.
pack() {
  { echo 'name = "Bench"'
    echo "default-folder = '%Delphi%Bench\\'"; echo 'timestamp = 2026-01-15T10:30:00'
    [ -z "${2:-}" ] || echo "ides = $2"
    echo '[[entry]]'; echo 'source = "src"'; } >"$work/$1.toml"
  "$pack" build "$work/$1.toml" -o "$work/$1.qpk" -q
}
pack default
pack every '["delphi", "cbuilder", "bds"]'
printf 'N\nN\nN\nN\nN\nN\nN\nN\n' >"$work/answers"

# run INSTALLER PREFIX PACKAGE: one run, every question answered with N.
cat >"$work/run" <<EOF
#!/bin/sh
WINEPREFIX="$work/\$2" exec "\$1" "$work/\$3.qpk" <"$work/answers" >/dev/null
EOF
chmod +x "$work/run"

# The IDEs each run finds, so that a faster run is not one that found less.
for prefix in small mb50 mb100; do
  found=$(WINEPREFIX="$work/$prefix" "$sfx" "$work/every.qpk" <"$work/answers" | grep -ac '^C:')
  [ "$found" -eq 4 ] || { echo "bench: $prefix: $found installations found, not 4" >&2; exit 1; }
done

installers="new"
[ -z "$baseline" ] || installers="new old"
bin() { if [ "$1" = new ]; then echo "$sfx"; else echo "$baseline"; fi; }

for size in mb50 mb100; do
  set -- -n "cat $size" "cat $work/$size/system.reg"
  for who in $installers; do
    for package in default every; do
      for prefix in small "$size"; do
        set -- "$@" -n "$who $package $prefix" "$work/run $(bin "$who") $prefix $package"
      done
    done
  done
  hyperfine -N --warmup 2 --runs "$runs" --export-json "$work/$size.json" "$@" >/dev/null
done

median() { jq -r --arg n "$2" '.results[] | select(.command == $n) | .median' "$work/$1.json"; }
ms() { awk -v a="$1" 'BEGIN { printf "%.0f ms", a * 1000 }'; }
peak() { /usr/bin/time -f %M "$work/run" "$@" 2>&1 | tail -1; }

for size in mb50 mb100; do
  bytes=$(wc -c <"$work/$size/system.reg")
  sections=$(grep -c '^\[' "$work/$size/system.reg")
  cat=$(median "$size" "cat $size")
  echo "system.reg of $((bytes / 1048576)) MiB ($sections sections): cat $(ms "$cat")"
  for who in $installers; do
    for package in default every; do
      small=$(median "$size" "$who $package small")
      large=$(median "$size" "$who $package $size")
      keys=2
      [ "$package" = default ] || keys=5
      echo "  $who, $keys base keys: $(ms "$large") (small registry $(ms "$small")):" \
        "delay $(ms "$(awk -v a="$large" -v b="$small" 'BEGIN { print a - b }')")," \
        "$(awk -v a="$large" -v b="$small" -v c="$cat" 'BEGIN { printf "%.2f", (a - b) / c }') x cat" \
        "(goal 3); peak RSS $(( $(peak "$(bin "$who")" "$size" "$package") / 1024 )) MiB" \
        "(goal below $((bytes / 1048576)) MiB)"
    done
  done
done
