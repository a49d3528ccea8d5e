#!/usr/bin/env bash
# The main job on the built-in sample: builds the installer and the packer, packs the sample
# component package under examples/tallowmere, attaches it to the installer, and installs it into
# a demo Wine prefix in which Delphi 7, C++Builder 6 and RAD Studio 12 (BDS 23.0) are registered.
# On a terminal the installer asks its questions; with standard input at its end, every proposed
# folder is confirmed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"

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
echo "== A demo Wine prefix with three registered IDEs: $demo/prefix"
prefix="$demo/prefix"
mkdir -p "$prefix/drive_c/Program Files/Borland/Delphi7" \
         "$prefix/drive_c/Program Files/Borland/CBuilder6" \
         "$prefix/drive_c/Program Files/Embarcadero/Studio/23.0" "$prefix/dosdevices"
ln -s ../drive_c "$prefix/dosdevices/c:"
cat > "$prefix/system.reg" <<'REG'
WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win32

[Software\\Borland\\C++Builder\\6.0] 1796736037
#time=1dc5a1b2c3d4e5f
"RootDir"="C:\\Program Files\\Borland\\CBuilder6\\"

[Software\\Borland\\Delphi\\7.0] 1796736037
#time=1dc5a1b2c3d4e5f
"RootDir"="C:\\Program Files\\Borland\\Delphi7\\"

[Software\\Embarcadero\\BDS\\23.0] 1796736037
#time=1dc5a1b2c3d4e5f
"RootDir"="C:\\Program Files\\Embarcadero\\Studio\\23.0\\"
REG

echo
echo "== Running the installer"
set +e
(cd "$demo/work" && WINEPREFIX="$prefix" "$demo/TallowmereSetup")
status=$?
set -e

echo
echo "== Installer exit status: $status"
echo "== Installed files (last-write time, size, path below drive C:)"
(cd "$prefix/drive_c" && find . -type f -printf '%TY-%Tm-%Td %TH:%TM  %8s  %P\n' | sort -k4)
exit "$status"
