#!/usr/bin/env bash
# The main job on the built-in sample: builds the installer and the packer, packs the sample
# component package under examples/tallowmere, attaches it to the installer, and installs it into
# a demo Wine prefix (booted, so that Wine can run the IDE's compiler) in which Delphi 7,
# C++Builder 6, RAD Studio 11 (BDS 22.0) and 12 (BDS 23.0) are registered. The package serves RAD
# Studio from 23.0 on, so 22.0 gets no turn; it adds its Source folder to each installation's
# library path, and builds its run-time and design-time packages with the IDE's compiler (played
# by the tests' stand-in compiler, in RAD Studio 12's bin folder) and registers the design-time
# one under Known Packages, with the .bpl folder on the IDE's PATH: the script shows what changed
# in the prefix's user.reg, and runs the installer again (nothing more changes). In a prefix of
# its own it installs an older release of the sample, upgrades it into another folder (no file of
# the old release stays; the new folder takes the old one's place on the library path) and removes
# it with --uninstall (packages, registrations and files gone, user.reg byte for byte as before).
# Last, it installs into a prefix where no installation fits, answering with a folder of its own.
# On a terminal the installer asks its questions; with standard input at its end, every proposed
# folder is confirmed. One run is unattended: --yes --target DIR --log FILE.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" wine wine64 g++-mingw-w64-x86-64-posix

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target quillet-sfx quillet-pack

demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo/work"

echo "== Packing examples/tallowmere"
build/quillet-pack build examples/tallowmere/quillet.toml -o "$demo/tallowmere.qpk"
build/quillet-pack attach build/quillet-sfx "$demo/tallowmere.qpk" -o "$demo/TallowmereSetup"
build/quillet-pack list "$demo/TallowmereSetup"

echo
echo "== The stand-in compiler, playing RAD Studio 12's dcc32.exe and dcc64.exe"
x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -static -o "$demo/standin-dcc.exe" \
  tests/standin/StandinCompiler.cpp -lshell32

echo
echo "== A demo Wine prefix with four registered IDEs: $demo/prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winebrowser.exe=d"
unset DISPLAY WAYLAND_DISPLAY
booted="$demo/booted"
WINEPREFIX="$booted" wineboot -i >/dev/null 2>&1
WINEPREFIX="$booted" wineserver -w
# The IDEs' machine-wide registrations (32-bit programs, as the IDEs are) and each user's settings
# as the IDE leaves them after its first start: a library path, and RAD Studio 12's package output
# folders, which a user had moved out of the shared documents.
reg() { WINEPREFIX="$booted" wine reg add "$@" /f >/dev/null; }
reg 'HKLM\Software\Borland\Delphi\7.0' /v RootDir /d 'C:\Program Files\Borland\Delphi7\' /reg:32
reg 'HKLM\Software\Borland\C++Builder\6.0' /v RootDir /d 'C:\Program Files\Borland\CBuilder6\' /reg:32
for v in 22.0 23.0; do
  reg "HKLM\\Software\\Embarcadero\\BDS\\$v" /v RootDir /d "C:\\Program Files\\Embarcadero\\Studio\\$v\\" /reg:32
done
reg 'HKCU\Software\Borland\C++Builder\6.0\Library' /v 'Search Path' /d '$(BCB)\Lib;$(BCB)\Lib\Obj'
reg 'HKCU\Software\Borland\Delphi\7.0\Library' /v 'Search Path' /d '$(DELPHI)\Lib;$(DELPHI)\Bin;$(DELPHI)\Imports'
for p in Win32 Win64; do
  key="HKCU\\Software\\Embarcadero\\BDS\\23.0\\Library\\$p"
  reg "$key" /v 'Search Path' /d '$(BDSLIB)\$(Platform)\release;$(BDSUSERDIR)\Imports;$(BDS)\Imports'
  reg "$key" /v 'Package DPL Output' /d 'C:\Components\Bpl\$(Platform)'
  reg "$key" /v 'Package DCP Output' /d 'C:\Components\Dcp\$(Platform)'
done
WINEPREFIX="$booted" wineserver -w
bin="$booted/drive_c/Program Files/Embarcadero/Studio/23.0/bin"
mkdir -p "$booted/drive_c/Program Files/Borland/Delphi7" \
         "$booted/drive_c/Program Files/Borland/CBuilder6" \
         "$booted/drive_c/Program Files/Embarcadero/Studio/22.0" "$bin"
cp "$demo/standin-dcc.exe" "$bin/dcc32.exe"
cp "$demo/standin-dcc.exe" "$bin/dcc64.exe"
(cd "$booted/drive_c" && find . | sort) > "$demo/drive_c.before"
prefix="$demo/prefix"
cp -a "$booted" "$prefix"
export WINEPREFIX="$prefix"
bin_in_prefix="$prefix/drive_c/Program Files/Embarcadero/Studio/23.0/bin"
# user.reg as a sorted list of its keys with their values, one block each, for comparing: Wine
# rewrites the file when it ends after running a program (the compiler runs under it), with its
# keys in its own order and its font cache's key anew, which is left out.
settings() {
  awk 'BEGIN { RS = ""; ORS = "\n" } /^\[Software\\\\Wine\\\\Fonts\]/ { next }
       { gsub(/\n/, "\001"); print }' "$1" | sort | tr '\001' '\n'
}
cp "$prefix/user.reg" "$demo/user.reg.before"

echo
echo "== Running the installer"
set +e
(cd "$demo/work" && "$demo/TallowmereSetup")
status=$?
set -e

echo
echo "== Installer exit status: $status"
echo "== Installed and built files (last-write time, size, path below drive C:)"
# What the run added to drive C:, next to what the booted prefix held.
added() { (cd "$1/drive_c" && find . | sort | comm -13 "$demo/drive_c.before" -); }
(cd "$prefix/drive_c" && added "$prefix" | while read -r path; do
  find "$path" -maxdepth 0 -type f -printf '%TY-%Tm-%Td %TH:%TM  %8s  %p\n' | sed 's|  \./|  |'
done)
echo
echo "== How the installer ran RAD Studio 12's compiler (the stand-in notes each call)"
tr -d '\r' <"$bin_in_prefix/standin-calls.txt"

echo
echo "== What the run changed in user.reg (its keys compared in sorted order; every other is as it was)"
diff <(settings "$demo/user.reg.before") <(settings "$prefix/user.reg") || true

echo
echo "== The installer again, every folder confirmed: each library path holds the folder once"
cp "$prefix/user.reg" "$demo/user.reg.first"
set +e
(cd "$demo/work" && "$demo/TallowmereSetup" </dev/null >/dev/null)
again=$?
set -e
if cmp -s <(settings "$demo/user.reg.first") <(settings "$prefix/user.reg"); then
  echo "user.reg is unchanged by the second run (exit status $again)"
else
  echo "user.reg changed in the second run (exit status $again)"
  status=1
fi

echo
echo "== An unattended run: every turn into one folder, nothing asked, a log kept"
set +e
(cd "$demo/work" && "$demo/TallowmereSetup" --yes --target 'C:\Shared\Unattended' \
  --log "$demo/unattended.log" </dev/null >/dev/null)
unattended=$?
set -e
echo "Installer exit status: $unattended; the log ends with:"
tail -n 4 "$demo/unattended.log"
[ "$unattended" -eq 0 ] || status=$unattended

echo
echo "== An upgrade and a removal, in a prefix of their own: release 2.3 of the sample (its unit"
echo "   TallowLabel.pas still called TallowCaption.pas) into the proposed folders, then 2.4 into"
echo "   C:\\Components\\Tallowmere, then --uninstall"
up="$demo/prefix-upgrade"
cp -a "$booted" "$up"
cp -r examples/tallowmere "$demo/tallowmere-2.3"
mv "$demo/tallowmere-2.3/Source/TallowLabel.pas" "$demo/tallowmere-2.3/Source/TallowCaption.pas"
sed -i 's/^version = .*/version = "2.3"/' "$demo/tallowmere-2.3/quillet.toml"
build/quillet-pack build "$demo/tallowmere-2.3/quillet.toml" -o "$demo/tallowmere-2.3.qpk" -q
set +e
WINEPREFIX="$up" build/quillet-sfx "$demo/tallowmere-2.3.qpk" --yes >/dev/null
old_status=$?
WINEPREFIX="$up" "$demo/TallowmereSetup" --yes --target 'C:\Components\Tallowmere' |
  grep -a -E 'Upgrading|Putting|Removed|Keeping|Registering' | tr -d '\r'
new_status=${PIPESTATUS[0]}
set -e
stale=$(find "$up/drive_c" -name 'TallowCaption.pas' | wc -l)
echo "Exit statuses $old_status and $new_status; files of 2.3 left: $stale; the library paths now:"
grep -a '"Search Path"' "$up/user.reg"
set +e
WINEPREFIX="$up" build/quillet-sfx --uninstall=Tallowmere --yes | grep -a -E '^Removed' | tr -d '\r'
removed=${PIPESTATUS[0]}
set -e
# The stand-in's notes of its calls are its own, not the installer's.
left=$(added "$up" | grep -v -c '/standin-calls\.txt$' || true)
# ForceEnvOptionsUpdate stays: the IDE writes its settings out again for command-line builds at its
# next start, and takes the value back.
globals='/^\[Software\\\\Embarcadero\\\\BDS\\\\23.0\\\\Globals\]/,/ForceEnvOptionsUpdate/d'
if cmp -s <(settings "$demo/user.reg.before") <(settings "$up/user.reg" | sed "$globals") &&
  [ "$left" -eq 0 ] && [ "$stale" -eq 0 ]; then
  echo "After --uninstall (exit status $removed): drive C: holds what it held before, and" \
    "user.reg holds the keys and values it held before the first install, every one, but" \
    "RAD Studio 12's Globals\\ForceEnvOptionsUpdate=1 (and Wine's font cache)"
else
  echo "After --uninstall (exit status $removed): $left new paths left on drive C:; user.reg:"
  diff <(settings "$demo/user.reg.before") <(settings "$up/user.reg") || true
  status=1
fi
[ "$old_status" -eq 0 ] && [ "$new_status" -eq 0 ] && [ "$removed" -eq 0 ] || status=1

echo
echo "== A second prefix with only RAD Studio 11 (BDS 22.0): no installation fits"
other="$demo/prefix-22"
mkdir -p "$other/drive_c" "$other/dosdevices"
ln -s ../drive_c "$other/dosdevices/c:"
sed -n '1,4p;/BDS\\\\22.0/,/^$/p' "$prefix/system.reg" > "$other/system.reg"
set +e
(cd "$demo/work" && printf 'C:\\Shared\\Tallowmere\n\n' |
  WINEPREFIX="$other" "$demo/TallowmereSetup")
other_status=$?
set -e
echo
echo "== Installer exit status: $other_status"
(cd "$other/drive_c" && find . -type f -printf '%P\n' | sort)
[ "$other_status" -eq 0 ] || status=$other_status
exit "$status"
