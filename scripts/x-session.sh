# A virtual X server with a window manager, for the scripts that run Tallimo
# without a display. Source it, then:
#   start_x_session WORKDIR   Xvfb on a free display and openbox as it comes;
#                             exports DISPLAY and sets xvfb_pid and wm_pid
#                             (the caller's `die` reports failures)
#   stop_x_session            ends both
# shellcheck shell=bash

xvfb_pid=
wm_pid=

start_x_session() {
  local work=$1 i
  # Xvfb picks a free display number itself and writes it to fd 3 once it
  # accepts clients.
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for ((i = 0; i < 100; i++)); do
    [[ -s "$work/display" && -z "$(tail -c 1 "$work/display")" ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || die "Xvfb did not start: $(cat "$work/xvfb.log")"
    sleep 0.1
  done
  [[ -s "$work/display" ]] || die "Xvfb did not report a display within 10 s."
  DISPLAY=":$(<"$work/display")"
  export DISPLAY

  # The window manager in its default configuration, as a user has it: it
  # frames the dialogs and carries the close command.
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  wm_pid=$!
  for ((i = 0; i < 100; i++)); do
    wmctrl -m >/dev/null 2>&1 && break
    kill -0 "$wm_pid" 2>/dev/null || die "openbox did not start: $(cat "$work/openbox.log")"
    sleep 0.1
  done
  wmctrl -m >/dev/null 2>&1 || die "openbox did not come up within 10 s."
}

stop_x_session() {
  local pid
  for pid in "$wm_pid" "$xvfb_pid"; do
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
}
