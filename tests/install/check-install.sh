#!/usr/bin/env bash
# Installs the built program into a scratch prefix (with a space in its path) as
# a user would, checks what lands where, runs it through its launcher, installs
# again over the user's files and uninstalls.
#   check-install.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'kill -KILL $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
prefix="$work/prefix with space"
lib="$prefix/lib/tallimo"
failures=0
check() { # check WHAT COMMAND...: runs COMMAND, counts a failure when it fails
  local what=$1
  shift
  "$@" || { echo "FAIL: $what" >&2; failures=$((failures + 1)); }
}
put() { cmake --install "$build" --prefix "$prefix" --component tallimo >/dev/null || exit 1; }
take() {
  cmake "-DMANIFEST=$build/install_manifest_tallimo.txt" "-DCHIME=$build/desktop/Chimes.wav" \
    -P "$source/cmake/Uninstall.cmake" >/dev/null
}
left() { (cd "$prefix" && find . -type f -o -type l | sort | xargs); }

put
check "bin/tallimo links to ../lib/tallimo/tallimo" test "$(readlink "$prefix/bin/tallimo")" = ../lib/tallimo/tallimo
check "no Cnt.arm comes with an install" test ! -e "$lib/Cnt.arm"
check "the chime is ours" cmp -s "$build/desktop/Chimes.wav" "$lib/Chimes.wav"
# A chime one hears: 16-bit mono, a second or so, loud at its start, silent at its end.
check "the chime is a sound" python3 - "$lib/Chimes.wav" <<'PY'
import array, sys, wave
w = wave.open(sys.argv[1])
tenth, s = w.getframerate() // 10, array.array("h", w.readframes(w.getnframes()))
assert (w.getnchannels(), w.getsampwidth()) == (1, 2) and 5 <= len(s) / tenth <= 30, w.getparams()
assert max(map(abs, s[:tenth])) > 8000 and max(map(abs, s[-10:])) < 100, "no strike at the start, or no silence at the end"
PY
for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/tallimo.png"
  check "a ${size}x${size} icon" test "$(identify -format %wx%h "$png")" = "${size}x${size}"
done
check "the scalable icon" cmp -s "$source/app/icons/tallimo.svg" "$prefix/share/icons/hicolor/scalable/apps/tallimo.svg"
desktop="$prefix/share/applications/tallimo.desktop"
check "desktop-file-validate" desktop-file-validate "$desktop"
check "Exec names the launcher" grep -qxF "Exec=\"$prefix/bin/tallimo\"" "$desktop"
check "Icon names the icon" grep -qx Icon=tallimo "$desktop"
check "actions that count and uncount" test "$(grep -cxF -e "Exec=\"$prefix/bin/tallimo\" --count" -e "Exec=\"$prefix/bin/tallimo\" --uncount" "$desktop")" = 2
check "appstreamcli validate-tree" appstreamcli validate-tree --no-net "$prefix"

# Through its launcher it keeps the record beside the file the link leads to.
# The first clock tick writes the record; a termination request saves and ends.
(cd "$work" && exec env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" \
  "$prefix/bin/tallimo" >"$work/log" 2>&1) &
for ((i = 0; i < 200; i++)); do
  [[ ! -s "$lib/Cnt.arm" ]] && kill -0 $! 2>/dev/null && sleep 0.1
done
check "a 20-byte Cnt.arm beside the program: $(cat "$work/log")" test "$(stat -c %s "$lib/Cnt.arm")" = 20
# Sound is loaded at the first chime: at start-up it would only cost time and memory.
check "SDL is not loaded at start-up" test -z "$(grep libSDL2 "/proc/$!/maps")"
kill -TERM $!
check "the program ends with 0 on a termination request" wait $!
check "no Cnt.arm beside the link or in the working folder" test ! -e "$prefix/bin/Cnt.arm" -a ! -e "$work/Cnt.arm"

printf 'my own chime' >"$lib/Chimes.wav"
cp "$lib/Cnt.arm" "$work/record"
put
check "a reinstall keeps the user's chime" test "$(cat "$lib/Chimes.wav")" = "my own chime"
check "a reinstall keeps Cnt.arm" cmp -s "$lib/Cnt.arm" "$work/record"
take
check "uninstalling keeps the user's files only: $(left)" test "$(left)" = "./lib/tallimo/Chimes.wav ./lib/tallimo/Cnt.arm"
rm "$lib/Cnt.arm" "$lib/Chimes.wav"
put
take
check "uninstalling leaves nothing, not even the folder: $(left)" test -z "$(left)" -a ! -e "$lib"

((failures == 0)) && echo "install: all checks passed"
