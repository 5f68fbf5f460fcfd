# The verbs of the scenario rows that compare what the real program shows and leaves with what
# it should; the desk under them (servers, input, finding windows) is scripts/xdesk.py.
import hashlib
import os
import pathlib
import re
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
import xdesk  # noqa: E402
from xdesk import poll, read  # noqa: E402


class Scenario(xdesk.Session):
    titles = dict(
        SUMMARY="Tallimo\u3000……\u3000お疲れ様でした。",
        RESTORE="Tallimo\u3000……\u3000復活！！",
        SETTINGS="Tallimoの設定",
        ERROR="Tallimo",
        ALARM="アラーム",
    )

    # ---- files ------------------------------------------------------------------------------
    def v_expect(self, *pairs):
        want = self.values(pairs)
        poll(
            lambda: f"Cnt.arm to hold {want}; it holds {self.record()}",
            lambda: (rec := self.record()) and all(rec[k] == v for k, v in want.items()),
        )

    def v_size(self, name, size):
        data = read(self.path(name))
        assert data is not None and len(data) == int(size), f"{name} holds {data!r}"

    def v_chime(self):  # all its samples reached the audio file, and its own file stayed as it was
        audio, samples = os.path.join(self.root, "audio.raw"), self.chime[44:]
        poll("the chime in the audio file", lambda: samples in (read(audio) or b""))
        assert read(self.path("Chimes.wav")) == self.chime, "the chime file changed"

    # ---- processes --------------------------------------------------------------------------
    def v_exit(self, status):
        assert self.proc.wait(30) == int(status), f"exit status {self.proc.returncode}"

    def v_cmd(self, status, *opts):  # e.g. "cmd 0 --count"; its output for `said`
        got = self.finish(*opts)
        assert got == int(status) and (got or not self.said["err"]), f"{opts}: {got}, {self.said}"

    # The last cmd's stdout ("out"; all it wrote, run in a terminal) or stderr ("err") matches.
    def v_said(self, stream, pattern):
        said = self.said[stream]
        assert re.search(pattern, said, re.M), f"{pattern!r} not in {stream}: {said!r}"

    def v_mark(self):
        self.marked = self.stamp()

    def v_unchanged(self):
        assert self.stamp() == self.marked, f"changed: {self.marked} -> {self.stamp()}"

    def v_stderr(self, *texts):  # a number is the count of lines, each ended
        err = read(self.proc.err).decode(errors="replace")
        for text in texts:
            assert re.fullmatch(f"(.*\n){{{text}}}", err) if text.isdigit() else text in err, err

    def v_second(self, *opts):  # a start from a running window's folder, see second_exe
        exe, opts = self.second_exe(opts)
        before, second = self.stamp(), self.spawn(*opts, exe=exe)
        assert second.wait(30) == 0, f"the second start ended with {second.returncode}"
        assert not read(second.err), f"the second start said {read(second.err)}"
        assert self.stamp() == before, f"the second start changed: {before} -> {self.stamp()}"
        poll("the first window to come back", lambda: "_HIDDEN" not in self.prop("_NET_WM_STATE"))

    # ---- windows ----------------------------------------------------------------------------
    def v_title(self, title):  # the whole title matches; "ticked": the clock has shown a time
        title = r"\d\d:\d\d" if title == "ticked" else title
        poll(lambda: f"the title {title}; it is {self.title()}",
             lambda: re.fullmatch(title, self.title()))  # fmt: skip

    def v_prop(self, name, *values):
        has = lambda: all(value in self.prop(name) for value in values)
        poll(lambda: f"{values} in {self.prop(name)}", has)

    def v_geom(self, *xywh):  # "-" for any
        fits = lambda: all(want in ("-", str(got)) for want, got in zip(xywh, self.geometry()))
        poll(lambda: f"the geometry {xywh}; it is {self.geometry()}", fits)

    def v_look(self, digest):  # the window's pixels, as they were when the row was written
        look = lambda: hashlib.sha256(self.pixels()).hexdigest()[:12]
        poll(lambda: f"the look {digest}; it is {look()}", lambda: look() == digest)

    def v_movestrip(self, right):  # drags the caption strip: the window follows the pointer
        def moved():
            self.x.run("xdotool", "mousemove_relative", "8", "6")
            return self.geometry()[0] > int(right)

        self.mouse(["STRIP"], "mousedown", "1")
        poll("the window to follow the pointer", moved)
        self.x.run("xdotool", "mouseup", "1")

    def v_over(self):  # the window is centred over the main one, give or take its frame
        (x, y, w, h), (mx, my, mw, mh) = self.geometry(), self.geometry(self.main)
        assert max(abs(2 * x + w - 2 * mx - mw), abs(2 * y + h - 2 * my - mh)) <= 20, (x, y, mx, my)

    def v_keys(self, *keys, verb="key"):  # only into the window we look at: it has the focus
        poll(lambda: f"window {self.win} to have the focus; it is on {self.focus()}",
             lambda: self.has_focus(self.win))  # fmt: skip
        super().v_keys(*keys, verb=verb)

    def v_comeback(self):  # the window manager minimises the window: it and the main one return
        self.minimize_synced()
        for win in (self.win, self.main):
            state = lambda: self.x.run("xprop", "-id", str(win), "_NET_WM_STATE", "WM_STATE")
            poll(lambda: f"{win} to come back: {state()}", lambda: "Iconic" not in state())

    def v_shortcut(self, count, *times):  # the README's bindings pressed while another window is
        assert len(times) == len(self.x.bindings), f"the README binds {self.x.bindings}"  # active
        self.v_other()
        self.press_bindings(times)
        self.v_expect(f"count={count}")
        assert self.has_focus(self.other), f"the focus moved to {self.focus()}"

    # ---- what a screen reader gets ----------------------------------------------------------
    def v_tree(self, name):  # the accessible tree has a line holding each of trees[name]
        def complete():
            self.lines = self.tree()
            return all(any(want in line for line in self.lines) for want in self.trees[name])

        poll(
            lambda: f"the accessible tree to hold {self.trees[name]}; it holds {self.lines}",
            complete,
        )

    def v_heard(self, text):  # Orca says the notification `text`, after what it said before
        said = f"SPEECH OUTPUT: 'notification {text}.'"
        self.spoke += poll(
            lambda: f"Orca to say {said!r}; it said {re.findall('SPEECH OUTPUT: .*', self.log())}",
            lambda: (at := self.log().find(said)) >= 0 and at + len(said),
        )
