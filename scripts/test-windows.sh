#!/usr/bin/env bash
# Builds the native Windows tallimo.exe with mingw-w64 and tests it under Wine:
# the core, logic and Win32 suites through ctest (Wine is the cross-compiling
# emulator), then the real .exe on a virtual X server with openbox.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh

# Two jobs at most: the build machines have two cores and share them.
cmake --preset win32
cmake --build --preset win32 -j 2

build="$PWD/build/win32"
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
# No sound drivers (nothing to hear, and no noise about it), no desktop menus,
# no .NET or Gecko installers.
export WINEDLLOVERRIDES="winealsa.drv,winepulse.drv,winemenubuilder.exe,mscoree,mshtml=d"

# Japanese text needs a real Japanese UTF-8 locale: otherwise Wine shows boxes
# and window titles reach X as "?". Built once into a folder of our own.
export LOCPATH="$build/locale"
if [[ ! -f "$LOCPATH/ja_JP.UTF-8/LC_CTYPE" ]]; then
  mkdir -p "$LOCPATH"
  localedef -i ja_JP -f UTF-8 "$LOCPATH/ja_JP.UTF-8" ||
    [[ -f "$LOCPATH/ja_JP.UTF-8/LC_CTYPE" ]]
fi
# Only Wine gets it: this shell's own setlocale does not look in LOCPATH.
japanese=(env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)

# Wine's background processes inherit our streams: keep them off pipes, or
# whoever reads those pipes (ctest) waits for them for ever.
quiet() { "${japanese[@]}" "$@" </dev/null >/dev/null 2>&1; }

# A fresh prefix takes about ten seconds; later runs reuse it.
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  echo "test-windows: creating the Wine prefix $WINEPREFIX"
  quiet wineboot --init || true
  quiet wineserver --wait || true
fi
# Debian's Wine does not install its own fonts into a prefix: without Marlett
# the close box is a letter, without Tahoma the captions fall back badly.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
for font in marlett.ttf tahoma.ttf tahomabd.ttf; do
  [[ -f "$fonts/$font" ]] || cp "/usr/share/wine/fonts/$font" "$fonts/"
done
# Windows without an X server: ctest runs with no display, and the Win32
# window tests fall back to Wine's null driver there. Read when the
# wineserver starts, so before the restart below.
quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f

cleanup() { quiet wineserver --kill || true; }
trap cleanup EXIT

# Start and prime the wineserver quietly before ctest; later starts are quick.
# It stays up for the whole stage: two tests that start together just as it
# has quit would otherwise race to start it again.
quiet wineserver --kill || true
quiet wineserver --persistent
quiet wine wineboot
"${japanese[@]}" ctest --preset win32 -j 2
quiet wineserver --kill || true

# The system scenarios, shared with Linux, run the real .exe on an X server and
# a wineserver of their own.
(
  cd tests/system
  TALLIMO_BIN="$build/tallimo.exe" TALLIMO_SHOTS="$build/screenshots" \
    timeout 600 /usr/bin/python3 -B scenarios.py -v
)
