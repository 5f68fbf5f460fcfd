#!/usr/bin/env bash
# A copy of the program alone in a folder finds its window module where the
# build put it, and says what it needs and where it looked when no module
# there is of its own build.
#   check-module.sh PROGRAM STRANGER MODULE NO_ENTRY STRANGER_FALLBACK
set -uo pipefail
program=$1 stranger=$2 module=$3 no_entry=$4 nowhere=$5
work=$(mktemp -d)
trap 'kill -KILL $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
failures=0
check() { # check WHAT COMMAND...
  local what=$1
  shift
  "$@" || { echo "FAIL: $what" >&2; failures=$((failures + 1)); }
}
run() { # run FOLDER ARGS...: the program in FOLDER, without a display
  exec env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" \
    timeout 10 "$1/tallimo" "${@:2}"
}

mkdir "$work/calls"
cp "$program" "$work/calls/"
(run "$work/calls" --count 2>"$work/log") &
for ((i = 0; i < 100; i++)); do
  status=$(run "$work/calls" --status 2>/dev/null) && break
  sleep 0.1
done
check "a lone copy opens its window and counts a --count: $(cat "$work/log")" test "${status:-}" = 1
kill -TERM $! 2>/dev/null
wait $!

# row: folder | module beside the program | what stderr says
while IFS='|' read -r name beside said; do
  mkdir "$work/$name"
  cp "$stranger" "$work/$name/tallimo"
  [[ -z "$beside" ]] || cp "${!beside}" "$work/$name/tallimo-window.so"
  out=$( (run "$work/$name") 2>&1)
  code=$?
  check "$name: exits 1, not $code" test "$code" = 1
  for part in "$said" "$work/$name/tallimo-window.so" "$nowhere/tallimo-window.so"; do
    check "$name: says '$part': $out" grep -qF -- "$part" <<<"$out"
  done
done <<'ROWS'
none||needs tallimo-window.so
no-entry|no_entry|no tallimo_window_entry
another-build|module|from another build
ROWS

exports=$(nm -D --defined-only "$module" | awk '{print $NF}' | xargs)
check "the module exports its entry alone: $exports" test "$exports" = tallimo_window_entry

((failures == 0)) && echo "window module: all checks passed"
