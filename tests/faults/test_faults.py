"""Faults from outside injected into the real program: a full disk, files and
folders it may not use, odd paths, bad chime files and a clock that jumps."""

import datetime
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "system"))
from xsession import (COUNT, FAKE_DAY, FAKE_TODAY, FAKETIME_LIB, MAIN_TITLE, SUMMARY_TITLE,  # noqa: E402
                      XTestCase, day_number, fake_at, poll)

ANY = re.compile(".*")
NOON = dict(saved_on=FAKE_TODAY - 1, alarm_on=-1, alarm_hour=12, alarm_minute=0)


def as_nobody(prog, faketime=None):
    """Starts the program as the unprivileged user `nobody` (root ignores permissions)."""
    os.chmod(prog.root, 0o755)
    runtime = os.path.join(prog.root, "runtime")
    os.mkdir(runtime, 0o700)
    shutil.chown(runtime, "nobody")
    env = dict(prog.x.env, HOME=prog.root, XDG_RUNTIME_DIR=runtime)
    # setpriv and env exec the program: the pid stays, and only the program gets the faked clock.
    argv = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "env"]
    if faketime:
        argv += [f"LD_PRELOAD={FAKETIME_LIB}", f"FAKETIME=@{faketime}", "FAKETIME_DONT_FAKE_MONOTONIC=1"]
    argv.append(prog.exe)
    with open(prog.err_path, "wb") as err:
        prog.proc = subprocess.Popen(argv, cwd="/", env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=err)
    return prog


class FileFaultTest(XTestCase):
    def boxes(self, prog):
        return [t for _, t in prog.windows() if not MAIN_TITLE.match(t)]

    def assert_fatal(self, prog, name, reason):
        """The start fails: one report that is not the main window, then a failure status."""
        box = prog.wait_window(ANY)
        self.assertNotRegex(prog.title(box), MAIN_TITLE)
        self.shot(name)
        prog.keys(box, "Return")
        status = prog.wait_exit()
        self.assertGreater(status, 0, "expected a failure status, not a signal")
        self.assertIn("Cnt.arm", prog.stderr())
        self.assertIn(reason, prog.stderr())

    def test_full_disk_is_reported_once_and_at_close(self):
        prog = self.program()
        os.symlink("/dev/full", prog.record_path)
        prog.start()
        wid = prog.main_window()
        prog.click(wid, COUNT)
        prog.answer("Tallimo")  # the background save failed
        prog.click(wid, COUNT)
        self.assertTrue(prog.stays_open(wid, 2.5))
        self.assertEqual(self.boxes(prog), [], "a failing save was reported twice")
        prog.close(wid)
        box = prog.wait_window("Tallimo")
        self.shot("full-disk-close")
        self.assertNotIn(SUMMARY_TITLE, self.boxes(prog))
        prog.keys(box, "Return")
        self.assertEqual(prog.wait_exit(), 0)

    def test_record_path_is_a_directory(self):
        prog = self.program()
        os.mkdir(prog.record_path)
        self.assert_fatal(prog.start(), "record-is-dir", "同じ名前のフォルダーがあります")

    def test_program_folder_not_writable(self):
        prog = self.program()
        os.chmod(prog.dir, 0o555)
        self.assert_fatal(as_nobody(prog), "readonly-folder", "アクセスが拒否されました")

    def test_folder_with_spaces_and_japanese(self):
        prog = self.program()
        new_dir = os.path.join(prog.root, "集計 ツール", "たりも ver 1")
        os.makedirs(os.path.dirname(new_dir))
        os.rename(prog.dir, new_dir)
        prog.dir, prog.exe = new_dir, os.path.join(new_dir, "tallimo")
        prog.record_path, prog.chime_path = os.path.join(new_dir, "Cnt.arm"), os.path.join(new_dir, "Chimes.wav")
        prog.start()
        wid = prog.main_window()
        for _ in range(3):
            prog.click(wid, COUNT)
        prog.wait_record(count=3)
        self.close_with_summary(prog, wid)
        self.assertEqual(sorted(os.listdir(new_dir)), ["Cnt.arm", "tallimo"])
        self.assertEqual(prog.record()["saved_on"], day_number(datetime.date.today()))


class ChimeFaultTest(XTestCase):
    def alarm_with_report(self, prog):
        """At the alarm: the error report comes first, then the alarm message all the same."""
        prog.answer("Tallimo")
        box = prog.wait_window("アラーム")
        self.shot("alarm-after-report")
        prog.keys(box, "Return")
        prog.wait_gone(box)

    def test_chime_that_is_a_directory(self):
        prog = self.program(**NOON)
        os.mkdir(prog.chime_path)
        prog.start(faketime=fake_at("11:59:55"))
        self.alarm_with_report(prog)

    def test_chime_that_may_not_be_read(self):
        prog = self.program(**NOON)
        with open(prog.chime_path, "wb") as f:
            f.write(b"RIFF")
        os.chmod(prog.chime_path, 0)
        shutil.chown(prog.dir, "nobody")  # so that nobody may write the record
        shutil.chown(prog.record_path, "nobody")
        as_nobody(prog, fake_at("11:59:55"))
        self.alarm_with_report(prog)

    def test_chime_of_hundreds_of_megabytes(self):
        prog = self.program(**NOON)
        with open(prog.chime_path, "wb") as f:
            f.truncate(600 << 20)  # sparse: no disk space used
        prog.start(faketime=fake_at("11:59:55"))
        wid = prog.main_window()
        before = resident_mb(prog.proc.pid)
        box = prog.wait_window("Tallimo", timeout=12)
        # Reading it would add its 600 MB; the box alone adds little (more under ASan's quarantine).
        self.assertLess(resident_mb(prog.proc.pid) - before, 300, "the chime was read into memory")
        prog.keys(box, "Return")
        prog.wait_gone(box)
        prog.answer("アラーム")
        self.assertEqual(os.path.getsize(prog.chime_path), 600 << 20)
        self.close_with_summary(prog, wid)


def resident_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1)) / 1024


class ClockJumpTest(XTestCase):
    def test_clock_jumps_hours_forward_and_back_and_past_midnight(self):
        prog = self.program(lap_on=-1, **NOON)
        clock = os.path.join(prog.root, "clock")

        def set_clock(hms, days=0):
            """libfaketime reads this offset from the real clock again at every reading."""
            when = datetime.datetime.combine(FAKE_DAY + datetime.timedelta(days=days), datetime.time.fromisoformat(hms))
            with open(clock, "w") as f:
                f.write(f"{round(when.timestamp() - time.time()):+d}\n")

        set_clock("11:30:00")
        prog.start(env=dict(LD_PRELOAD=FAKETIME_LIB, FAKETIME_TIMESTAMP_FILE=clock, FAKETIME_NO_CACHE="1",
                            FAKETIME_DONT_FAKE_MONOTONIC="1"))
        wid = prog.main_window()
        prog.click(wid, COUNT)
        poll("the caption 11:30", lambda: prog.title(wid) == "11:30", 5)
        set_clock("14:59:57")  # forward over the alarm minute: a report, no alarm
        prog.answer("ラップ件数")
        set_clock("11:59:57")  # back: the alarm comes round, the hours already reported do not
        prog.answer("アラーム")
        set_clock("23:59:57")  # on past midnight: the report, and the record moves to the new day
        prog.answer("ラップ件数")
        prog.wait_record(saved_on=FAKE_TODAY + 1, count=1)
        self.assertEqual([t for _, t in prog.windows()], ["00:00"])
        self.close_with_summary(prog, wid)


if __name__ == "__main__":
    unittest.main()
