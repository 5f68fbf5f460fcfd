"""The daily alarm and the hourly report, reached with a faked clock."""

import os
import struct
import unittest
import wave

from xsession import FAKE_TODAY, XTestCase, fake_at, poll

YESTERDAY = FAKE_TODAY - 1
NOON = dict(saved_on=YESTERDAY, alarm_on=-1, alarm_hour=12, alarm_minute=0)


class AlarmTest(XTestCase):
    def test_alarm_and_report_at_noon_without_a_chime_file(self):
        prog = self.start(faketime=fake_at("11:59:56"), lap_on=-1, **NOON)
        wid = prog.main_window()
        seen = set()

        def answer_boxes():
            for box, title in prog.windows():
                if title in ("アラーム", "ラップ件数") and title not in seen:
                    seen.add(title)
                    self.shot(f"noon-{len(seen)}")
                    prog.keys(box, "Return")
                    prog.wait_gone(box)
            return len(seen) == 2

        poll("the alarm and the hourly report", answer_boxes, 12, 0.2)
        self.assertTrue(os.path.isfile(prog.chime_path), "Chimes.wav was not created")
        self.assertEqual(os.path.getsize(prog.chime_path), 0)
        self.close_with_summary(prog, wid)

    def test_chime_is_played(self):
        prog = self.program(**NOON)
        chime = write_square_wave(prog.chime_path)
        disk = os.path.join(prog.root, "audio.raw")
        prog.start(faketime=fake_at("11:59:57"), env={"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": disk})
        wid = prog.main_window()
        self.assertFalse(os.path.isfile(disk) and any(read_bytes(disk)), "sound before the alarm")
        box = prog.wait_window("アラーム", timeout=12)
        poll("sound in " + disk, lambda: os.path.isfile(disk) and any(read_bytes(disk)), 5)
        prog.keys(box, "Return")
        prog.wait_gone(box)
        self.assertEqual(read_bytes(prog.chime_path), chime, "the chime file was changed")
        self.close_with_summary(prog, wid)


def write_square_wave(path, rate=22050, seconds=0.5):
    half = rate // 880
    frames = b"".join(struct.pack("<h", 12000 if (i // half) % 2 else -12000) for i in range(int(rate * seconds)))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(frames)
    return read_bytes(path)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


if __name__ == "__main__":
    unittest.main()
