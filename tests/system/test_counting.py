"""Counting with the mouse and the keyboard on the real window."""

import unittest

from xsession import (BLANK, BLANK_LOW, COUNT, FAKE_TODAY, LABEL, RESTORE_TITLE, SET, SETTINGS_TITLE, XTestCase,
                      fake_at)

SETTLE = 1.5  # longer than the background save's delay


class MouseTest(XTestCase):
    def test_buttons_on_each_part_of_the_window(self):
        prog = self.start()
        wid = prog.main_window()
        # At 0 a right press on either button leaves the count alone.
        prog.click(wid, COUNT, button=3)
        prog.click(wid, SET, button=3)
        prog.click(wid, LABEL)
        prog.wait_record(count=1)

        for point in (COUNT, BLANK, BLANK_LOW):
            prog.click(wid, point)
        for point in (LABEL, BLANK, BLANK_LOW):
            prog.click(wid, point, button=3)
        prog.wait_record(count=7)

        prog.click(wid, COUNT, button=3)
        prog.click(wid, SET, button=3)
        for point in (LABEL, COUNT, SET, BLANK):
            prog.click(wid, point, button=2)
        # Pressed on the count button, released off the window: no count.
        prog.x.run(["xdotool", "mousemove", "--window", str(wid), *map(str, COUNT), "mousedown", "1",
                    "mousemove", "--window", str(wid), "28", "120", "mouseup", "1"])
        prog.wait_record(count=5, hold=SETTLE)
        self.assertNotIn(SETTINGS_TITLE, [t for _, t in prog.windows()])
        self.shot("count5")

    def test_double_click_counts_once_on_the_label_twice_on_the_button(self):
        prog = self.start()
        wid = prog.main_window()
        prog.click(wid, LABEL, repeat=2)
        prog.wait_record(count=1, hold=SETTLE)
        prog.click(wid, COUNT, repeat=2)
        prog.wait_record(count=3, hold=SETTLE)


class KeyboardTest(XTestCase):
    def test_space_and_return_count_and_a_right_press_keeps_the_focus(self):
        prog = self.start()
        wid = prog.main_window()
        prog.keys(wid, "space", "Return")
        prog.wait_record(count=2)
        prog.click(wid, SET, button=3)
        prog.keys(wid, "space")
        prog.wait_record(count=2, hold=SETTLE)
        self.assertEqual([t for _, t in prog.windows() if t == SETTINGS_TITLE], [])


class OverflowTest(XTestCase):
    def test_count_stops_at_32767_with_an_error_box(self):
        prog = self.start(faketime=fake_at("10:20:00"), saved_on=FAKE_TODAY, count=32766, goal=5)
        prog.answer(RESTORE_TITLE, "alt+y")
        wid = prog.main_window()
        prog.click(wid, COUNT)
        prog.wait_record(count=32767)
        prog.click(wid, LABEL)
        box = prog.wait_window("Tallimo")
        self.shot("overflow")
        prog.keys(box, "Return")
        prog.wait_gone(box)
        self.close_with_summary(prog, wid)
        self.assertEqual(prog.record()["count"], 32767)


if __name__ == "__main__":
    unittest.main()
