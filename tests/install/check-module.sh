#!/usr/bin/env bash
# A copy of the program alone in a folder says what it needs and where it
# looked when no module there is of its own build (the system scenarios run
# such copies, which find the module where the build put it).
#   check-module.sh STRANGER MODULE NOT_A_MODULE STRANGER_FALLBACK
set -uo pipefail
stranger=$1 module=$2 other_library=$3 nowhere=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
run() { # run FOLDER ARGS...: the program in FOLDER, without a display
  exec env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" \
    timeout 10 "$1/tallimo" "${@:2}"
}

# row: folder | module beside the program | what stderr says
while IFS='|' read -r name beside said; do
  mkdir "$work/$name"
  cp "$stranger" "$work/$name/tallimo"
  [[ -z "$beside" ]] || cp "${!beside}" "$work/$name/tallimo-window.so"
  out=$( (run "$work/$name") 2>&1; echo "exit $?")
  [[ $out == *"$said"*"exit 1" && $out == *": $work/$name/tallimo-window.so"* &&
    $out == *"; $nowhere/tallimo-window.so"* ]] || fail "$name: '$said' and exit 1, not: $out"
done <<'ROWS'
none||needs tallimo-window.so
no-entry|other_library|no tallimo_window_entry
another-build|module|from another build
ROWS

exports=$(nm -D --defined-only "$module" | awk '{print $NF}' | xargs)
[[ "$exports" == tallimo_window_entry ]] || fail "the module exports its entry alone: $exports"
((failures == 0)) && echo "window module: all checks passed"
