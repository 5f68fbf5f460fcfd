# A desk to drive the real program on: Xvfb with openbox as it comes (keyboard auto-repeat
# as the server has it), real mouse and keys through XTEST, and the window properties, pixels,
# accessible tree and files read back as raw data. The same steps drive the Linux binary and,
# when TALLIMO_BIN names tallimo.exe, the Windows one under Wine.
#
# This is plumbing only: the verbs that compare what they read live with the rows, in
# tests/system/verbs.py, and subclass Session.
#
# A scenario is a script, "verb arg arg; verb ...". Every step waits for what it needs with a
# deadline: clicks go only into a window that is mapped. No step races the program's start or
# its clock: events on the faked clock are reached by moving the clock (clock=, then "clock")
# once the window is up, never by starting just before them.
import datetime
import os
import pathlib
import re
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import wave

from Xlib import X, display as xdisplay  # python3-xlib
from Xlib.ext import xtest

BIN = os.path.abspath(os.environ.get("TALLIMO_BIN", ""))
PLATFORM = "W" if BIN.endswith(".exe") else "L"
SHOTS = os.environ.get("TALLIMO_SHOTS") or tempfile.gettempdir()
FAKETIME = dict(
    LD_PRELOAD="/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
    FAKETIME_DONT_FAKE_MONOTONIC="1",
)
FAKE_DAY = datetime.date(2030, 5, 17)  # not today, so that a program reading the real clock shows
RECORD = struct.Struct("<dhhhhhh")
FIELDS = ("saved", "count", "goal", "alarm", "hour", "minute", "lap")
MAIN = re.compile(r"(Form1|\d\d:\d\d)$")
CLIENT = dict(LABEL=(19, 9), SET=(48, 9), COUNT=(28, 30), BLANK=(39, 10), LOW=(48, 19))
# In the X window itself; TXT_CNT_LEFT is in the count box too, but too far off for a double click.
OUTER = dict(STRIP=(20, 9), CLOSEBOX=(52, 9), TXT_CNT=(136, 57), TXT_CNT_LEFT=(112, 57))
MOUSE = dict(  # "drag", "lift", "middle": released 90 px away; "double": see Desk.double_click
    click=["click", "1"],
    right=["click", "3"],
    middle=["mousedown", "2", "mousemove_relative", "90", "0", "mouseup", "2"],
    double=[],
    drag=["mousedown", "1", "mousemove_relative", "0", "90", "mouseup", "1"],
    lift=["mousedown", "1", "mousemove_relative", "--", "-90", "0", "mouseup", "1"],
)
ALSA_FILE = 'pcm.!default {type file slave.pcm {type null} file "%s" format raw}\n'
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
README = pathlib.Path(__file__).resolve().parents[1] / "README.md"
SCREEN = (1024, 768)  # the virtual screen's width and height
PANEL = """import sys
from Xlib import X, Xatom, display
x0, x1, h = map(int, sys.argv[1:4])
own = sys.argv[4:] == ["own"]
d = display.Display(); s = d.screen(); a = d.intern_atom
w = s.root.create_window(x0, 0, x1 - x0 + 1, h, 0, s.root_depth, X.InputOutput, X.CopyFromParent,
                         background_pixel=0x3366CC, override_redirect=own)
if own:
    w.change_property(a("_NET_WM_STRUT"), Xatom.CARDINAL, 32, [x1 + 1, 0, 0, 0])
else:
    w.change_property(a("_NET_WM_WINDOW_TYPE"), Xatom.ATOM, 32, [a("_NET_WM_WINDOW_TYPE_DOCK")])
    w.change_property(a("_NET_WM_STRUT_PARTIAL"), Xatom.CARDINAL, 32, [0, 0, h] + [0] * 5 + [x0, x1, 0, 0])
w.set_wm_name("panel")
w.set_wm_normal_hints(flags=1 | 4, x=x0, y=0)  # placed where it asks to be
w.map()
while True:
    d.next_event()
"""  # a dock at the top of the screen between x0 and x1, h pixels high; "own": at the left from
# x0 to x1, a window manager's own panel, which is in no client list and has only the old strut
OTHER = """import gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
w = Gtk.Window(title="other")
w.add(Gtk.Entry())
w.show_all()
Gtk.main()
"""  # another program, one a screen reader knows, for the focus to be in


def poll(what, fn, timeout=30):  # fn's first true value; without `what`, None when time is up
    deadline = time.monotonic() + timeout
    while not (value := fn()):
        if time.monotonic() > deadline:
            if what is None:
                return None
            what = what() if callable(what) else what
            raise AssertionError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(0.1)
    return value


def read(path):
    return pathlib.Path(path).read_bytes() if os.path.isfile(path) else None


class Desk:  # Xvfb with openbox, and Wine's server when the program is an .exe
    def __init__(self):
        self.tmp, self.procs = tempfile.mkdtemp(prefix="tallimo-x-"), []
        drop = ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM")
        self.env = {k: v for k, v in os.environ.items() if k not in drop}
        self.env.update(XDG_RUNTIME_DIR=self.tmp, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        with open(os.path.join(self.tmp, "display"), "w") as fd:
            self.spawn(
                "Xvfb", "-displayfd", str(fd.fileno()), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
                "-nolisten", "tcp", pass_fds=[fd.fileno()],
            )  # fmt: skip
        self.env["DISPLAY"] = ":" + poll("Xvfb", lambda: (read(fd.name) or b"").decode().strip())
        if PLATFORM == "W":
            self.env.update(LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
            self.wine("wineserver", "-k")
            self.wine("wine", "wineboot")
        self.xlib = xdisplay.Display(self.env["DISPLAY"])
        # What a screen reader switches on stays on this bus, off the disk; a desk
        # without a session bus (the soak) has no screen reader to switch on.
        if PLATFORM == "L" and os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
            subprocess.run(["dbus-update-activation-environment", "GSETTINGS_BACKEND=memory"],
                           check=True, **QUIET)  # fmt: skip
        self.spawn("openbox", "--sm-disable", "--config-file", self.openbox_config())
        # Openbox answers before it manages windows: wait until a probe window gets managed.
        poll("openbox to manage a window", self.probe, 60)

    def openbox_config(self):  # its own, with the README's key bindings; their program a link
        self.shortcut = os.path.join(self.tmp, "bin", "tallimo")  # in a row: Session.v_link
        text = README.read_text(encoding="utf-8").replace(
            "/home/you/.local/bin/tallimo", self.shortcut
        )
        binds = re.findall(r"^ *(<keybind key=\"([^\"]+)\">.*?</keybind>)", text, re.M | re.S)
        mods = dict(C="ctrl", A="alt", S="shift", W="super")
        self.bindings = ["+".join(mods.get(k, k) for k in key.split("-")) for _, key in binds]
        rc = pathlib.Path("/etc/xdg/openbox/rc.xml").read_text(encoding="utf-8")
        rc = rc.replace("<keyboard>", "<keyboard>" + "".join(b for b, _ in binds), 1)
        pathlib.Path(path := os.path.join(self.tmp, "rc.xml")).write_text(rc, encoding="utf-8")
        return path

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
        res = subprocess.run(
            argv, env=self.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=30
        )
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


class Session:  # one scenario: a folder with a copy of the program, and the steps' plumbing
    titles = {}  # short names for window titles in `box`

    def __init__(self, x, name, script, trees):
        self.x, self.name, self.trees = x, name, trees
        self.root = tempfile.mkdtemp(prefix="tallimo-")
        self.day = FAKE_DAY if re.search(r"\b(at|clock)=", script) else datetime.date.today()
        self.procs, self.undo, self.win, self.main, self.said = [], [], None, None, {}
        self.script = [shlex.split(step) for step in script.split(";") if step.strip()]
        self.v_folder("prog")

    def run(self):
        try:
            for step in self.script:
                where, _, verb = step[0].rpartition(":")  # "L:verb" and "W:verb": one platform
                if where in ("", PLATFORM):
                    if verb in MOUSE:
                        self.mouse(step[1:], *MOUSE[verb])
                    else:
                        getattr(self, "v_" + verb)(*step[1:])
        except BaseException as e:
            self.v_shot("failure")
            err = b"".join(read(p.err) or b"" for p in self.procs).decode(errors="replace")
            raise AssertionError(f"step '{shlex.join(step)}': {e}\n--- stderr ---\n{err}") from e
        finally:
            for proc in self.procs:
                proc.kill()
                proc.wait()
            poll(lambda: f"the windows to go: {self.x.windows()}", lambda: not self.x.windows())
            for command in self.undo:
                self.v_sh(command)
            shutil.rmtree(self.root)

    # ---- files ------------------------------------------------------------------------------
    def path(self, name):
        return os.path.join(self.dir, name)

    # The program alone copied to a folder of its own, as the README's second counter; current
    # from now on. The Linux one finds its window module where it was built.
    def v_folder(self, name):
        self.dir = os.path.join(self.root, name)
        self.exe = os.path.join(self.dir, os.path.basename(BIN))
        if not os.path.exists(self.exe):
            os.makedirs(self.dir)
            shutil.copy2(BIN, self.exe)

    def v_sh(self, command, undo=None):  # in the program's folder; `undo` when the scenario ends
        subprocess.run(command, shell=True, cwd=self.dir, env=self.x.env, check=True, **QUIET)
        self.undo += [undo] * bool(undo)

    def values(self, pairs):  # field=number; a date is T (the program's today), T-1, T+1...
        day = (self.day - datetime.date(1899, 12, 30)).days
        pairs = (p.split("=") for p in pairs)
        return {k: float(day + int(v[1:] or 0)) if v[0] == "T" else int(v) for k, v in pairs}

    def record(self):
        data = read(self.path("Cnt.arm")) or b""
        return dict(zip(FIELDS, RECORD.unpack(data[:20]))) if len(data) >= 20 else None

    def v_rec(self, *pairs):  # writes Cnt.arm; with no fields, spoils it with zeros
        fields = dict.fromkeys(FIELDS, 0) | self.values(pairs)
        with open(self.path("Cnt.arm"), "wb") as f:
            f.write(RECORD.pack(*(fields[k] for k in FIELDS)))

    def v_wave(self):  # half a second of a square wave as the chime
        with wave.open(self.path("Chimes.wav"), "wb") as w:
            w.setparams((1, 2, 22050, 0, "NONE", ""))
            w.writeframes(
                b"".join(struct.pack("<h", (-1) ** (i // 25) * 12000) for i in range(11025))
            )
        self.chime = read(self.path("Chimes.wav"))

    def v_clock(self, hms):  # sets the faked clock of a program started with clock=
        hms, _, days = hms.partition("+")
        day = FAKE_DAY + datetime.timedelta(int(days or 0))
        when = datetime.datetime.combine(day, datetime.time.fromisoformat(hms))
        with open(os.path.join(self.root, "clock"), "w") as f:
            f.write(f"{round(when.timestamp() - time.time()):+d}\n")

    def stamp(self):  # the record's bytes and time, and the windows
        record = self.path("Cnt.arm")
        return (
            read(record),
            os.path.exists(record) and os.stat(record).st_mtime_ns,
            self.x.windows(),
        )

    # ---- processes --------------------------------------------------------------------------
    def command(self, *opts, exe=None):  # argv and environment for a start with these options
        env, shell, user, assign, args, tty = dict(self.x.env), [], [], [], [], False
        if PLATFORM == "L":  # as on a fresh machine, no row finds what another left in /tmp
            env["TMPDIR"] = self.root  # (not Wine's: with their own, its programs did not end)
        for opt in opts:
            key, _, value = opt.partition("=")
            if key.startswith("--"):  # the program's own arguments
                args.append(opt)
            elif key == "at":
                assign += [f"{k}={v}" for k, v in FAKETIME.items()]
                assign.append(f"FAKETIME=@{FAKE_DAY} {value}")
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
            elif opt == "audio" and PLATFORM == "L":  # the chime into audio.raw
                assign += ["SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=audio.raw"]
            elif opt == "audio":  # Wine's ALSA driver, off elsewhere, into ALSA's file plugin
                with open(conf := os.path.join(self.root, "asound.conf"), "w") as f:
                    f.write(ALSA_FILE % os.path.join(self.root, "audio.raw"))
                overrides = env.get("WINEDLLOVERRIDES", "").replace("winealsa.drv,", "")
                assign += [f"ALSA_CONFIG_PATH={conf}", f"WINEDLLOVERRIDES={overrides}"]
            elif opt == "tty":  # output to a terminal, which Wine makes a console of
                tty = True
            elif opt == "<&-":  # started with standard input closed, as some launchers do
                shell = ["sh", "-c", 'exec "$@" <&-', "sh"]
            elif key[0] == "-":
                env.pop(key[1:], None)
            else:
                assign.append(opt)
        # Through env, so that the program alone gets the faked clock; each execs: the pid stays.
        wine = ["wine"] * (PLATFORM == "W")
        argv = shell + user + ["env", *assign] + wine + [exe or self.exe, *args]
        return (["script", "-qec", shlex.join(argv), "/dev/null"] if tty else argv), env

    def spawn(self, *opts, exe=None):
        argv, env = self.command(*opts, exe=exe)
        with open(os.path.join(self.root, f"err{len(self.procs)}"), "wb") as err:
            self.procs.append(
                subprocess.Popen(
                    argv, cwd=self.root, env=env, stdin=subprocess.DEVNULL,
                    stdout=subprocess.DEVNULL, stderr=err,
                )  # fmt: skip
            )
        self.procs[-1].err = err.name
        return self.procs[-1]

    def v_start(self, *opts):
        self.proc = self.spawn(*opts)

    def finish(self, *opts):  # runs the program to its end; its output in self.said
        argv, env = self.command(*opts)
        res = subprocess.run(
            argv, cwd=self.root, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=30
        )
        self.said = {k: getattr(res, "std" + k).decode(errors="replace") for k in ("out", "err")}
        return res.returncode

    def v_signal(self, name):
        self.proc.send_signal(getattr(signal, "SIG" + name))

    # A window manager's own panel over the top `rows` that only its work area tells of, as a
    # shell's top bar: no window, no strut. When the scenario ends, with its panels gone, the
    # work area is the whole screen again.
    def v_workarea(self, rows):
        desktops = self.x.run("xprop", "-root", "_NET_WORKAREA").count(",") // 4 + 1
        put = lambda top: "xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA " + ",".join(
            [f"0,{top},{SCREEN[0]},{SCREEN[1] - top}"] * desktops
        )
        self.v_sh(put(int(rows)), put(0))

    def v_panel(self, *args):  # see PANEL
        panels = lambda: self.x.run("xwininfo", "-root", "-tree").count('"panel"')
        area = lambda: self.x.run("xprop", "-root", "_NET_WORKAREA")
        before, had = panels(), area()
        self.helper([sys.executable, "-c", PANEL, *args])
        poll("the panel", lambda: panels() > before)
        if "own" not in args:  # a dock: once openbox has taken it out of its work area
            poll("openbox's work area", lambda: area() != had)

    # The program for a second start and the options left: "link" starts it through a link to
    # its folder, "upper" by its Windows path in capitals.
    def second_exe(self, opts):
        exe = self.exe
        if "link" in opts:
            os.symlink(self.dir, link := os.path.join(self.root, "link"))
            exe = os.path.join(link, os.path.basename(self.exe))
        if "upper" in opts:
            exe = "Z:" + exe.replace("/", "\\").upper()
        return exe, [o for o in opts if o not in ("link", "upper")]

    def v_link(self):  # the key bindings' program is this row's
        os.makedirs(os.path.dirname(self.x.shortcut), exist_ok=True)
        os.symlink(self.exe, self.x.shortcut)
        self.undo.append(f"rm {shlex.quote(self.x.shortcut)}")

    def v_weston(self):  # a Wayland compositor beside the X server, as in a Wayland session
        self.x.spawn("weston", "--backend=headless-backend.so", "--socket=tallimo-wl")
        poll("weston", lambda: os.path.exists(os.path.join(self.x.tmp, "tallimo-wl")))

    def v_endsession(self):
        self.x.wine("wine", "wineboot", "--end-session")

    # ---- windows ----------------------------------------------------------------------------
    def wait(self, what, match):
        def find():
            ended = self.proc.poll()
            assert ended is None, f"the program ended ({ended}) waiting for {what}"
            return next((w for w, pid, t in self.x.windows() if match(pid, t)), None)

        return poll(lambda: f"{what}; windows {self.x.windows()}", find)

    def v_main(self):
        match = lambda pid, t: pid == self.proc.pid and MAIN.match(t)
        self.win = self.main = self.wait("the main window", match)
        viewable = lambda: "IsViewable" in self.x.run("xwininfo", "-id", str(self.win))
        poll("the main window to show", viewable)

    def v_box(self, title):  # "*" is any window but a main window
        title = self.titles.get(title, title)
        match = lambda pid, t: t == title or title == "*" and not MAIN.match(t)
        self.win = self.wait(title, match)

    def v_gone(self):
        poll("the window to close", lambda: self.win not in [w for w, *_ in self.x.windows()])
        self.win = self.main

    def v_answer(self, title, *keys):
        self.v_box(title)
        self.v_keys(*(keys or ["Return"]))
        self.v_gone()

    def title(self):
        return next((t for w, _, t in self.x.windows() if w == self.win), None)

    def prop(self, name):
        return self.x.run("xprop", "-id", str(self.win), name)

    def geometry(self, win=None):
        info = self.x.run("xwininfo", "-id", str(win or self.win))
        keys = ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")
        return [int(re.search(k + r":\s+(-?\d+)", info)[1]) for k in keys]

    def pixels(self):  # the window's pixels on screen, 8-bit RGB, no button lit by the pointer
        self.x.run("xdotool", "mousemove", *(str(n - 1) for n in SCREEN))
        crop = "{2}x{3}+{0}+{1}".format(*self.geometry())
        return self.x.run(
            "import", "-window", "root", "-crop", crop, "-depth", "8", "rgb:-", raw=True
        )

    def minimize_synced(self):  # as the window manager's button does, and once it has done it
        self.x.run("xdotool", "windowminimize", str(self.win))
        # Openbox takes requests in order: once the window is above, it was minimised.
        self.x.run("wmctrl", "-i", "-r", str(self.win), "-b", "add,above")
        poll("openbox", lambda: "_ABOVE" in self.prop("_NET_WM_STATE"))

    def focus(self):  # what openbox calls active and the X input focus
        return [self.x.run("xdotool", "get" + w) for w in ("activewindow", "windowfocus")]

    def has_focus(self, win):  # ids are reused, so either alone may be stale
        return self.focus() == [str(win)] * 2

    def helper(self, argv, env=None):  # another program beside this row's, ended with it
        self.procs.append(subprocess.Popen(argv, env=env or self.x.env, **QUIET))
        self.procs[-1].err = os.devnull

    def v_close(self):
        self.x.run("wmctrl", "-i", "-c", str(self.win))

    def v_sync(
        self,
    ):  # a round trip through the window manager: it has handled what we asked before
        self.x.run("wmctrl", "-i", "-r", str(self.win), "-b", "add,skip_pager")
        poll("openbox", lambda: "_SKIP_PAGER" in self.prop("_NET_WM_STATE"))

    def v_minimize(self):
        self.x.run("xdotool", "windowminimize", str(self.win))
        poll("the window to be minimised", lambda: "_HIDDEN" in self.prop("_NET_WM_STATE"))

    def v_shot(self, name):
        self.x.run("import", "-window", "root", os.path.join(SHOTS, f"{self.name}.{name}.png"))

    # ---- input ------------------------------------------------------------------------------
    def mouse(self, points, *action):  # points in the client area, or in the X window for OUTER
        for point in points:
            width, height = self.geometry()[2:]
            left = (width - 56) // 2  # a frame around the 56 x 40 client area, caption on top
            x, y = OUTER.get(point) or (
                CLIENT[point][0] + left,
                CLIENT[point][1] + height - 40 - left,
            )
            self.x.run("xdotool", "mousemove", "--window", str(self.win), str(x), str(y), *action)
            if not action:  # a double click, whatever the machine's pace
                self.x.double_click()

    def v_keys(self, *keys, verb="key"):
        self.x.run("xdotool", verb, "--delay", "60", *keys)

    def v_type(self, text):
        self.v_keys(text, verb="type")

    def v_hold(self, key, seconds):  # held down that long, as the X server repeats it
        self.v_press(key)
        time.sleep(float(seconds))
        self.v_release(key)

    def v_press(self, key):  # held down until `release`, which may come in another window
        self.v_keys(key, verb="keydown")

    def v_release(self, key):
        self.x.run("xdotool", "keyup", key)

    # ---- what a screen reader gets through AT-SPI -------------------------------------------
    def atspi(self):
        import gi

        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi, GLib

        GLib.MainContext.default().iteration(False)
        return Atspi

    def dump(
        self, node, path=""
    ):  # a line per object: names from the window down, role, description
        path += "/" + node.get_name()
        lines = [f"{path} [{node.get_role_name()}] {node.get_description()}".rstrip()]
        children = (node.get_child_at_index(i) for i in range(node.get_child_count()))
        return lines + [line for child in children for line in self.dump(child, path)]

    def tree(self):  # the program's accessible objects, a line each
        desktop = self.atspi().get_desktop(0)
        apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
        return [
            line for app in apps if app.get_process_id() == self.proc.pid for line in self.dump(app)
        ]

    def v_orca(self):  # the screen reader, its log read as it writes; no speech server here
        prefs, self.orca = (os.path.join(self.root, name) for name in ("orca", "orca.log"))
        self.spoke = 0
        os.makedirs(prefs)
        with open(os.path.join(prefs, "orca-customizations.py"), "w") as f:
            f.write("import orca.debug\norca.debug.debugFile.reconfigure(line_buffering=True)\n")
        home = dict(HOME=prefs, XDG_CONFIG_HOME=prefs, XDG_DATA_HOME=prefs, XDG_CACHE_HOME=prefs)
        argv = ["orca", "-d", "speech", "-d", "braille", "-u", prefs, "--debug-file", self.orca]
        self.helper(argv, env=self.x.env | home)
        poll("Orca", lambda: b"Startup complete" in (read(self.orca) or b""))
        for prop in ("IsEnabled", "ScreenReaderEnabled"):  # as Orca found them, for the next rows
            self.undo.append(
                "dbus-send --session --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus."
                f"Properties.Set string:org.a11y.Status string:{prop} variant:boolean:false"
            )

    def log(self):  # what Orca has logged since the last thing heard
        return (read(self.orca) or b"").decode(errors="replace")[self.spoke :]

    def press_bindings(self, times):  # each of the README's key bindings, so many times
        for key, n in zip(self.x.bindings, times):
            for _ in range(int(n)):
                self.x.run("xdotool", "key", key)

    def v_other(self):  # another program's window takes the focus
        self.helper([sys.executable, "-c", OTHER])
        self.other = self.wait("another window", lambda pid, title: title == "other")
        poll(lambda: f"the other window to be active: {self.focus()}",
             lambda: self.has_focus(self.other))  # fmt: skip


def suite(rows, trees, scenario):  # a test per row for this platform, all on one display
    class Rows(unittest.TestCase):  # rows: name="PLATFORMS: script"
        @classmethod
        def setUpClass(cls):
            assert os.path.isfile(BIN), f"TALLIMO_BIN must name the built program (got {BIN!r})"
            os.makedirs(SHOTS, exist_ok=True)
            cls.x = Desk()

        @classmethod
        def tearDownClass(cls):
            cls.x.stop()

    for name, row in rows.items():
        where, _, script = row.partition(":")
        if PLATFORM in where:
            test = lambda self, n=name, s=script: scenario(self.x, n, s, trees).run()
            setattr(Rows, "test_" + name, test)
    return Rows
