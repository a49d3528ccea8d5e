#!/usr/bin/env bash
# Differential test of code pages: packages whose names and texts are stored in code page 1252,
# 932 and 936 are installed by the Linux installer and by the Windows installer under Wine, under
# the matching locale and under others. Both must create the same file names, byte for byte, and
# write the same console transcript; a RootDir with non-ASCII characters must give both the same
# proposed folder, and one outside the system's code page (C:\IDE\Łódź on a 1252 system) must get
# the files in exactly that folder.
#
# Usage: bash scripts/codepage-diff.sh   (builds build/ and build-windows/ when needed)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" wine wine64 python3
ensure_locales de_DE.UTF-8 ja_JP.UTF-8 zh_CN.UTF-8

jobs=$(nproc 2>/dev/null || echo 2)
[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target quillet-sfx quillet-pack >/dev/null
bash scripts/build-windows.sh >/dev/null

work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winebrowser.exe=d"
unset DISPLAY WAYLAND_DISPLAY
wineboot -i >/dev/null 2>&1
wineserver -w

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

# run_case NAME LOCALE CODE-PAGE ROOTDIR DEFAULT-FOLDER WELCOME FILE...
# The files are paths below the package's source folder, in UTF-8.
run_case() {
  local name="$1" locale="$2" codepage="$3" rootdir="$4" folder="$5" welcome="$6"
  shift 6
  local dir="$work/$name"
  mkdir -p "$dir/src"
  local file
  for file in "$@"; do
    mkdir -p "$(dirname "$dir/src/$file")"
    printf '%s\n' "$file" >"$dir/src/$file"
  done
  cat >"$dir/quillet.toml" <<EOF
name = '$name'
default-folder = '$folder'
code-page = $codepage
welcome-text = '$welcome'
timestamp = 2026-01-15T10:30:00
[[entry]]
source = "src"
EOF
  echo
  echo "== $name: code page $codepage under $locale"
  build/quillet-pack build "$dir/quillet.toml" -o "$dir/package.qpk" >/dev/null
  # Wine shows the Linux root as drive Z:.
  LC_ALL="$locale" wine build-windows/quillet-pack.exe build "Z:${dir//\//\\}\\quillet.toml" \
    -o "Z:${dir//\//\\}\\windows.qpk" >/dev/null
  check "quillet-pack.exe stores the same package as quillet-pack" \
    cmp "$dir/package.qpk" "$dir/windows.qpk"
  build/quillet-pack attach build-windows/quillet-sfx.exe "$dir/package.qpk" -o "$dir/Setup.exe" >/dev/null

  wine reg delete 'HKLM\Software\Borland' /reg:32 /f >/dev/null 2>&1 || true
  LC_ALL="$locale" wine reg add 'HKLM\Software\Borland\Delphi\7.0' /v RootDir /d "$rootdir" \
    /reg:32 /f >/dev/null
  wineserver -w # system.reg is written when the server goes

  # The IDE's root folder, where the package goes: the same Unicode path for both installers.
  local target="$WINEPREFIX/drive_c/${rootdir#C:\\}"
  target="${target//\\//}"
  rm -rf "$target"
  printf '\r\n\r\n' >"$dir/answers.txt"
  set +e
  (cd "$dir" && LC_ALL="$locale" wine Setup.exe <answers.txt >windows.txt)
  local windows_status=$?
  set -e
  wineserver -w
  (cd "$target" 2>/dev/null && find . -print | LC_ALL=C sort) >"$dir/windows-files.txt" || true
  rm -rf "$target"

  set +e
  (cd "$dir" && LC_ALL="$locale" "$OLDPWD/build/quillet-sfx" package.qpk <answers.txt >linux.txt)
  local linux_status=$?
  set -e
  (cd "$target" 2>/dev/null && find . -print | LC_ALL=C sort) >"$dir/linux-files.txt" || true

  # Pipes carry the system's code page, the locale's.
  local system_codepage=1252
  case "$locale" in ja_*) system_codepage=932 ;; zh_CN*) system_codepage=936 ;; esac
  iconv -f "CP$system_codepage" -t UTF-8 "$dir/windows.txt" | tr -d '\r' | sed 's/^/    /' || true
  check "exit status 0 on both (Windows $windows_status, Linux $linux_status)" \
    test "$windows_status" -eq 0 -a "$linux_status" -eq 0
  check "the same transcript, byte for byte" cmp "$dir/windows.txt" "$dir/linux.txt"
  check "the same folders and file names, byte for byte" \
    cmp "$dir/windows-files.txt" "$dir/linux-files.txt"
  local expected
  # A RootDir that the system's code page cannot show is checked by where the files go alone.
  if expected="$(iconv -f UTF-8 -t "CP$system_codepage" <<<"$rootdir" 2>/dev/null | head -c -1)"; then
    check "the proposed folder starts with the RootDir in code page $system_codepage" \
      grep -qF -- "$expected" "$dir/linux.txt"
  fi
  for file in "$@"; do
    check "installed as $file" test -n "$(find "$target" -path "*/$file" -type f)"
  done
}

run_case cp1252 de_DE.UTF-8 1252 'C:\Programme\Börland Café' '%Delphi%Größe €' \
  'Willkommen, Straße café €' \
  'Café.pas' 'Straße/€uro.txt' 'Größe/Ärger.inc'
run_case cp932 ja_JP.UTF-8 932 'C:\開発\表示' '%Delphi%部品\ソース' \
  'ようこそ、日本語' \
  '日本語.pas' '表示/能力.txt' 'ソース/予定/表.inc'

# at_terminal CASE LOCALE ANSWER: the Linux installer of a case at a terminal, answering the
# folder question; its output goes to the case's terminal.txt.
repo=$PWD
at_terminal() {
  set +e
  (cd "$work/$1" && printf '%s\n\n' "$3" |
    LC_ALL="$2" script -qec "'$repo/build/quillet-sfx' package.qpk" /dev/null >terminal.txt)
  set -e
}

# At a terminal the Linux installer speaks the locale's encoding: its output is converted from
# the code page, and a folder typed in UTF-8 is converted into it.
echo
echo "== cp932 at a terminal, a folder typed in UTF-8"
terminal_target="$WINEPREFIX/drive_c/別の場所"
rm -rf "$terminal_target"
at_terminal cp932 ja_JP.UTF-8 'C:\別の場所'
tr -d '\r' <"$work/cp932/terminal.txt" | sed 's/^/    /'
check "the proposed folder appears in UTF-8" grep -qF 'C:\開発\表示\部品\ソース' "$work/cp932/terminal.txt"
check "the typed folder is used" test -f "$terminal_target/src/表示/能力.txt"

# Folders outside the system's code page: the files go to that very folder, not a look-alike.
run_case lodz de_DE.UTF-8 1252 'C:\IDE\Łódź' '%Delphi%Lib' 'Willkommen' 'Café.pas'
run_case tokyo de_DE.UTF-8 1252 'C:\IDE\東京' '%Delphi%Lib' 'Willkommen' 'Café.pas'
# A package that records code page 936 makes the same names under any locale.
for locale in de_DE.UTF-8 C.UTF-8 zh_CN.UTF-8; do
  run_case "cp936-$locale" "$locale" 936 'C:\IDE\D7' '%Delphi%组件' '欢迎使用' \
    '中文.pas' '源码/单元.pas'
done

echo
echo "== lodz at a terminal, a folder outside the system's code page typed in UTF-8"
typed_target="$WINEPREFIX/drive_c/Getippt/Łódź"
rm -rf "$typed_target"
at_terminal lodz de_DE.UTF-8 'C:\Getippt\Łódź'
check "the typed folder is used as typed" test -f "$typed_target/src/Café.pas"

# The same at a Wine console: the .exe reads the answer through the wide console calls. Wine's
# console wants a raw terminal and the answer only once it asks, so a small driver types it.
cat >"$work/console.py" <<'PY'
import os, pty, select, sys, time, tty
# console.py ANSWER COMMAND...: runs COMMAND at a raw pseudo-terminal, types ANSWER at the first
# folder question and ENTER at every later question and at the final prompt.
answer = sys.argv[1].encode()
pid, fd = pty.fork()
if pid == 0:
    tty.setraw(0)
    os.execvp(sys.argv[2], sys.argv[2:])
seen, answered, finished = b"", False, False
deadline = time.time() + 120
while time.time() < deadline and not finished:
    if not select.select([fd], [], [], 1)[0]:
        continue
    try:
        chunk = os.read(fd, 4096)
    except OSError:
        break
    if not chunk:
        break
    seen += chunk
    for prompt in (b"new folder name", b"finish installation"):
        if prompt in seen:
            seen = seen[seen.index(prompt) + len(prompt):]
            os.write(fd, (b"\r" if answered else answer + b"\r"))
            answered = True
            finished = prompt == b"finish installation"
os.waitpid(pid, 0)
sys.exit(0 if finished else 1)
PY
echo
echo "== lodz at a Wine console, a folder outside the system's code page typed"
rm -rf "$typed_target"
set +e
(cd "$work/lodz" && LC_ALL=de_DE.UTF-8 python3 "$work/console.py" 'C:\Getippt\Łódź' \
  wine Setup.exe >/dev/null)
set -e
wineserver -w
check "the typed folder is used as typed by quillet-sfx.exe" test -f "$typed_target/src/Café.pas"

echo
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "All code page checks passed"
