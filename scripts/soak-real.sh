#!/usr/bin/env bash
# The real program on a virtual X server under a steady stream of real input
# (left clicks and right presses on the count button, ~40 a second), with its
# resident memory sampled from /proc every second: it must stay flat, and the
# record must hold every count when the window is closed.
# Usage: bash scripts/soak-real.sh [--seconds N] [--bin PATH]
#   defaults: 600 seconds, build/default/tallimo (built when missing)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=600
bin=build/default/tallimo
while (($#)); do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --bin) bin=$2; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--bin PATH]" >&2; exit 2 ;;
  esac
done
if [[ ! -x $bin ]]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target tallimo -j 2
fi

TALLIMO_BIN=$(realpath "$bin") SOAK_SECONDS=$seconds python3 -B - <<'PY'
import os, re, shutil, sys, tempfile, time
sys.path.insert(0, "tests/system")
from xsession import COUNT, MAIN_TITLE, SUMMARY_TITLE, Program, XServer

seconds = int(os.environ["SOAK_SECONDS"])
GROWTH_LIMIT_KB = 4096  # more than this between the early and the late samples is a leak


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


x = XServer()
root = tempfile.mkdtemp(prefix="tallimo-soak-")
prog = None
try:
    prog = Program(x, root).start()
    wid = prog.main_window()
    time.sleep(1.5)  # the first clock tick and save
    samples, left, right, begun = [], 0, 0, time.monotonic()
    while (elapsed := time.monotonic() - begun) < seconds:
        x.run(["xdotool", "mousemove", "--window", str(wid), *map(str, COUNT),
               "click", "--repeat", "40", "--delay", "20", "1", "click", "--repeat", "8", "--delay", "20", "3"],
              timeout=30)
        left, right = left + 40, right + 8
        samples.append((elapsed, rss_kb(prog.proc.pid)))
        extra = [t for _, t in prog.windows() if not MAIN_TITLE.match(t)]
        if prog.proc.poll() is not None or extra:
            sys.exit(f"soak-real: the program ended or showed {extra} after {elapsed:.0f} s")
    events = left + right
    early = max(kb for t, kb in samples if t <= max(seconds * 0.2, samples[0][0]))
    late = max(kb for t, kb in samples if t >= seconds * 0.8)
    prog.close(wid)
    prog.answer(SUMMARY_TITLE)
    status = prog.wait_exit()
    count = prog.record()["count"]
    print(f"soak-real: {seconds} s, {events} input events ({events / seconds:.0f}/s), count {count} "
          f"(expected {left - right}); resident memory {samples[0][1] / 1024:.1f} MiB at the start, "
          f"{early / 1024:.1f} MiB early, {late / 1024:.1f} MiB late, {samples[-1][1] / 1024:.1f} MiB at the end")
    if status != 0 or count != left - right:
        sys.exit(f"soak-real: exit status {status}, count {count} instead of {left - right}")
    if late - early > GROWTH_LIMIT_KB:
        sys.exit(f"soak-real: resident memory grew by {late - early} KiB")
finally:
    if prog:
        prog.kill()
    x.stop()
    shutil.rmtree(root, ignore_errors=True)
PY
