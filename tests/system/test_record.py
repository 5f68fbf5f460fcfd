"""What a run leaves in Cnt.arm, and what the next start does with it."""

import datetime
import os
import re
import signal
import unittest

from xsession import (BLANK, COUNT, FAKE_TODAY as TODAY, LABEL, MAIN_TITLE, RESTORE_TITLE, SUMMARY_TITLE, XTestCase,
                      day_number, fake_at, unpack_record)

NOW = fake_at("10:20:00")  # no alarm or hourly report falls in the next minutes
SAVED = dict(saved_on=TODAY, count=7, goal=9, alarm_on=-1, alarm_hour=6, alarm_minute=30, lap_on=-1)


class CloseTest(XTestCase):
    def test_close_shows_the_summary_and_writes_today(self):
        prog = self.start()
        wid = prog.main_window()
        for point in (COUNT, LABEL, BLANK):
            prog.click(wid, point)
        prog.wait_record(count=3)
        before = day_number(datetime.date.today())
        prog.close(wid)
        box = prog.wait_window(SUMMARY_TITLE)
        self.shot("summary")
        prog.keys(box, "Return")
        self.assertEqual(prog.wait_exit(), 0)
        after = day_number(datetime.date.today())
        with open(prog.record_path, "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 20)
        rec = unpack_record(data)
        self.assertIn(rec.pop("saved_on"), (before, after))
        self.assertEqual(rec, dict(count=3, goal=0, alarm_on=0, alarm_hour=0, alarm_minute=0, lap_on=0))


class RestartTest(XTestCase):
    def restart(self, key):
        prog = self.start(faketime=NOW, **SAVED)
        box = prog.wait_window(RESTORE_TITLE)
        self.shot("question")
        prog.keys(box, key)
        self.close_with_summary(prog, prog.main_window())
        return prog.record()

    def test_yes_brings_back_count_and_goal(self):
        self.assertEqual(self.restart("alt+y"), SAVED)

    def test_no_starts_from_zero_but_keeps_the_settings(self):
        self.assertEqual(self.restart("alt+n"), dict(SAVED, count=0, goal=0))

    def test_record_from_another_day_asks_nothing_and_keeps_the_tail(self):
        prog = self.program()
        tail = bytes(range(1, 11))
        prog.write_record(tail=tail, **dict(SAVED, saved_on=TODAY - 1))
        prog.start(faketime=NOW)
        wid = prog.main_window()
        self.assertEqual([w for w, _ in prog.windows()], [wid])
        prog.click(wid, COUNT)
        prog.wait_record(count=1)
        self.close_with_summary(prog, wid)
        with open(prog.record_path, "rb") as f:
            data = f.read()
        self.assertEqual(data[20:], tail)
        self.assertEqual(unpack_record(data), dict(SAVED, count=1, goal=0))


class EndingTest(XTestCase):
    def test_termination_signals_save_without_a_summary(self):
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                prog = self.start(faketime=NOW, **dict(SAVED, saved_on=TODAY - 3))
                wid = prog.main_window()
                prog.click(wid, COUNT)
                prog.click(wid, LABEL)
                prog.wait_record(count=2)
                # Spoil the background save so that only a save at the signal can restore it.
                prog.write_record()
                prog.proc.send_signal(sig)
                self.assertEqual(prog.wait_exit(), 0, prog.stderr())
                self.assertEqual(prog.record(), dict(SAVED, count=2, goal=0))

    def test_record_that_cannot_be_created_is_fatal(self):
        prog = self.program()
        os.mkdir(prog.record_path)
        prog.start()
        box = prog.wait_window(re.compile(".*"))
        self.assertNotRegex(prog.title(box), MAIN_TITLE)
        self.shot("fatal")
        prog.keys(box, "Return")
        status = prog.wait_exit()
        self.assertGreater(status, 0, "expected a failure status, not a signal")
        self.assertIn("Cnt.arm", prog.stderr())


if __name__ == "__main__":
    unittest.main()
