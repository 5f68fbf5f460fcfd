# The real program under a steady stream of real input (left clicks and right presses on the
# count button, ~40 a second), its resident memory read every second: it must stay flat, no
# other window may show, and the record must hold every count when the window is closed.
# Run by scripts/run-soak.sh (TALLIMO_BIN, SOAK_SECONDS).
import os
import pathlib
import re
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "system"))
from verbs import Scenario, xdesk  # noqa: E402

GROWTH_LIMIT_KB = 4096  # more than this between the early and the late samples is a leak


class Soak(Scenario):
    def v_soak(self):  # for SOAK_SECONDS
        self.v_title("ticked")
        seconds, samples, self.counted = int(os.environ["SOAK_SECONDS"]), [], 0
        begun = time.monotonic()
        while (elapsed := time.monotonic() - begun) < seconds:
            self.mouse(["COUNT"], "click", "--repeat", "40", "--delay", "20", "1",
                       "click", "--repeat", "8", "--delay", "20", "3")  # fmt: skip
            self.counted += 40 - 8
            with open(f"/proc/{self.proc.pid}/status") as f:
                samples.append((elapsed, int(re.search(r"VmRSS:\s+(\d+)", f.read())[1])))
            extra = [t for *_, t in self.x.windows() if not xdesk.MAIN.match(t)]
            assert (
                self.proc.poll() is None and not extra
            ), f"ended or showed {extra} at {elapsed:.0f} s"
        early = max(kb for t, kb in samples if t <= max(seconds * 0.2, samples[0][0]))
        late = max(kb for t, kb in samples if t >= seconds * 0.8)
        print(f"soak: {seconds} s, {len(samples) * 48} input events; resident memory (MiB) "
              f"{samples[0][1] / 1024:.1f} at the start, {early / 1024:.1f} early, "
              f"{late / 1024:.1f} late, {samples[-1][1] / 1024:.1f} at the end")  # fmt: skip
        assert late - early <= GROWTH_LIMIT_KB, f"resident memory grew by {late - early} KiB"

    def v_counted(self):  # the record holds every count
        self.v_expect(f"count={self.counted}")


x = xdesk.Desk()
try:
    Soak(x, "soak", "start; main; soak; close; answer SUMMARY; exit 0; counted", {}).run()
finally:
    x.stop()
