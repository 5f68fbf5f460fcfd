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

TALLIMO_BIN=$(realpath "$bin") SOAK_SECONDS=$seconds /usr/bin/python3 -B - <<'PY'
import os, re, sys, time
sys.path.insert(0, "scripts")
import scenario_runner as runner

GROWTH_LIMIT_KB = 4096  # more than this between the early and the late samples is a leak


class Soak(runner.Scenario):
    def v_soak(self, seconds):
        self.v_ticked()
        seconds, samples, self.left, self.right, begun = int(seconds), [], 0, 0, time.monotonic()
        while (elapsed := time.monotonic() - begun) < seconds:
            self.mouse(["COUNT"], "click", "--repeat", "40", "--delay", "20", "1",
                       "click", "--repeat", "8", "--delay", "20", "3")
            self.left, self.right = self.left + 40, self.right + 8
            with open(f"/proc/{self.proc.pid}/status") as f:
                samples.append((elapsed, int(re.search(r"VmRSS:\s+(\d+)", f.read())[1])))
            extra = [t for *_, t in self.x.windows() if not runner.MAIN.match(t)]
            assert self.proc.poll() is None and not extra, f"ended or showed {extra} after {elapsed:.0f} s"
        early = max(kb for t, kb in samples if t <= max(seconds * 0.2, samples[0][0]))
        late = max(kb for t, kb in samples if t >= seconds * 0.8)
        events = self.left + self.right
        print(f"soak-real: {seconds} s, {events} input events ({events / seconds:.0f}/s); resident memory "
              f"{samples[0][1] / 1024:.1f} MiB at the start, {early / 1024:.1f} MiB early, "
              f"{late / 1024:.1f} MiB late, {samples[-1][1] / 1024:.1f} MiB at the end")
        assert late - early <= GROWTH_LIMIT_KB, f"resident memory grew by {late - early} KiB"

    def v_counted(self):  # the record holds every count
        self.v_expect(f"count={self.left - self.right}")
        print(f"soak-real: the record holds the exact count, {self.left - self.right}")


x = runner.Display()
try:
    Soak(x, "soak", f"start; main; soak {os.environ['SOAK_SECONDS']}; close; answer SUMMARY; exit 0; counted",
         {}).run()
finally:
    x.stop()
PY
