#!/usr/bin/env bash
# Installs the built program into a scratch prefix as a user would, checks
# what lands where, validates the desktop entry and the AppStream metainfo,
# runs the installed program through its launcher, then uninstalls.
# The component keeps the manifest of this scratch install apart from the
# user's own install_manifest.txt.
#   check-install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2

work=$(mktemp -d)
app_pid=
cleanup() {
  if [[ -n "$app_pid" ]] && kill -0 "$app_pid" 2>/dev/null; then kill -KILL "$app_pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT
prefix="$work/prefix with space"
progdir="$prefix/lib/tallimo"
manifest="$build/install_manifest_tallimo.txt"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

install_scratch() {
  cmake --install "$build" --prefix "$prefix" --component tallimo >"$work/install.log" ||
    { cat "$work/install.log" >&2; echo "FAIL: cmake --install" >&2; exit 1; }
}

png_size() { # width x height from the IHDR chunk
  local b
  read -ra b < <(od -An -tu1 -j16 -N8 "$1")
  echo "$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))x$(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))"
}

install_scratch

# ---- layout -------------------------------------------------------------------------
[[ -f "$progdir/tallimo" && ! -L "$progdir/tallimo" && -x "$progdir/tallimo" ]] ||
  fail "the program is not a plain executable in lib/tallimo"
[[ -L "$prefix/bin/tallimo" ]] || fail "bin/tallimo is not a link"
[[ "$(readlink "$prefix/bin/tallimo")" == ../lib/tallimo/tallimo ]] ||
  fail "bin/tallimo points at $(readlink "$prefix/bin/tallimo"), not ../lib/tallimo/tallimo"
[[ "$(realpath "$prefix/bin/tallimo")" == "$(realpath "$progdir/tallimo")" ]] ||
  fail "bin/tallimo does not lead to the installed program"
[[ -w "$progdir" ]] || fail "the program's folder is not writable"
[[ ! -e "$progdir/Cnt.arm" ]] || fail "an install must not bring a Cnt.arm"

for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/tallimo.png"
  if [[ ! -f "$png" ]]; then
    fail "no ${size}x${size} icon"
  elif [[ "$(png_size "$png")" != "${size}x${size}" ]]; then
    fail "the ${size}x${size} icon is $(png_size "$png")"
  fi
done
cmp -s "$source/app/icons/tallimo.svg" "$prefix/share/icons/hicolor/scalable/apps/tallimo.svg" ||
  fail "no scalable icon"

python3 - "$progdir/Chimes.wav" <<'PY' || fail "Chimes.wav is not the short chime"
import sys, wave
with wave.open(sys.argv[1]) as w:
    seconds = w.getnframes() / w.getframerate()
    assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (1, 2, 22050), w.getparams()
    assert 0.5 <= seconds <= 2.0, seconds
    assert max(w.readframes(w.getnframes())) > 0  # not silence
PY

# ---- desktop entry and metainfo -------------------------------------------------------
desktop="$prefix/share/applications/tallimo.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qxF "Exec=\"$prefix/bin/tallimo\"" "$desktop" || fail "Exec does not name the launcher: $(grep ^Exec= "$desktop")"
grep -qx 'Icon=tallimo' "$desktop" || fail "Icon is not tallimo"
metainfo=("$prefix"/share/metainfo/*.metainfo.xml)
[[ ${#metainfo[@]} == 1 && -f "${metainfo[0]}" ]] || fail "not exactly one metainfo file"
appstreamcli validate --no-net "${metainfo[0]}" || fail "appstreamcli validate"
# The tree check also finds the desktop entry the metainfo launches.
appstreamcli validate-tree --no-net "$prefix" || fail "appstreamcli validate-tree"

# ---- the installed program, started through its launcher ------------------------------
# It keeps its day record beside the executable it resolves to, not beside the
# link. The first clock tick writes the record; a termination request then
# saves again and ends the program.
(cd "$work" && exec env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
  XDG_RUNTIME_DIR="$work" "$prefix/bin/tallimo" >"$work/run.log" 2>&1) &
app_pid=$!
for ((i = 0; i < 200; i++)); do
  [[ -s "$progdir/Cnt.arm" ]] && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ "$(stat -c %s "$progdir/Cnt.arm" 2>/dev/null)" == 20 ]]; then
  # Sound is loaded at the first chime; at start-up it would only cost time and memory.
  ! grep -q libSDL2 "/proc/$app_pid/maps" || fail "SDL is loaded at start-up"
  kill -TERM "$app_pid"
  status=0
  wait "$app_pid" || status=$?
  ((status == 0)) || fail "the installed program ended with status $status: $(cat "$work/run.log")"
else
  fail "the installed program wrote no 20-byte Cnt.arm beside itself: $(cat "$work/run.log")"
fi
app_pid=
[[ ! -e "$prefix/bin/Cnt.arm" && ! -e "$work/Cnt.arm" ]] || fail "Cnt.arm was written beside the link or in the working folder"

# ---- reinstalling keeps the user's files ---------------------------------------------------
printf 'my own chime' >"$progdir/Chimes.wav"
cp "$progdir/Cnt.arm" "$work/record"
install_scratch
[[ "$(cat "$progdir/Chimes.wav")" == "my own chime" ]] || fail "a reinstall replaced the user's Chimes.wav"
cmp -s "$progdir/Cnt.arm" "$work/record" || fail "a reinstall changed Cnt.arm"

# ---- uninstalling -------------------------------------------------------------------------
uninstall() {
  cmake "-DMANIFEST=$manifest" "-DCHIME=$build/desktop/Chimes.wav" \
    -P "$source/cmake/Uninstall.cmake" >"$work/uninstall.log" ||
    { cat "$work/uninstall.log" >&2; fail "uninstall"; }
}
uninstall
left=$(cd "$prefix" && find . -type f -o -type l | sort | tr '\n' ' ')
[[ "$left" == "./lib/tallimo/Chimes.wav ./lib/tallimo/Cnt.arm " ]] ||
  fail "after uninstalling with the user's files present, left: $left"

# Once the user's files are gone, a fresh install uninstalls to nothing but folders,
# and the program's own folder goes with it.
rm "$progdir/Cnt.arm" "$progdir/Chimes.wav"
install_scratch
cmp -s "$build/desktop/Chimes.wav" "$progdir/Chimes.wav" || fail "the chime was not installed again"
uninstall
left=$(cd "$prefix" && find . -type f -o -type l | tr '\n' ' ')
[[ -z "$left" ]] || fail "uninstalling left: $left"
[[ ! -e "$progdir" ]] || fail "uninstalling left the empty program folder"

((failures == 0)) || exit 1
echo "install: all checks passed"
