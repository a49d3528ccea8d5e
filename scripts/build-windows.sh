#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64: build-windows/quillet-sfx.exe and
# build-windows/quillet-pack.exe (64-bit; with --x86 the 32-bit ones in build-windows-x86/),
# each statically linked so that it runs alone, stripped, and carrying a version resource and an
# application manifest.
#
#   scripts/build-windows.sh           build
#   scripts/build-windows.sh --x86     build for 32-bit Windows (runs on 32- and 64-bit Windows)
#   scripts/build-windows.sh --tests   also cross-build the unit tests (quillet-unit-tests.exe),
#                                      with GoogleTest from Debian's googletest sources, and the
#                                      stand-in compiler (tests/standin-dcc.exe)
#   scripts/build-windows.sh --smoke   build, then run both programs under Wine in a throwaway
#                                      prefix and check what they did (with --x86: under 32-bit
#                                      Wine, wine32:i386)
#
# Debian packages no libbz2 for mingw, so its source is taken from Debian's own source package
# of bzip2 (fetched with apt-get source through a private apt list, leaving the system's apt
# configuration alone) and compiled into build-windows/deps. The packer's header-only libraries,
# toml++ and CLI11, come from Debian's -dev packages: only their own include folders are handed
# to the cross compiler, never /usr/include as a whole.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh

smoke=0
tests=0
arch=x64
for arg in "$@"; do
  case "$arg" in
  --smoke) smoke=1 ;;
  --tests) tests=1 ;;
  --x86) arch=x86 ;;
  -h | --help)
    sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  *)
    echo "build-windows.sh: unknown option '$arg' (try --help)" >&2
    exit 64
    ;;
  esac
done

if [ "$arch" = x86 ]; then
  ensure_packages cmake ninja-build g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
    libtomlplusplus-dev libcli11-dev googletest
  out="$PWD/build-windows-x86"
  triplet=i686-w64-mingw32
else
  ensure_packages cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    libtomlplusplus-dev libcli11-dev googletest
  out="$PWD/build-windows"
  triplet=x86_64-w64-mingw32
fi
toolchain="$PWD/cmake/mingw-w64-${triplet%%-*}.cmake"
deps="$out/deps"
jobs=2

# On Windows bzlib.h includes windows.h, whose min and max macros must stay out of the code that
# includes it. (Its functions are declared for linking, as BZ_IMPORT is left undefined.)
bz_flags="-DNOMINMAX -DWIN32_LEAN_AND_MEAN"

build_libbz2() {
  [ -f "$deps/lib/libbz2.a" ] && [ -f "$deps/include/bzlib.h" ] && return 0
  echo "== libbz2 for Windows, from Debian's bzip2 source package"
  local fetch="$deps/fetch"
  rm -rf "$fetch"
  mkdir -p "$fetch/lists/partial" "$fetch/parts"
  # The source index of the release this machine runs, signed with Debian's archive key.
  local suite
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  cat >"$fetch/parts/debian-src.sources" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  local apt_options=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$fetch/parts"
    -o "Dir::State::Lists=$fetch/lists" -o "Debug::NoLocking=1")
  apt-get "${apt_options[@]}" update -qq
  (cd "$fetch" && apt-get "${apt_options[@]}" source --download-only -qq bzip2)

  local tarball
  tarball=$(ls "$fetch"/bzip2_*.orig.tar.* | head -n 1)
  mkdir -p "$fetch/src" "$deps/lib" "$deps/include"
  tar -xf "$tarball" -C "$fetch/src" --strip-components=1

  local objects=()
  local name
  for name in blocksort huffman crctable randtable compress decompress bzlib; do
    "$triplet-gcc-posix" -O2 -D_FILE_OFFSET_BITS=64 $bz_flags \
      -c "$fetch/src/$name.c" -o "$fetch/$name.o"
    objects+=("$fetch/$name.o")
  done
  rm -f "$deps/lib/libbz2.a"
  "$triplet-ar" rcs "$deps/lib/libbz2.a" "${objects[@]}"
  cp "$fetch/src/bzlib.h" "$fetch/src/LICENSE" "$deps/include/"
  mv "$deps/include/LICENSE" "$deps/include/bzlib-LICENSE"
  rm -rf "$fetch"
}

# Package configurations that hand the cross build the header-only libraries, and nothing else
# of /usr/include.
write_header_only_packages() {
  mkdir -p "$deps/header-only" "$deps/cmake/tomlplusplus" "$deps/cmake/CLI11"
  ln -sfn /usr/include/toml++ "$deps/header-only/toml++"
  ln -sfn /usr/include/CLI "$deps/header-only/CLI"
  cat >"$deps/cmake/tomlplusplus/tomlplusplusConfig.cmake" <<EOF
add_library(tomlplusplus::tomlplusplus INTERFACE IMPORTED)
set_target_properties(tomlplusplus::tomlplusplus PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "$deps/header-only"
  INTERFACE_COMPILE_DEFINITIONS "TOML_HEADER_ONLY=1")
EOF
  # Found by the installer and again by the packer: the target is made once.
  cat >"$deps/cmake/CLI11/CLI11Config.cmake" <<EOF
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "$deps/header-only")
endif()
EOF
}

# GoogleTest for the cross-built unit tests, compiled from Debian's googletest sources.
build_gtest() {
  [ -f "$deps/gtest/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
  echo "== GoogleTest for Windows, from /usr/src/googletest"
  cmake -S /usr/src/googletest -B "$deps/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$deps/gtest" >/dev/null
  cmake --build "$deps/gtest-build" -j "$jobs" >/dev/null
  cmake --install "$deps/gtest-build" >/dev/null
  rm -rf "$deps/gtest-build"
}

build_libbz2
write_header_only_packages
test_options=(-DQUILLET_TESTS=OFF)
targets=(quillet-sfx quillet-pack)
if [ "$tests" -eq 1 ]; then
  build_gtest
  test_options=(-DQUILLET_TESTS=ON -DGTest_DIR="$deps/gtest/lib/cmake/GTest")
  targets+=(quillet-unit-tests quillet-standin-dcc)
fi

echo "== Windows build ($out)"
cmake -S . -B "$out" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS="$bz_flags" \
  "${test_options[@]}" \
  -DBZIP2_INCLUDE_DIR="$deps/include" \
  -DBZIP2_LIBRARY_RELEASE="$deps/lib/libbz2.a" \
  -Dtomlplusplus_DIR="$deps/cmake/tomlplusplus" \
  -DCLI11_DIR="$deps/cmake/CLI11" >/dev/null
cmake --build "$out" -j "$jobs" --target "${targets[@]}"
ls -l "$out/quillet-sfx.exe" "$out/quillet-pack.exe"

[ "$smoke" -eq 1 ] || exit 0

# ---------------------------------------------------------------------------------------------
# Smoke test under Wine, in a throwaway prefix. The Windows installer must print what the Linux
# one prints, install the sample package for the IDEs registered in the 32-bit registry view and
# add its sources to their library paths, take a lone LF as an ordinary input character, and
# report failures as the Linux one does.

failures=0
check() { # check DESCRIPTION COMMAND...
  local what="$1"
  shift
  if "$@"; then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    failures=$((failures + 1))
  fi
}

ensure_packages "${BUILD_PACKAGES[@]}" wine wine64
if [ "$arch" = x86 ] && ! ensure_wine32; then
  echo "build-windows.sh: the 32-bit smoke test needs 32-bit Wine (wine32:i386), which cannot be installed or run here" >&2
  exit 1
fi
echo "== Linux build of the installer and the packer (build/), for comparison and packing"
[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target quillet-sfx quillet-pack >/dev/null

smoke_dir=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$smoke_dir"' EXIT
export WINEPREFIX="$smoke_dir/prefix" WINEDEBUG=-all
# No Mono or Gecko installers, and no browser started for the installed readme.
export WINEDLLOVERRIDES="mscoree,mshtml=;winebrowser.exe=d"
unset DISPLAY WAYLAND_DISPLAY
echo "== Wine prefix $WINEPREFIX"
wineboot -i >/dev/null 2>&1
wineserver -w

# Wine shows the Linux root as drive Z:.
winpath() { echo "Z:${1//\//\\}"; }

# Both manifests carry the version that the version resources carry: the project's.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
for program in quillet-sfx quillet-pack; do
  check "$program.exe's manifest says version $version.0" \
    grep -qaF "version=\"$version.0\"" "$out/$program.exe"
done

echo
echo "== 1. The bare installer"
set +e
wine "$out/quillet-sfx.exe" </dev/null >"$smoke_dir/bare-windows.txt"
bare_status=$?
build/quillet-sfx </dev/null >"$smoke_dir/bare-linux.txt"
set -e
cat "$smoke_dir/bare-windows.txt"
check "exit status 2 (got $bare_status)" test "$bare_status" -eq 2
check "the same bytes as the Linux installer" cmp -s "$smoke_dir/bare-windows.txt" "$smoke_dir/bare-linux.txt"

echo
echo "== 2. The sample package, packed on Linux and on Windows"
build/quillet-pack build examples/tallowmere/quillet.toml -o "$smoke_dir/linux.qpk" >/dev/null
wine "$out/quillet-pack.exe" build examples/tallowmere/quillet.toml \
  -o "$(winpath "$smoke_dir/windows.qpk")"
check "quillet-pack.exe writes the same package as quillet-pack" \
  cmp -s "$smoke_dir/linux.qpk" "$smoke_dir/windows.qpk"
build/quillet-pack attach "$out/quillet-sfx.exe" "$smoke_dir/linux.qpk" \
  -o "$smoke_dir/TallowmereSetup.exe" >/dev/null

echo
echo "== 3. Installing for the registered IDEs (ENTER for Delphi 7, N for C++Builder 6)"
wine reg add 'HKLM\Software\Borland\Delphi\7.0' /v RootDir /d 'C:\IDE' /reg:32 /f >/dev/null
wine reg add 'HKLM\Software\Borland\C++Builder\6.0' /v RootDir /d 'C:\CB6\' /reg:32 /f >/dev/null
# Only in the 64-bit view: a 32-bit view reader must not see it.
wine reg add 'HKLM\Software\Borland\Delphi\64only' /v RootDir /d 'C:\Wrong64' /reg:64 /f >/dev/null
# The current user's library settings, as each IDE leaves them once started: the sample adds its
# Source folder to them.
delphi_library='HKCU\Software\Borland\Delphi\7.0\Library'
cbuilder_library='HKCU\Software\Borland\C++Builder\6.0\Library'
wine reg add "$delphi_library" /v 'Search Path' /d '$(DELPHI)\Lib' /f >/dev/null
wine reg add "$cbuilder_library" /v 'Search Path' /d '$(BCB)\Lib' /f >/dev/null
wineserver -w
# search_path KEY: the key's Search Path value, as reg query shows it.
search_path() {
  wine reg query "$1" /v 'Search Path' 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *Search Path  *REG_[A-Z_]*  *//p'
}
# Windows rules for input lines: CR LF ends a line.
printf '\r\nN\r\n\r\n' >"$smoke_dir/answers.txt"
set +e
(cd "$smoke_dir" && wine TallowmereSetup.exe <answers.txt >install.txt)
install_status=$?
set -e
cat "$smoke_dir/install.txt"
echo
check "exit status 0 (got $install_status)" test "$install_status" -eq 0
installed="$WINEPREFIX/drive_c/IDE/Components/Tallowmere"
check "Demo\\TallowDemo.dpr holds the source file" \
  cmp -s "$installed/Demo/TallowDemo.dpr" examples/tallowmere/Demo/TallowDemo.dpr
check "readme.html holds the source file" \
  cmp -s "$installed/readme.html" examples/tallowmere/Doc/readme.html
for unit in TallowGrid.pas TallowLabel.pas Tallowmere.inc; do
  size=$(stat -c %s "examples/tallowmere/Source/$unit")
  check "Source\\$unit ends with the source file, after the patch text" \
    cmp -s <(tail -c "$size" "$installed/Source/$unit") "examples/tallowmere/Source/$unit"
  check "Source\\$unit starts with the patch text" \
    test "$(stat -c %s "$installed/Source/$unit")" -gt "$size"
done
check "the stored time 2026-11-20 12:00:00 is the last-write time" \
  test "$(date -r "$installed/readme.html" '+%F %T')" = "2026-11-20 12:00:00"
check "nothing installed for the skipped C++Builder turn" test ! -e "$WINEPREFIX/drive_c/CB6"
check "the 64-bit view's key got no turn" test ! -e "$WINEPREFIX/drive_c/Wrong64"
check "no temporary file left behind" \
  test -z "$(find "$WINEPREFIX/drive_c/IDE" -name '.quillet-*')"
check "Delphi 7's library path gained the sources" \
  test "$(search_path "$delphi_library")" = '$(DELPHI)\Lib;C:\IDE\Components\Tallowmere\Source'
check "the addition is reported" grep -qF \
  'Adding C:\IDE\Components\Tallowmere\Source to the library path .. OK' "$smoke_dir/install.txt"
check "C++Builder 6's library path, of the skipped turn, stays" \
  test "$(search_path "$cbuilder_library")" = '$(BCB)\Lib'

echo
echo "== 4. A stand-alone package named by a quoted path with blanks; input at its end"
mkdir -p "$smoke_dir/My Files"
cp "$smoke_dir/linux.qpk" "$smoke_dir/My Files/pkg.qpk"
# A folder in the place of a target cannot be replaced by a file: that entry fails, and the
# folder stays as it was. (The sample's readme entry is stored with the folder template
# '%zel_root%.', so its path holds a "." component, which Windows takes as the folder itself.)
rm "$installed/readme.html"
mkdir "$installed/readme.html"
rm -rf "$WINEPREFIX/drive_c/IDE/Components/Tallowmere/Demo"
set +e
wine "$out/quillet-sfx.exe" "$(winpath "$smoke_dir/My Files/pkg.qpk")" </dev/null \
  >"$smoke_dir/standalone.txt"
standalone_status=$?
set -e
cat "$smoke_dir/standalone.txt"
echo
check "exit status 3 for the entry that failed (got $standalone_status)" \
  test "$standalone_status" -eq 3
check "the folder in the way of readme.html is reported" \
  grep -qF 'Installing readme.html .. could not create [C:\IDE\Components\Tallowmere\.\readme.html]' \
  "$smoke_dir/standalone.txt"
check "the folder in the way of readme.html stays" test -d "$installed/readme.html"
check "the removed Demo folder is made again" test -f "$installed/Demo/TallowDemo.dpr"
check "C++Builder's turn installed into C:\\CB6\\" \
  test -f "$WINEPREFIX/drive_c/CB6/Components/Tallowmere/readme.html"
check "C++Builder 6's library path gained the sources" \
  test "$(search_path "$cbuilder_library")" = '$(BCB)\Lib;C:\CB6\Components\Tallowmere\Source'
check "Delphi 7's library path, which holds them already, stays" \
  test "$(search_path "$delphi_library")" = '$(DELPHI)\Lib;C:\IDE\Components\Tallowmere\Source'
check "no temporary file left behind" \
  test -z "$(find "$WINEPREFIX/drive_c" -name '.quillet-*')"

echo
echo "== 5. A lone LF is an ordinary character in a Windows input line"
# The first answer is LF N: one typed folder "<LF>N", neither an empty line nor the skip answer
# "N". Trimmed, it is the relative folder N, which the question refuses and asks again; the next
# line confirms Delphi's folder (whose readme.html fails on the folder in its way), the last one
# C++Builder's. Were LF a line end, the first line would confirm Delphi's folder and the "N"
# skip C++Builder's turn.
mkdir -p "$smoke_dir/lf"
printf '\nN\r\n\r\n\r\n' >"$smoke_dir/lf-answers.txt"
set +e
(cd "$smoke_dir/lf" && wine "$out/quillet-sfx.exe" "$(winpath "$smoke_dir/linux.qpk")" \
  <"$smoke_dir/lf-answers.txt" >"$smoke_dir/lf.txt")
lf_status=$?
set -e
cat "$smoke_dir/lf.txt"
echo
check "exit status 3 (got $lf_status)" test "$lf_status" -eq 3
check "the Delphi turn took <LF>N as one typed folder, and refused it as relative" \
  grep -qF 'N is not a full path' "$smoke_dir/lf.txt"
check "both turns were confirmed" \
  test "$(grep -c '^Installing TallowGrid.pas .. OK' "$smoke_dir/lf.txt")" -eq 2

echo "== 6. A RootDir that is not text: the final prompt, then the failure report"
wine reg add 'HKLM\Software\Borland\C++Builder\9.0' /v RootDir /t REG_DWORD /d 5 /reg:32 /f \
  >/dev/null
wineserver -w
set +e
wine "$out/quillet-sfx.exe" "$(winpath "$smoke_dir/linux.qpk")" </dev/null >"$smoke_dir/report.txt"
report_status=$?
set -e
cat "$smoke_dir/report.txt"
echo
check "exit status 1 (got $report_status)" test "$report_status" -eq 1
# The address is where the exception was raised, relative to the program's load address.
reported_at_offset() {
  grep -qE "^Exception ERegistryException in module quillet-sfx\.exe at [0-9A-F]{8}\.$" "$1" &&
    ! grep -q " at 00000000\.$" "$1"
}
check "the report names the class, the program file and an address inside it" \
  reported_at_offset "$smoke_dir/report.txt"
check "the report gives the message" \
  grep -qF "Invalid data type for 'RootDir'." "$smoke_dir/report.txt"

echo
if [ "$failures" -ne 0 ]; then
  echo "Windows smoke test: $failures check(s) failed"
  exit 1
fi
echo "Windows smoke test: every check passed"
