"""Runs the real tallimo binary on Xvfb + openbox and drives it like a user.

One X server and window manager per test class; a fresh program directory with
its own copy of the binary (it keeps its files beside the real executable) per
program start.
"""

import datetime
import os
import re
import select
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

BIN = os.environ.get("TALLIMO_BIN", "")
SHOTS = os.environ.get("TALLIMO_SHOTS") or os.path.join(tempfile.gettempdir(), "tallimo-shots")
FAKETIME_LIB = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
# The window manager set up as the run script sets it up: room for the clock caption.
OPENBOX_RC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "openbox-rc.xml")

RECORD = struct.Struct("<dhhhhhh")
RECORD_FIELDS = ("saved_on", "count", "goal", "alarm_on", "alarm_hour", "alarm_minute", "lap_on")

MAIN_TITLE = re.compile(r"^(Form1|\d\d:\d\d)$")
SUMMARY_TITLE = "Tallimo\u3000\u2026\u2026\u3000お疲れ様でした。"
RESTORE_TITLE = "Tallimo\u3000\u2026\u2026\u3000復活！！"
SETTINGS_TITLE = "Tallimoの設定"

# Points in the main window's client area.
LABEL, SET, COUNT = (19, 9), (48, 9), (28, 30)
BLANK, BLANK_LOW = (39, 10), (48, 19)

# The faked clock runs on a day other than the real one, so that a program
# reading the real clock shows up.
FAKE_DAY = datetime.date(2030, 5, 17)


def fake_at(hms):
    return f"{FAKE_DAY} {hms}"


def day_number(day):
    """Whole days since 1899-12-30, as the record stores its date."""
    return float((day - datetime.date(1899, 12, 30)).days)


FAKE_TODAY = day_number(FAKE_DAY)


def unpack_record(data):
    return dict(zip(RECORD_FIELDS, RECORD.unpack(data[: RECORD.size])))


def poll(what, fn, timeout, interval=0.1):
    """Calls fn until it returns something truthy; fails after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while not (value := fn()):
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout:g}s waiting for {what() if callable(what) else what}")
        time.sleep(interval)
    return value


class XServer:
    """Xvfb plus openbox on a free display."""

    def __init__(self):
        self.procs = []
        self.logdir = tempfile.mkdtemp(prefix="tallimo-x-")
        try:
            read_fd, write_fd = os.pipe()
            with os.fdopen(read_fd, "rb", buffering=0) as pipe:
                self._spawn(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            "xvfb.log", pass_fds=(write_fd,))
                os.close(write_fd)
                line = b""
                while not line.endswith(b"\n") and select.select([pipe], [], [], 15)[0]:
                    chunk = pipe.read(16)
                    line += chunk
                    if not chunk:
                        break
            if not line.strip():
                raise AssertionError("Xvfb reported no display: " + self._log("xvfb.log"))
            self.env = dict(os.environ, DISPLAY=":" + line.decode().strip(), LANG="C.UTF-8", LC_ALL="C.UTF-8")
            for var in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LD_PRELOAD", "FAKETIME"):
                self.env.pop(var, None)
            self.wm = self._spawn(["openbox", "--sm-disable", "--config-file", OPENBOX_RC], "openbox.log", env=self.env)
            # Openbox announces itself before it is done starting, and a window
            # mapped during its start-up can be lost: retry a probe window until
            # one gets managed.
            poll(lambda: "openbox to manage a window: " + self._log("openbox.log"), self._probe_managed, 30, 0)
        except BaseException:
            self.stop()
            raise

    def _spawn(self, argv, log, **kw):
        with open(os.path.join(self.logdir, log), "wb") as out:
            proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, **kw)
        self.procs.append(proc)
        return proc

    def _log(self, name):
        with open(os.path.join(self.logdir, name), "rb") as f:
            return f.read().decode(errors="replace")

    def _probe_managed(self):
        if self.wm.poll() is not None:
            raise AssertionError("openbox exited: " + self._log("openbox.log"))
        probe = subprocess.Popen(["xmessage", "-title", "tallimo-wm-probe", "ready"], env=self.env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            return poll("", lambda: any(t == "tallimo-wm-probe" for _, _, t in self.windows()), 2, 0.05)
        except AssertionError:
            return False
        finally:
            probe.kill()
            probe.wait(5)

    def run(self, argv, check=True, timeout=10):
        res = subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        if check and res.returncode != 0:
            raise AssertionError(f"{argv} failed ({res.returncode}): {res.stderr.decode(errors='replace')}")
        return res.stdout.decode(errors="replace")

    def windows(self):
        """(wid, pid, title) of every top-level window the window manager manages."""
        rows = [line.split(None, 4) for line in self.run(["wmctrl", "-l", "-p"], check=False).splitlines()]
        return [(int(r[0], 16), int(r[2]), r[4] if len(r) > 4 else "") for r in rows if len(r) >= 4]

    def screenshot(self, name):
        os.makedirs(SHOTS, exist_ok=True)
        self.run(["import", "-window", "root", os.path.join(SHOTS, name + ".png")], check=False, timeout=20)

    def stop(self):
        for proc in reversed(self.procs):
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(5)
        self.procs = []
        shutil.rmtree(self.logdir, ignore_errors=True)


class Program:
    """One copy of the binary in its own directory, started at most once."""

    def __init__(self, x, root):
        self.x, self.root, self.proc = x, root, None
        self.dir = os.path.join(root, "prog")
        os.makedirs(self.dir)
        self.exe = os.path.join(self.dir, "tallimo")
        shutil.copy2(BIN, self.exe)
        self.record_path = os.path.join(self.dir, "Cnt.arm")
        self.chime_path = os.path.join(self.dir, "Chimes.wav")
        self.err_path = os.path.join(root, "stderr.txt")

    def write_record(self, tail=b"", saved_on=0.0, count=0, goal=0, alarm_on=0, alarm_hour=0, alarm_minute=0,
                     lap_on=0):
        with open(self.record_path, "wb") as f:
            f.write(RECORD.pack(saved_on, count, goal, alarm_on, alarm_hour, alarm_minute, lap_on) + tail)

    def record(self):
        try:
            with open(self.record_path, "rb") as f:
                data = f.read()
        except OSError:
            return None
        return unpack_record(data) if len(data) >= RECORD.size else None

    def wait_record(self, timeout=5, hold=0.0, **expected):
        """Waits until Cnt.arm holds `expected`; with `hold`, checks that it stays so that long."""
        def matches():
            rec = self.record()
            return rec is not None and all(rec[k] == v for k, v in expected.items())

        describe = lambda: f"Cnt.arm to hold {expected}; it holds {self.record()}; windows {self.windows()}"
        poll(describe, matches, timeout)
        end = time.monotonic() + hold
        while time.monotonic() < end:
            if not matches():
                raise AssertionError(f"Cnt.arm held {expected}, then changed to {self.record()}")
            time.sleep(0.1)
        return self.record()

    def start(self, faketime=None, env=None):
        penv = dict(self.x.env, **(env or {}))
        if faketime:  # start-at form: the clock runs on from there
            penv.update(LD_PRELOAD=FAKETIME_LIB, FAKETIME="@" + faketime, FAKETIME_DONT_FAKE_MONOTONIC="1")
        with open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen([self.exe], cwd="/", env=penv, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=err)
        return self

    def stderr(self):
        try:
            with open(self.err_path, "rb") as f:
                return f.read().decode(errors="replace")
        except FileNotFoundError:
            return ""

    def wait_exit(self, timeout=10):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"still running after {timeout}s; windows {self.windows()}") from None

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(5)

    # Windows -------------------------------------------------------------------

    def windows(self):
        return [(wid, title) for wid, pid, title in self.x.windows() if pid == self.proc.pid]

    def title(self, wid):
        return dict(self.windows()).get(wid)

    def wait_window(self, title, timeout=10):
        """This program's window titled `title` (a string or a compiled pattern)."""
        def find():
            if self.proc.poll() is not None:
                raise AssertionError(f"exited ({self.proc.returncode}) while waiting for {title!r}")
            return next((w for w, t in self.windows()
                         if (title.match(t) if isinstance(title, re.Pattern) else t == title)), None)
        return poll(lambda: f"window {title!r}; have {self.windows()}", find, timeout)

    def main_window(self):
        return self.wait_window(MAIN_TITLE, 15)

    def stays_open(self, wid, seconds=0.6):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if self.title(wid) is None:
                return False
            time.sleep(0.1)
        return True

    def wait_gone(self, wid, timeout=5):
        poll(lambda: f"window {wid:#x} to close; have {self.windows()}", lambda: self.title(wid) is None, timeout)

    def prop(self, wid, name):
        return self.x.run(["xprop", "-id", str(wid), name])

    def geometry(self, wid):
        """Client area: x, y, width, height."""
        out = self.x.run(["xwininfo", "-id", str(wid)])
        keys = ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")
        return tuple(int(re.search(k + r":\s+(-?\d+)", out).group(1)) for k in keys)

    # Input ---------------------------------------------------------------------

    def click(self, wid, point, button=1, repeat=1):
        self.x.run(["xdotool", "mousemove", "--window", str(wid), str(point[0]), str(point[1]),
                    "click", "--repeat", str(repeat), "--delay", "60", str(button)])

    def keys(self, wid, *keys):
        # Focus the window first: `key --window` sends synthetic events that leave modifiers stuck.
        self.x.run(["xdotool", "windowactivate", "--sync", str(wid)])
        self.x.run(["xdotool", "key", "--delay", "60", *keys])

    def type(self, wid, text):
        self.x.run(["xdotool", "windowactivate", "--sync", str(wid)])
        self.x.run(["xdotool", "type", "--delay", "60", text])

    def close(self, wid):
        self.x.run(["wmctrl", "-i", "-c", hex(wid)])

    def answer(self, title, *keys):
        """Waits for a message box titled `title` and answers it with `keys` (Return by default)."""
        wid = self.wait_window(title)
        self.keys(wid, *(keys or ("Return",)))
        self.wait_gone(wid)


class XTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(BIN):
            raise AssertionError(f"TALLIMO_BIN must name the built tallimo binary (got {BIN!r})")
        cls.x = XServer()

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()

    def program(self, **record):
        root = tempfile.mkdtemp(prefix="tallimo-sys-")
        self.addCleanup(shutil.rmtree, root, True)
        prog = Program(self.x, root)
        self.addCleanup(self._finish, prog)
        if record:
            prog.write_record(**record)
        return prog

    def start(self, faketime=None, env=None, **record):
        return self.program(**record).start(faketime, env)

    def shot(self, name):
        self.x.screenshot(f"{type(self).__name__}.{self._testMethodName}.{name}")

    def _finish(self, prog):
        result = self._outcome.result
        failed = any(getattr(t, "test_case", t) is self for t, _ in result.failures + result.errors)
        if failed:
            self.shot("failure")
        prog.kill()
        if failed and prog.proc:
            print(f"\n--- tallimo stderr, {self.id()} ---\n{prog.stderr()}--- end ---")

    def close_with_summary(self, prog, wid):
        prog.close(wid)
        prog.answer(SUMMARY_TITLE)
        self.assertEqual(prog.wait_exit(), 0)
