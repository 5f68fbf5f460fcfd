"""The main window as the window manager sees it, and a start without a display."""

import os
import subprocess
import unittest

from xsession import BIN, XTestCase, fake_at


class MainWindowTest(XTestCase):
    def test_tool_window_properties_and_geometry(self):
        prog = self.start()
        wid = prog.main_window()
        self.assertIn("_NET_WM_WINDOW_TYPE_UTILITY", prog.prop(wid, "_NET_WM_WINDOW_TYPE"))
        state = prog.prop(wid, "_NET_WM_STATE")
        self.assertIn("_NET_WM_STATE_ABOVE", state)
        self.assertIn("_NET_WM_STATE_SKIP_TASKBAR", state)

        hints = prog.prop(wid, "WM_NORMAL_HINTS")
        self.assertRegex(hints, r"minimum size: 56 by 40")
        self.assertRegex(hints, r"maximum size: 56 by 40")
        actions = prog.prop(wid, "_NET_WM_ALLOWED_ACTIONS")
        self.assertIn("_NET_WM_ACTION_CLOSE", actions)
        self.assertNotRegex(actions, r"_NET_WM_ACTION_(RESIZE|MAXIMIZE)")

        x, y, width, height = prog.geometry(wid)
        self.assertEqual((width, height), (56, 40))
        # The client area itself sits at the top-left corner, not the frame,
        # and is neither centred nor cascaded.
        self.assertEqual((x, y), (3, 18))
        self.shot("main")

    def test_caption_is_form1_then_the_24_hour_clock(self):
        prog = self.start(faketime=fake_at("23:59:40"))
        wid = prog.main_window()
        self.assertEqual(prog.title(wid), "Form1")
        prog.wait_window("23:59", timeout=5)
        self.shot("clock")


class NoDisplayTest(unittest.TestCase):
    def test_without_a_display_it_says_so_and_exits(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        res = subprocess.run([BIN], env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=20)
        err = res.stderr.decode(errors="replace")
        # A plain failure status: not killed by a signal, not an abort (134).
        self.assertGreater(res.returncode, 0, err)
        self.assertNotEqual(res.returncode, 134, err)
        lines = [line for line in err.splitlines() if line.strip()]
        self.assertEqual(len(lines), 1, err)


if __name__ == "__main__":
    unittest.main()
