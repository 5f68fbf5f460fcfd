#!/usr/bin/env bash
# Installs what is missing, builds Tallimo and starts it.
# On a machine without a display it runs Tallimo once on a virtual X server,
# saves a screenshot and closes it again the way a user would.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh run
# Two jobs at most: the build machines have two cores and share them. The
# tests stay out of this build; the test command turns them on again.
cmake --preset default -DTALLIMO_TESTS=OFF
cmake --build --preset default --target tallimo -j 2

program=build/default/tallimo

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$program"
fi

echo "No display is available, so Tallimo runs once on a virtual X server and leaves a screenshot."

die() {
  echo "run: $*" >&2
  exit 1
}

# shellcheck source=scripts/x-session.sh
source scripts/x-session.sh

work=$(mktemp -d)
app_pid=
cleanup() {
  if [[ -n "$app_pid" ]] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  stop_x_session
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Qt wants a private runtime folder; a bare console session may not have one.
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
  XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
fi

# The visible windows of the program, one id a line (none yet: empty).
app_windows() {
  xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null || true
}

# Message boxes are titled "Tallimo..."; the main window shows "Form1" or the time.
is_message_box() {
  [[ "$(xdotool getwindowname "$1" 2>/dev/null || true)" == Tallimo* ]]
}

# Answers a message box as a user would: bring it to the front, press Return.
press_return_in() {
  timeout 10 xdotool windowactivate --sync "$1" || die "could not activate window $1."
  xdotool key --clearmodifiers Return
}

start_x_session "$work"

"$program" &
app_pid=$!

# Wait for the main window. A record saved earlier today makes Tallimo ask
# first whether to bring the count back; Return answers Yes.
main_window=
for ((i = 0; i < 300; i++)); do
  kill -0 "$app_pid" 2>/dev/null || die "Tallimo ended before its window showed."
  for window in $(app_windows); do
    if is_message_box "$window"; then
      echo "Tallimo asks whether to bring back today's count; answering Yes."
      press_return_in "$window"
      sleep 0.5
    else
      main_window=$window
    fi
  done
  [[ -z "$main_window" ]] || break
  sleep 0.1
done
[[ -n "$main_window" ]] || die "Tallimo's window did not show within 30 s."

# The caption turns from "Form1" into the time one second after start.
for ((i = 0; i < 100; i++)); do
  [[ "$(xdotool getwindowname "$main_window" 2>/dev/null || true)" =~ ^[0-9]{2}:[0-9]{2}$ ]] && break
  sleep 0.1
done
mkdir -p build/screenshots
shot="build/screenshots/tallimo-$(date +%Y%m%d-%H%M%S).png"
import -window root "$shot"
echo "Screenshot: $PWD/$shot"

# Close the window through the window manager; Tallimo then shows its day summary.
wmctrl -i -c "$main_window"
summary=
for ((i = 0; i < 100; i++)); do
  kill -0 "$app_pid" 2>/dev/null || die "Tallimo ended without showing the day summary."
  for window in $(app_windows); do
    if is_message_box "$window"; then summary=$window; fi
  done
  [[ -z "$summary" ]] || break
  sleep 0.1
done
[[ -n "$summary" ]] || die "the day summary did not show within 10 s of closing."
echo "Day summary: $(xdotool getwindowname "$summary")"
press_return_in "$summary"

# With the summary gone no window is left and Tallimo ends by itself.
for ((i = 0; i < 100; i++)); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$app_pid" 2>/dev/null && die "Tallimo did not exit within 10 s of the summary."
status=0
wait "$app_pid" || status=$?
app_pid=
((status == 0)) || die "Tallimo exited with status $status."
echo "Tallimo closed normally."
