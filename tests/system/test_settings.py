"""The settings dialog, driven from the real window with the keyboard."""

import unittest

from xsession import FAKE_TODAY, SET, SETTINGS_TITLE, XTestCase, fake_at

NOW = fake_at("10:20:00")  # far from the alarm set below and from a full hour


class SettingsDialogTest(XTestCase):
    def test_edit_everything_with_the_keyboard(self):
        prog = self.start(faketime=NOW)
        wid = prog.main_window()

        # Tab from the count button reaches the settings button; Space opens it.
        prog.keys(wid, "Tab", "space")
        dlg = prog.wait_window(SETTINGS_TITLE)
        self.shot("opened")
        self.assertIn("_NET_WM_STATE_MODAL", prog.prop(dlg, "_NET_WM_STATE"))
        self.assertIn("_NET_WM_STATE_SKIP_TASKBAR", prog.prop(dlg, "_NET_WM_STATE"))
        self.assertRegex(prog.prop(dlg, "WM_NORMAL_HINTS"), r"minimum size: 276 by 156\s+.*maximum size: 276 by 156")
        self.assertEqual(prog.geometry(dlg)[2:], (276, 156))
        prog.keys(dlg, "Escape", "Return")
        self.assertTrue(prog.stays_open(dlg), "Escape or Return closed the dialog")
        # Goal, count, alarm pair (OFF: its boxes are skipped), report pair -> ON, OK.
        prog.keys(dlg, "Tab", "Tab", "Tab", "Up", "Tab", "space")
        prog.wait_gone(dlg)
        prog.wait_record(lap_on=-1, alarm_on=0, count=0, goal=0)

        prog.click(wid, SET)
        dlg = prog.wait_window(SETTINGS_TITLE)
        prog.type(dlg, "12")  # replaces the selected "0"
        prog.keys(dlg, "Tab")
        prog.type(dlg, "34")
        # Alarm ON: its boxes show 0 and 0; empty the hour, set the minute.
        prog.keys(dlg, "Tab", "Up", "Tab", "BackSpace", "Tab")
        prog.type(dlg, "5")
        prog.keys(dlg, "Tab", "Tab", "space")
        warning = prog.wait_window("Tallimo")
        self.shot("missing-hour")
        prog.keys(warning, "Return")
        prog.wait_gone(warning)
        self.assertTrue(prog.stays_open(dlg, 0.1))
        # Goal and count are in force already; the alarm is not.
        prog.wait_record(goal=12, count=34, alarm_on=0, lap_on=-1)

        prog.type(dlg, "7")  # the focus went back to the hour box
        prog.keys(dlg, "Tab", "Tab", "Tab", "Return")  # Return on the focused OK button
        prog.wait_gone(dlg)
        expected = dict(goal=12, count=34, alarm_on=-1, alarm_hour=7, alarm_minute=5, lap_on=-1)
        prog.wait_record(**expected)
        self.shot("applied")

        self.close_with_summary(prog, wid)
        self.assertEqual(prog.record(), dict(expected, saved_on=FAKE_TODAY))


if __name__ == "__main__":
    unittest.main()
