# Drives the real program as a user meets it: Xvfb with openbox as it comes,
# real mouse and keys through XTEST, then the window properties, pixels,
# accessible tree and files it leaves. The same rows drive the Linux binary and,
# when TALLIMO_BIN names tallimo.exe, the Windows one under Wine.
#
# The rows live in tests/system/scenarios.py; this is the driver they run on.
#
# A scenario is a script, "verb arg arg; verb ...". Every step waits for what it
# needs with a deadline: keys go out only once the target window has the input
# focus, clicks only into a window that is mapped. No step races the program's
# start or its clock: events on the faked clock are reached by moving the clock
# (clock=, then "clock") once the window is up, never by starting just before them.
import datetime, os, pathlib, re, shlex, shutil, signal, struct, subprocess, tempfile, time, unittest, wave

from Xlib import X, display as xdisplay  # python3-xlib
from Xlib.ext import xtest

BIN = os.path.abspath(os.environ.get("TALLIMO_BIN", ""))
PLATFORM = "W" if BIN.endswith(".exe") else "L"
SHOTS = os.environ.get("TALLIMO_SHOTS") or tempfile.gettempdir()
FAKETIME = dict(LD_PRELOAD="/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1", FAKETIME_DONT_FAKE_MONOTONIC="1")
FAKE_DAY = datetime.date(2030, 5, 17)  # not today, so that a program reading the real clock shows
RECORD, FIELDS = struct.Struct("<dhhhhhh"), ("saved", "count", "goal", "alarm", "hour", "minute", "lap")
MAIN = re.compile(r"(Form1|\d\d:\d\d)$")
TITLES = dict(SUMMARY="Tallimo\u3000……\u3000お疲れ様でした。", RESTORE="Tallimo\u3000……\u3000復活！！",
              SETTINGS="Tallimoの設定", ERROR="Tallimo", ALARM="アラーム", LAP="ラップ件数")
CLIENT = dict(LABEL=(19, 9), SET=(48, 9), COUNT=(28, 30), BLANK=(39, 10), LOW=(48, 19))
OUTER = dict(STRIP=(20, 9), CLOSEBOX=(52, 9), TXT_CNT=(136, 57))  # in the X window itself
MOUSE = dict(click=["click", "1"], right=["click", "3"], middle=["click", "2"], double=[],  # "drag": released off
             drag=["mousedown", "1", "mousemove_relative", "0", "90", "mouseup", "1"])  # the window
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def poll(what, fn, timeout=30):  # fn's first true value; without `what`, None when time is up
    deadline = time.monotonic() + timeout
    while not (value := fn()):
        if time.monotonic() > deadline:
            if what is None:
                return None
            raise AssertionError(f"timed out after {timeout}s waiting for {what() if callable(what) else what}")
        time.sleep(0.1)
    return value


def read(path):
    return pathlib.Path(path).read_bytes() if os.path.isfile(path) else None


class Display:  # Xvfb with openbox, and Wine's server when the program is an .exe
    def __init__(self):
        self.tmp, self.procs = tempfile.mkdtemp(prefix="tallimo-x-"), []
        self.env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        self.env.update(XDG_RUNTIME_DIR=self.tmp, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        with open(os.path.join(self.tmp, "display"), "w") as fd:
            self.spawn("Xvfb", "-displayfd", str(fd.fileno()), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                       pass_fds=[fd.fileno()])
        self.env["DISPLAY"] = ":" + poll("Xvfb", lambda: (read(fd.name) or b"").decode().strip(), 30)
        if PLATFORM == "W":
            self.env.update(LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
            self.wine("wineserver", "-k")
            self.wine("wine", "wineboot")
        # A key held down by a busy machine between its press and release must not repeat.
        self.xlib = xdisplay.Display(self.env["DISPLAY"])
        self.xlib.change_keyboard_control(auto_repeat_mode=X.AutoRepeatModeOff)
        self.xlib.sync()
        self.spawn("openbox", "--sm-disable")
        # Openbox answers before it manages windows: wait until a probe window gets managed.
        poll("openbox to manage a window", self.probe, 60)

    def spawn(self, *argv, **kw):
        self.procs.append(subprocess.Popen(argv, env=self.env, **QUIET, **kw))
        return self.procs[-1]

    def wine(self, *argv):  # Wine's background processes inherit our streams: never a pipe
        subprocess.run(argv, env=self.env, timeout=120, **QUIET)

    def probe(self):
        probe = self.spawn("xmessage", "-title", "probe", "ready")
        managed = poll(None, lambda: "probe" in str(self.windows()), 2)
        probe.kill()
        return managed

    def double_click(self):  # both clicks in one request batch: the X server stamps them together
        for event in (X.ButtonPress, X.ButtonRelease) * 2:
            xtest.fake_input(self.xlib, event, 1)
        self.xlib.sync()

    def run(self, *argv, raw=False):
        res = subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        return res.stdout if raw else res.stdout.decode(errors="replace").strip()

    def windows(self):  # (id, pid, title) of each window the window manager manages
        rows = [line.split(None, 4) + [""] for line in self.run("wmctrl", "-l", "-p").splitlines()]
        return [(int(r[0], 16), int(r[2]), r[4]) for r in rows]

    def stop(self):
        self.xlib.close()
        if PLATFORM == "W":
            self.wine("wineserver", "-k")
        for proc in reversed(self.procs):
            proc.kill()
            proc.wait()
        shutil.rmtree(self.tmp, ignore_errors=True)


class Scenario:
    def __init__(self, x, name, script, trees):
        self.x, self.name, self.trees, self.root = x, name, trees, tempfile.mkdtemp(prefix="tallimo-")
        self.day = FAKE_DAY if re.search(r"\b(at|clock)=", script) else datetime.date.today()
        self.procs, self.undo, self.win, self.main, self.tail, self.lines = [], [], None, None, b"", []
        self.said, self.marked, self.strip = {}, None, None
        self.script = [shlex.split(step) for step in script.split(";") if step.strip()]
        self.v_folder("prog")

    def run(self):
        try:
            for step in self.script:
                where, _, verb = step[0].rpartition(":")  # "L:verb" and "W:verb" are for one platform
                if where in ("", PLATFORM):
                    self.mouse(step[1:], *MOUSE[verb]) if verb in MOUSE else getattr(self, "v_" + verb)(*step[1:])
        except BaseException as e:
            self.v_shot("failure")
            err = b"".join(read(p.err) or b"" for p in self.procs).decode(errors="replace")
            raise AssertionError(f"step '{shlex.join(step)}': {e}\n--- program stderr ---\n{err}") from e
        finally:
            for proc in self.procs:
                proc.kill()
                proc.wait()
            poll(lambda: f"the windows to go: {self.x.windows()}", lambda: not self.x.windows())
            for command in self.undo:
                self.v_sh(command)
            shutil.rmtree(self.root)

    # ---- files --------------------------------------------------------------------------------
    def path(self, name):
        return os.path.join(self.dir, name)

    def v_folder(self, name):  # a copy of the program in a folder of its own, current from now on
        self.dir, self.exe = os.path.join(self.root, name), os.path.join(self.root, name, os.path.basename(BIN))
        if not os.path.exists(self.exe):
            os.makedirs(self.dir)
            shutil.copy2(BIN, self.exe)
            module = os.path.join(os.path.dirname(BIN), "tallimo-window.so")  # the Linux window
            if os.path.exists(module):
                shutil.copy2(module, self.dir)

    def v_sh(self, command, undo=None):  # in the program's folder; `undo` when the scenario ends
        subprocess.run(command, shell=True, cwd=self.dir, env=self.x.env, check=True, **QUIET)
        self.undo += [undo] * bool(undo)

    def values(self, pairs):  # field=number; a date is T (the program's today), T-1, T+1...
        day = (self.day - datetime.date(1899, 12, 30)).days
        return {k: float(day + int(v[1:] or 0)) if v[0] == "T" else int(v) for k, v in (p.split("=") for p in pairs)}

    def record(self):
        data = read(self.path("Cnt.arm")) or b""
        return dict(zip(FIELDS, RECORD.unpack(data[:20]))) if len(data) >= 20 else None

    def v_rec(self, *pairs):  # writes Cnt.arm; with no fields, spoils it with zeros
        fields = dict.fromkeys(FIELDS, 0) | self.values(pairs)
        self.tail = bytes(range(1, 1 + int(fields.pop("tail", 0))))
        with open(self.path("Cnt.arm"), "wb") as f:
            f.write(RECORD.pack(*(fields[k] for k in FIELDS)) + self.tail)

    def v_expect(self, *pairs):
        want = self.values(pairs)
        poll(lambda: f"Cnt.arm to hold {want}; it holds {self.record()}",
             lambda: (rec := self.record()) and all(rec[k] == v for k, v in want.items()))

    def v_size(self, name, size):
        data = read(self.path(name))
        assert data is not None and len(data) == int(size), f"{name} holds {data!r}"
        assert name != "Cnt.arm" or data[20:] == self.tail, "the bytes after the record changed"

    def v_wave(self):  # half a second of a square wave as the chime
        with wave.open(self.path("Chimes.wav"), "wb") as w:
            w.setparams((1, 2, 22050, 0, "NONE", ""))
            w.writeframes(b"".join(struct.pack("<h", (-1) ** (i // 25) * 12000) for i in range(11025)))
        self.chime = read(self.path("Chimes.wav"))

    def v_chime(self):  # it reached SDL's disk audio driver, and its file stayed as it was
        poll("sound in the disk audio file", lambda: any(read(os.path.join(self.root, "audio.raw")) or b""))
        assert read(self.path("Chimes.wav")) == self.chime, "the chime file changed"

    def v_clock(self, hms):  # sets the faked clock of a program started with clock=
        hms, _, days = hms.partition("+")
        day = FAKE_DAY + datetime.timedelta(int(days or 0))
        when = datetime.datetime.combine(day, datetime.time.fromisoformat(hms))
        with open(os.path.join(self.root, "clock"), "w") as f:
            f.write(f"{round(when.timestamp() - time.time()):+d}\n")

    # ---- processes --------------------------------------------------------------------------------
    def command(self, *opts, exe=None):  # argv and environment for a start with these options
        env, user, assign, args = dict(self.x.env), [], [], []
        for opt in opts:
            key, _, value = opt.partition("=")
            if key.startswith("--"):  # the program's own arguments
                args.append(opt)
            elif key == "at":
                assign += [f"{k}={v}" for k, v in FAKETIME.items()] + [f"FAKETIME=@{FAKE_DAY} {value}"]
            elif key == "clock":  # libfaketime reads the offset in the file at each clock reading
                self.v_clock(value)
                assign += [f"{k}={v}" for k, v in FAKETIME.items()] + ["FAKETIME_NO_CACHE=1"]
                assign.append("FAKETIME_TIMESTAMP_FILE=" + os.path.join(self.root, "clock"))
            elif key == "nobody":  # root ignores file modes
                os.makedirs(run := os.path.join(self.root, "run"), 0o700, exist_ok=True)
                shutil.chown(run, "nobody")
                os.chmod(self.root, 0o755)
                env.update(HOME=self.root, XDG_RUNTIME_DIR=run)
                user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
            elif key[0] == "-":
                env.pop(key[1:], None)
            else:
                assign.append(opt)
        # Through env, so that the program alone gets the faked clock; each execs, so the pid stays.
        return user + ["env", *assign] + ["wine"] * (PLATFORM == "W") + [exe or self.exe, *args], env

    def spawn(self, *opts, exe=None):
        argv, env = self.command(*opts, exe=exe)
        with open(os.path.join(self.root, f"err{len(self.procs)}"), "wb") as err:
            self.procs.append(subprocess.Popen(argv, cwd=self.root, env=env, stdin=subprocess.DEVNULL,
                                               stdout=subprocess.DEVNULL, stderr=err))
        self.procs[-1].err = err.name
        return self.procs[-1]

    def v_start(self, *opts):
        self.proc = self.spawn(*opts)

    def v_exit(self, status):
        assert self.proc.wait(30) == int(status), f"exit status {self.proc.returncode}"

    def v_cmd(self, status, *opts):  # runs the program to its end, e.g. "cmd 0 --count"; its output for `said`
        argv, env = self.command(*opts)
        res = subprocess.run(argv, cwd=self.root, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        self.said = dict(out=res.stdout.decode(errors="replace"), err=res.stderr.decode(errors="replace"))
        assert res.returncode == int(status), f"{shlex.join(opts)}: exit status {res.returncode}, {self.said}"

    def v_said(self, stream, pattern):  # the last cmd's stdout ("out") or stderr ("err") has a match
        assert re.search(pattern, self.said[stream], re.M), f"{pattern!r} not in {stream}: {self.said[stream]!r}"

    def stamp(self):  # what another start must leave alone: the record's bytes and time, and the windows
        record = self.path("Cnt.arm")
        return read(record), os.path.exists(record) and os.stat(record).st_mtime_ns, self.x.windows()

    def v_mark(self):
        self.marked = self.stamp()

    def v_unchanged(self):
        assert self.stamp() == self.marked, f"changed: {self.marked} -> {self.stamp()}"

    def v_stderr(self, *texts):  # a number is the count of lines
        err = read(self.proc.err).decode(errors="replace")
        for text in texts:
            assert (len(err.splitlines()) == int(text)) if text.isdigit() else text in err, err

    def v_signal(self, name):
        self.proc.send_signal(getattr(signal, "SIG" + name))

    def v_weston(self):  # a Wayland compositor beside the X server, as in a Wayland session
        self.x.spawn("weston", "--backend=headless-backend.so", "--socket=tallimo-wl")
        poll("weston", lambda: os.path.exists(os.path.join(self.x.tmp, "tallimo-wl")))

    def v_endsession(self):
        self.x.wine("wine", "wineboot", "--end-session")

    def v_second(self, *opts):  # a start from the folder of a running window ("link": through a link) hands over
        exe = self.exe
        if "link" in opts:
            os.symlink(self.dir, link := os.path.join(self.root, "link"))
            exe = os.path.join(link, os.path.basename(BIN))
        before, second = self.stamp(), self.spawn(*(o for o in opts if o != "link"), exe=exe)
        assert second.wait(30) == 0, f"the second start ended with {second.returncode}"
        assert self.stamp() == before, f"the second start changed the record or the windows: {before} -> {self.stamp()}"
        poll("the first window to come back", lambda: "_HIDDEN" not in self.prop("_NET_WM_STATE"))

    # ---- windows ---------------------------------------------------------------------------------------
    def wait(self, what, match):
        def find():
            assert self.proc.poll() is None, f"the program ended ({self.proc.returncode}) waiting for {what}"
            return next((w for w, pid, t in self.x.windows() if match(pid, t)), None)
        return poll(lambda: f"{what}; windows {self.x.windows()}", find)

    def v_main(self):
        self.win = self.main = self.wait("the main window", lambda pid, t: pid == self.proc.pid and MAIN.match(t))
        poll("the main window to show", lambda: "IsViewable" in self.x.run("xwininfo", "-id", str(self.win)))

    def v_box(self, title):  # "*" is any window but a main window
        title = TITLES.get(title, title)
        self.win = self.wait(title, lambda pid, t: t == title or title == "*" and not MAIN.match(t))

    def v_gone(self):
        poll("the window to close", lambda: self.win not in [w for w, *_ in self.x.windows()])
        self.win = self.main

    def v_answer(self, title, *keys):
        self.v_box(title)
        self.v_keys(*(keys or ["Return"]))
        self.v_gone()

    def title(self):
        return next((t for w, _, t in self.x.windows() if w == self.win), None)

    def v_title(self, title):
        poll(lambda: f"the title {title}; it is {self.title()}", lambda: self.title() == title)

    def prop(self, name):
        return self.x.run("xprop", "-id", str(self.win), name)

    def v_prop(self, name, *values):
        poll(lambda: f"{values} in {self.prop(name)}", lambda: all(value in self.prop(name) for value in values))

    def geometry(self):
        info = self.x.run("xwininfo", "-id", str(self.win))
        keys = ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")
        return [int(re.search(k + r":\s+(-?\d+)", info)[1]) for k in keys]

    def v_geom(self, *xywh):  # "-" for any
        poll(lambda: f"the geometry {xywh}; it is {self.geometry()}",
             lambda: all(want in ("-", str(got)) for want, got in zip(xywh, self.geometry())))

    def v_close(self):
        self.x.run("wmctrl", "-i", "-c", str(self.win))

    def v_sync(self):  # a round trip through the window manager: it has handled what we asked before
        self.x.run("wmctrl", "-i", "-r", str(self.win), "-b", "add,skip_pager")
        poll("openbox", lambda: "_SKIP_PAGER" in self.prop("_NET_WM_STATE"))

    def v_minimize(self):
        self.x.run("xdotool", "windowminimize", str(self.win))
        poll("the window to be minimised", lambda: "_HIDDEN" in self.prop("_NET_WM_STATE"))

    def v_shot(self, name):
        self.x.run("import", "-window", "root", os.path.join(SHOTS, f"{self.name}.{name}.png"))

    def v_ticked(self):  # the clock has ticked: the caption shows a time
        poll(lambda: f"the first clock tick; the title is {self.title()}", lambda: re.match(r"\d\d:\d\d$", self.title()))

    def v_strip(self):  # the own caption strip shows light text on a dark strip, another from the last look
        def shown():
            pixels = self.x.run("import", "-window", "root", "-crop", "40x12+4+3", "-depth", "8", "gray:-", raw=True)
            light = sorted(pixels)
            return pixels != self.strip and light[-1] > 200 and light[-1] - light[len(light) // 2] > 80 and pixels
        self.strip = poll("light text on a dark strip, another than before", shown)

    # ---- input ----------------------------------------------------------------------------------------
    def mouse(self, points, *action):  # points in the client area, or in the X window for OUTER ones
        for point in points:
            width, height = self.geometry()[2:]
            left = (width - 56) // 2  # a frame around the 56 x 40 client area: even sides, caption on top
            x, y = OUTER.get(point) or (CLIENT[point][0] + left, CLIENT[point][1] + height - 40 - left)
            self.x.run("xdotool", "mousemove", "--window", str(self.win), str(x), str(y), *action)
            if not action:  # a double click, whatever the machine's pace
                self.x.double_click()

    def v_movestrip(self):  # drags the caption strip until the window follows the pointer
        def moved():
            self.x.run("xdotool", "mousemove_relative", "4", "3")
            return self.geometry()[0] > 20
        self.mouse(["STRIP"], "mousedown", "1")
        poll("the window to follow the pointer", moved)
        self.x.run("xdotool", "mouseup", "1")

    def v_keys(self, *keys, verb="key"):
        # What openbox calls active and the X input focus: ids are reused, so one alone may be stale.
        focus = lambda: [self.x.run("xdotool", "get" + w) for w in ("activewindow", "windowfocus")]
        poll(lambda: f"window {self.win} to have the focus; it is on {focus()}", lambda: focus() == [str(self.win)] * 2)
        self.x.run("xdotool", verb, "--delay", "60", *keys)

    def v_type(self, text):
        self.v_keys(text, verb="type")

    # ---- what a screen reader gets through AT-SPI -------------------------------------------------------
    def atspi(self):
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi, GLib
        GLib.MainContext.default().iteration(False)
        return Atspi

    def dump(self, node, path=""):  # a line per object: names from the window down, role, description
        path += "/" + node.get_name()
        lines = [f"{path} [{node.get_role_name()}] {node.get_description()}".rstrip()]
        children = (node.get_child_at_index(i) for i in range(node.get_child_count()))
        return lines + [line for child in children for line in self.dump(child, path)]

    def v_tree(self, name):  # the program's accessible tree has a line holding each of TREES[name]
        def complete():
            desktop = self.atspi().get_desktop(0)
            apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
            self.lines = [line for app in apps if app.get_process_id() == self.proc.pid for line in self.dump(app)]
            return all(any(want in line for line in self.lines) for want in self.trees[name])
        try:
            poll(f"the accessible tree to hold {self.trees[name]}", complete)
        finally:  # kept for reading
            print(f"\n--- accessible tree {name} ---", *self.lines, sep="\n")
            with open(os.path.join(SHOTS, f"{self.name}.{name}.txt"), "w") as f:
                print(*self.lines, sep="\n", file=f)

    def v_listen(self):  # what a screen reader hears: description changes, and objects that show
        atspi, self.heard = self.atspi(), set()

        def hear(event):  # the event, its object's role and name, and for a description, it and the focus
            kind, obj = event.type.split(":")[-1], event.source
            focused = obj.get_state_set().contains(atspi.StateType.FOCUSED)
            said = () if kind == "showing" else (obj.get_description(), focused)
            self.heard.add((kind, obj.get_role_name(), obj.get_name(), *said))
        self.ear = atspi.EventListener.new(hear)
        for event in ("object:property-change:accessible-description", "object:state-changed:showing"):
            self.ear.register(event)

    def v_spoken(self, text):  # the focused count button says `text`, and so does a notification that shows
        said = {("accessible-description", "push button", "Tallimo!!", text, True), ("showing", "notification", text)}
        poll(lambda: f"{said}; heard {self.heard}", lambda: self.atspi() and said <= self.heard)


def suite(rows, trees):  # a test per row for this platform, all on one display; rows: name="PLATFORMS: script"
    class Rows(unittest.TestCase):
        @classmethod
        def setUpClass(cls):
            assert os.path.isfile(BIN), f"TALLIMO_BIN must name the built program (got {BIN!r})"
            os.makedirs(SHOTS, exist_ok=True)
            cls.x = Display()

        @classmethod
        def tearDownClass(cls):
            cls.x.stop()

    for name, row in rows.items():
        where, _, script = row.partition(":")
        if PLATFORM in where:
            setattr(Rows, "test_" + name, lambda self, n=name, s=script: Scenario(self.x, n, s, trees).run())
    return Rows
