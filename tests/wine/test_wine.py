"""The native Windows tallimo.exe under Wine on Xvfb + openbox, driven like a user.

Reuses the X session and the program helpers of the Linux system tests; what
differs is how the program starts (through wine, with a Japanese locale) and
that Wine draws the tool window's frame itself, so clicks are offset into the
client area.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "system"))
from xsession import (BLANK, COUNT, FAKE_TODAY, FAKETIME_LIB, LABEL, RESTORE_TITLE, SET, SETTINGS_TITLE,  # noqa: E402
                      SUMMARY_TITLE, Program, XServer, XTestCase, fake_at, poll)

EXE = os.environ.get("TALLIMO_EXE", "")
PROBE = os.environ.get("TALLIMO_PROBE", "")
NOW = fake_at("10:20:00")  # no alarm or hourly report falls in the next minutes
SAVED = dict(saved_on=FAKE_TODAY, count=7, goal=9, alarm_on=-1, alarm_hour=6, alarm_minute=30, lap_on=-1)
CLIENT = (56, 40)  # the main window's client area in pixels at 96 dpi
TXT_CNT = (136, 57)  # the count box in the settings dialog's client area
CLOCK = re.compile(r"^\d\d:\d\d$")  # the main window's title from a second after start on
METRICS = r"HKCU\Control Panel\Desktop\WindowMetrics"


def quiet(argv, env, timeout=60):
    # Wine's background processes inherit whatever they are given: never a pipe.
    subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=timeout, check=False)


def probe(env, *args):
    """probe.exe's lines, split: what Windows itself says of its windows."""
    out = subprocess.run(["wine", PROBE, *args], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                         timeout=60, check=True).stdout.decode()
    return [line.rstrip("\r").split(" ", 1) for line in out.splitlines()]


def windows(env):
    """The work area, and {title: (left, top, right, bottom)} of the shown windows, as GetWindowRect
    gives them; the foreground window's title last."""
    lines = probe(env)
    rows = [rest.split(" ", 6) for kind, rest in lines if kind == "window"]
    work = tuple(map(int, dict(lines)["work"].split()))
    return work, {r[6]: tuple(map(int, r[2:6])) for r in rows}, next((r[6] for r in rows if r[1] == "1"), None)


def wait_foreground(env, title):
    poll(lambda: f"{title!r} in the foreground; have {windows(env)}", lambda: windows(env)[2] == title, 10)


class WineProgram(Program):
    def __init__(self, x, root):
        self.x, self.root, self.proc = x, root, None
        self.dir = os.path.join(root, "prog")
        os.makedirs(self.dir)
        self.exe = os.path.join(self.dir, "tallimo.exe")
        shutil.copy2(EXE, self.exe)
        self.record_path = os.path.join(self.dir, "Cnt.arm")
        self.chime_path = os.path.join(self.dir, "Chimes.wav")
        self.err_path = os.path.join(root, "stderr.txt")

    def start(self, faketime=None, env=None):
        penv = dict(self.x.env, **(env or {}))
        if faketime:
            penv.update(LD_PRELOAD=FAKETIME_LIB, FAKETIME="@" + faketime, FAKETIME_DONT_FAKE_MONOTONIC="1")
        with open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen(["wine", self.exe], cwd=self.root, env=penv, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=err)
        return self

    def run_second(self, exe=None):
        """Starts the same .exe once more and returns its exit status."""
        return subprocess.run(["wine", exe or self.exe], cwd=self.root, env=self.x.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode

    def click(self, wid, point, button=1, repeat=1, framed=True):
        """`point` in the client area. Wine draws the main window's caption and border
        itself, inside its X window; the window manager frames the dialog."""
        left = top = 0
        if framed:
            width, height = self.geometry(wid)[2:]
            left = (width - CLIENT[0]) // 2
            top = height - CLIENT[1] - left
        super().click(wid, (point[0] + left, point[1] + top), button, repeat)


class WineTestCase(XTestCase):
    @classmethod
    def setUpClass(cls):
        if not (os.path.isfile(EXE) and os.path.isfile(PROBE)):
            raise AssertionError(f"TALLIMO_EXE and TALLIMO_PROBE must name tallimo.exe and probe.exe "
                                 f"(got {EXE!r}, {PROBE!r})")
        cls.x = XServer()
        cls.x.env.update(LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
        # A wineserver of our own, bound to this display, started quietly.
        quiet(["wineserver", "-k"], cls.x.env)
        quiet(["wine", "wineboot"], cls.x.env)

    @classmethod
    def tearDownClass(cls):
        quiet(["wineserver", "-k"], cls.x.env)
        cls.x.stop()

    def program(self, **record):
        root = tempfile.mkdtemp(prefix="tallimo-wine-")
        self.addCleanup(shutil.rmtree, root, True)
        prog = WineProgram(self.x, root)
        self.addCleanup(self._finish, prog)
        if record:
            prog.write_record(**record)
        return prog


class MainWindowTest(WineTestCase):
    def test_count_close_and_read_the_record(self):
        prog = self.start(faketime=NOW)
        wid = prog.main_window()
        # The window takes the focus by itself: Space counts before anything activates it.
        poll("the main window to take the focus", lambda: self.x.run(["xdotool", "getactivewindow"],
                                                                      check=False).strip() == str(wid), 10)
        self.x.run(["xdotool", "key", "space"])
        prog.wait_record(count=1)
        self.assertIn("_NET_WM_STATE_ABOVE", prog.prop(wid, "_NET_WM_STATE"))
        self.assertIn("_NET_WM_STATE_SKIP_TASKBAR", prog.prop(wid, "_NET_WM_STATE"))
        for point in (COUNT, LABEL, BLANK):
            prog.click(wid, point)
        prog.click(wid, LABEL, button=3)  # either button counts on the label
        prog.click(wid, COUNT, button=3)  # a right press on a button takes one away
        prog.click(wid, SET, button=3)
        prog.click(wid, LABEL, repeat=2)  # a quick double click counts once
        prog.wait_record(count=4)
        prog.keys(wid, "space", "Return")  # the count button has the focus
        prog.wait_record(count=6)
        self.shot("counted")
        prog.close(wid)
        box = prog.wait_window(SUMMARY_TITLE)
        self.shot("summary")
        prog.keys(box, "Return")
        self.assertEqual(prog.wait_exit(), 0)
        with open(prog.record_path, "rb") as f:
            self.assertEqual(len(f.read()), 20)
        self.assertEqual(prog.record(), dict(saved_on=FAKE_TODAY, count=6, goal=0, alarm_on=0, alarm_hour=0,
                                             alarm_minute=0, lap_on=0))

    def test_restart_asks_to_restore(self):
        for key, expected in (("alt+y", SAVED), ("alt+n", dict(SAVED, count=0, goal=0))):
            with self.subTest(key=key):
                prog = self.start(faketime=NOW, **SAVED)
                box = prog.wait_window(RESTORE_TITLE)
                self.shot("question")
                prog.keys(box, "Escape")
                prog.close(box)
                self.assertTrue(prog.stays_open(box), "Escape or the close box answered the question")
                prog.keys(box, key)
                self.close_with_summary(prog, prog.main_window())
                self.assertEqual(prog.record(), expected)

    def test_one_window_per_program_folder(self):
        prog = self.start(faketime=NOW, **SAVED)
        box = prog.wait_window(RESTORE_TITLE)
        with open(prog.record_path, "rb") as f:
            before = f.read()
        # A second start, here through a link to the folder, asks nothing, leaves the record
        # alone and brings the question forward.
        os.symlink(prog.dir, os.path.join(prog.root, "link"))
        self.assertEqual(prog.run_second(os.path.join(prog.root, "link", "tallimo.exe")), 0)
        wait_foreground(self.x.env, RESTORE_TITLE)
        with open(prog.record_path, "rb") as f:
            self.assertEqual(f.read(), before)
        prog.keys(box, "alt+y")
        wid = prog.wait_window(CLOCK)
        # A minimised window comes back, in front.
        self.assertEqual(probe(self.x.env, "--minimize", prog.title(wid)), [])
        poll("the window to be minimised", lambda: "_NET_WM_STATE_HIDDEN" in prog.prop(wid, "_NET_WM_STATE"), 5)
        self.assertEqual(prog.run_second(), 0)
        poll("the window to come back", lambda: "_NET_WM_STATE_HIDDEN" not in prog.prop(wid, "_NET_WM_STATE"), 5)
        wait_foreground(self.x.env, prog.title(wid))
        # A copy in another folder runs on its own.
        other = self.start(faketime=NOW)
        other.main_window()
        # Killed, the first blocks nothing: the next start from its folder runs.
        prog.proc.kill()
        prog.wait_exit()
        prog.start(faketime=NOW)
        prog.answer(RESTORE_TITLE, "alt+n")
        self.close_with_summary(prog, prog.main_window())

    def test_taller_caption_keeps_the_frame_on_screen(self):
        # The layout assumes a 15 px small caption; -450 twips gives 30 px.
        quiet(["wine", "reg", "add", METRICS, "/v", "SmCaptionHeight", "/t", "REG_SZ", "/d", "-450", "/f"],
              self.x.env)
        self.addCleanup(quiet, ["wine", "reg", "delete", METRICS, "/v", "SmCaptionHeight", "/f"], self.x.env)
        prog = self.start(faketime=NOW)
        title = prog.title(prog.wait_window(CLOCK))
        work, rects, _ = windows(self.x.env)
        left, top, right, bottom = rects[title]
        self.assertEqual((left, top), work[:2])
        self.assertGreaterEqual(bottom - top, CLIENT[1] + 30)

    def test_end_of_session_saves_without_a_summary(self):
        prog = self.start(faketime=NOW, **dict(SAVED, saved_on=FAKE_TODAY - 3))
        wid = prog.main_window()
        prog.click(wid, COUNT)
        prog.wait_record(count=1)
        prog.write_record()  # spoil the background save: only the save at the end can restore it
        quiet(["wine", "wineboot", "--end-session"], self.x.env)
        self.assertEqual(prog.wait_exit(), 0, prog.stderr())
        self.assertEqual(prog.record(), dict(SAVED, count=1, goal=0))

    def test_record_that_cannot_be_created_is_fatal(self):
        prog = self.program()
        os.mkdir(prog.record_path)
        prog.start()
        box = prog.wait_window("Tallimo")
        self.shot("fatal")
        prog.keys(box, "Return")
        self.assertEqual(prog.wait_exit(), 1)
        self.assertIn("Cnt.arm", prog.stderr())


class SettingsAndAlarmTest(WineTestCase):
    def test_edit_everything_with_the_keyboard(self):
        prog = self.start(faketime=NOW)
        wid = prog.main_window()
        prog.keys(wid, "Tab", "space")  # the settings button is next after the count button
        dlg = prog.wait_window(SETTINGS_TITLE)
        self.shot("opened")
        self.assertEqual(prog.geometry(dlg)[2:], (276, 156))
        prog.keys(dlg, "Escape", "Return")
        self.assertTrue(prog.stays_open(dlg), "Escape or Return closed the dialog")
        # Each box is created right after its label, and so named after it.
        names = [rest.split("|")[0] for kind, rest in probe(self.x.env, SETTINGS_TITLE) if kind == "control"]
        self.assertEqual(names[2:6], ["今回の目標："] * 2 + ["只今の件数："] * 2)
        # Goal, count, alarm pair (OFF: its boxes are skipped), report pair -> ON, OK.
        prog.keys(dlg, "Tab", "Tab", "Tab", "Up", "Tab", "space")
        prog.wait_gone(dlg)
        prog.wait_record(lap_on=-1, alarm_on=0, count=0, goal=0)

        prog.click(wid, SET)
        dlg = prog.wait_window(SETTINGS_TITLE)
        prog.type(dlg, "12")  # replaces the selected "0"
        prog.click(dlg, TXT_CNT, framed=False)  # the click that focuses keeps everything selected
        prog.type(dlg, "34")
        prog.keys(dlg, "Tab", "Up", "Tab", "BackSpace", "Tab")  # alarm ON; empty the hour
        prog.type(dlg, "5")
        prog.keys(dlg, "Tab", "Tab", "space")
        warning = prog.wait_window("Tallimo")
        self.shot("missing-hour")
        prog.keys(warning, "Return")
        prog.wait_gone(warning)
        prog.wait_record(goal=12, count=34, alarm_on=0, lap_on=-1)

        prog.type(dlg, "7")  # the focus went back to the hour box
        prog.keys(dlg, "Tab", "Tab", "Tab", "Return")  # Return on the focused OK button
        prog.wait_gone(dlg)
        expected = dict(goal=12, count=34, alarm_on=-1, alarm_hour=7, alarm_minute=5, lap_on=-1)
        prog.wait_record(**expected)
        self.close_with_summary(prog, wid)
        self.assertEqual(prog.record(), dict(expected, saved_on=FAKE_TODAY))

    def test_alarm_shows_its_message_and_creates_the_chime_file(self):
        prog = self.start(faketime=fake_at("06:29:57"), **dict(SAVED, saved_on=FAKE_TODAY - 1, lap_on=0))
        prog.main_window()
        box = prog.wait_window("アラーム", timeout=15)
        self.shot("alarm")
        self.assertEqual(os.path.getsize(prog.chime_path), 0)
        prog.keys(box, "Return")
        prog.wait_gone(box)
        self.close_with_summary(prog, prog.main_window())


if __name__ == "__main__":
    unittest.main()
