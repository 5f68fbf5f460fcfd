# What only the real program on a real X server shows, as rows of steps: the verbs that
# compare are in verbs.py, the others in scripts/xdesk.py. A row is "PLATFORMS: steps",
# L the Linux binary, W tallimo.exe under Wine; "L:verb" is a step for one of them.
import unittest

from verbs import Scenario, xdesk

NOW = "at=10:20:00"  # no alarm and no full hour in the next minutes
SAVED = "saved=T count=7 goal=9 alarm=-1 hour=6 minute=30 lap=-1"
NOON = "rec saved=T-1 alarm=-1 hour=12 minute=0"
CLOSE = "close; answer SUMMARY; exit 0"
# Started long before the alarm and left for another program; the clock goes to just before it.
TO_NOON = "main; title ticked; other; clock 11:59:58"
# The rest of a start whose chime cannot be read: reported at the alarm, then the alarm shows.
CHIME_AT_NOON = f"clock=11:00:00; {TO_NOON}; answer ERROR; answer ALARM"
DPI = r'"HKCU\Control Panel\Desktop" /v LogPixels'  # in Wine's registry, read as a program starts

ROWS = dict(
    # Moved by its strip, the window takes the settings dialog with it: on Windows our code centres
    # the dialog over it (on Linux Qt does, by the frames that it guesses).
    caption="LW: start clock=23:58; main; L:geom 0 0 62 61; prop _NET_WM_STATE _ABOVE _SKIP_TASKBAR;"
    "prop _NET_FRAME_EXTENTS '= 0, 0, 0, 0'; L:prop WM_CLASS '\"Tallimo\"'; prop _NET_WM_ICON '32 x 32';"
    "L:prop WM_NORMAL_HINTS 'minimum size: 62 by 61' 'maximum size: 62 by 61'; clock 23:58:30;"
    "title 23:58; L:look d488341c70b5; W:look 84e35afe3a49; clock 23:59:30; title 23:59;"
    "L:look b6b1be6197ed; W:look a78367dc120a; movestrip 300; click SET; box SETTINGS; W:over;"
    "close; gone; click CLOSEBOX; answer SUMMARY; exit 0",
    # At 144 dpi the window, its controls and its fonts are half as large again.
    high_dpi=f"W: sh 'wine reg add {DPI} /t REG_DWORD /d 144 /f' 'wine reg delete {DPI} /f';"
    f"start {NOW}; main; title 10:20; geom 2 0 90 90; look e50472ed2cb1",
    # At 0 a right press changes nothing; on a button it counts down, elsewhere either button counts up.
    # A press moved off before the release, and the middle button, count nothing (nor does the
    # middle button move the window by its strip). A double click counts twice on a button, once
    # elsewhere. A clicked button has the focus, so Return presses it. Nothing goes wrong, so
    # nothing is said.
    mouse="LW: start; main; right COUNT SET; click LABEL; expect count=1; click COUNT BLANK LOW;"
    "right LABEL BLANK LOW; expect count=7; right COUNT SET; middle LABEL COUNT SET BLANK STRIP;"
    "geom 0 -; drag COUNT; click BLANK; expect count=6; double LABEL BLANK; expect count=8;"
    "double COUNT; expect count=10; keys Tab; click COUNT; keys Return; expect count=12; stderr 0",
    # Keys right after start, with no click first; a right press on "!" leaves the focus where it is.
    # Where the frame goes with a taller caption is the Win32 tests' to check, through Windows itself.
    keys=f"LW: start {NOW}; main; keys space Return; expect count=2; W:look 7122359c6b77; right SET;"
    "expect count=1; keys space; expect count=2; keys alt+F4; box SUMMARY; shot summary;"
    "L:look bb15516d0cab; W:look f3cd9022afd1; keys Return; exit 0; size Cnt.arm 20;"
    "expect saved=T count=2 goal=0 alarm=0 hour=0 minute=0 lap=0",
    # A held key is one press, at the server's default repeat rate and at a fast one; one let go
    # in another program is not held when the window has the focus again.
    held_keys=f"LW: start {NOW}; main; hold space 2; hold Return 2; expect count=2;"
    "press Return; other; release Return; click LABEL; keys Return;"
    "sh 'xset r rate 200 40' 'xset r rate'; hold space 2; keys Tab Tab Tab; hold Return 2; box SETTINGS;"
    "hold Escape 1; close; gone; expect count=6",
    # After a box or the dialog the next key goes to the button that had the focus: a box
    # raised by counting leaves it on the count button, the dialog on "!".
    keys_after_a_modal_window=f"LW: rec saved=T count=32767; start {NOW}; answer RESTORE y; main;"
    "keys space; answer ERROR; keys space; answer ERROR; keys Tab space; box SETTINGS;"
    "keys Tab Tab Tab Tab Return; gone; keys space; box SETTINGS; keys Tab Tab Tab Tab Tab Return;"
    "gone; keys space; box SETTINGS; close; gone; keys space; box SETTINGS",
    # Escape and the close box leave the question open; afterwards the window has the focus again.
    # A second start, here through a link to the folder, leaves the question to the first.
    restore_yes=f"LW: rec {SAVED}; start {NOW}; box RESTORE; shot question; L:look 847f2375ff95;"
    "W:look eff7cd049b04; second link; keys Escape; close; sync; keys y; gone; main; keys Return;"
    f"expect count=8 goal=9; {CLOSE}; expect {SAVED} count=8",
    # The spoilt file can only come back through a save at the end of the session.
    **{
        f"signal_{sig}": f"L: rec {SAVED} saved=T-3; start {NOW}; main; click COUNT LABEL;"
        f"expect count=2; rec; signal {sig}; exit 0; expect {SAVED} count=2 goal=0"
        for sig in ("TERM", "INT", "HUP")
    },
    end_of_session=f"W: rec {SAVED} saved=T-3; start {NOW}; main; click COUNT; expect count=1; rec;"
    f"endsession; exit 0; expect {SAVED} count=1 goal=0",
    # Escape and Return do nothing in the dialog; an empty alarm hour stops OK after goal and count.
    settings=f"LW: start {NOW}; main; keys Tab space; box SETTINGS; shot settings; geom - - 276 156;"
    "L:look 9347aa65a84c; W:look b888bfd3f886; L:prop _NET_WM_STATE _MODAL _SKIP_TASKBAR;"
    "keys Escape Return; keys Tab Tab Down Up Tab Up Tab space; gone;"
    "expect lap=-1 alarm=0 count=0 goal=0; click COUNT; expect count=1; click SET; box SETTINGS;"
    "type 12; lift TXT_CNT;"  # selects the "1" it holds, wherever the mouse goes after the press
    "type 34; click TXT_CNT_LEFT; type 5;"  # a second click puts the cursor before the "34"
    "keys Tab Up Tab BackSpace Tab; type 5; keys Tab Tab space; answer ERROR; box SETTINGS;"
    "L:look 05a9a2aa9c62; W:look 8508ce5f274b; expect goal=12 count=534 alarm=0 lap=-1; type 7;"
    "keys shift+Tab space Tab Tab Tab Tab Return; gone;"  # the selected option again: no change
    f"expect goal=12 count=534 alarm=-1 hour=7 minute=5 lap=-1; {CLOSE}; expect saved=T",
    # The alarm comes while another program has the focus: once its box is closed, keys count.
    alarm=f"LW: {NOON}; wave; start audio clock=11:00:00; {TO_NOON}; box ALARM; chime; close;"
    f" gone; keys space; expect count=1; {CLOSE}",
    # Wine 8 does not tell Windows of a minimise by the window manager: that part is Linux's. On
    # Linux the window starts without a runtime folder (su, ssh, startx) and the second start,
    # from a session, has one; on Windows a folder's name in other letters is the same folder.
    # The folder it makes for itself needs no word: Qt's line on the missing one is all it says.
    second_start=f"LW: start -XDG_RUNTIME_DIR {NOW}; main; click COUNT; expect count=1; L:minimize;"
    "second; keys space; expect count=2; W:second upper; L:stderr 1",
    # A killed window leaves no claim on its folder, whatever files it left: also for a start
    # with standard input closed, whose first descriptor is the leftover lock file. A sender with
    # standard input closed gets its socket as descriptor 0.
    other_folder_and_kill="LW: start; main; expect count=0 saved=T; signal KILL; exit -9;"
    "cmd 1 --status; said err 'window is running'; start '<&-'; answer RESTORE y; main; folder other;"
    "start; main; keys space; expect count=1; cmd 0 --count '<&-'; expect count=2",
    # The command line steps the running window as clicks do and prints its count. A step under
    # the dialog is kept and done after its OK, a refusal comes at once (in Japanese that a terminal
    # shows as such), a window that does not answer in time never takes the step, and a kept step
    # outlives the session.
    command_line=f"LW: start {NOW}; main; cmd 0 --uncount; cmd 0 --status; said out ^0$;"
    "cmd 0 --count; keys Tab space; box SETTINGS; cmd 0 --count;"
    "keys Tab; type 32766; keys Tab Tab Tab Return; gone; cmd 0 --status; said out ^32767$;"
    "cmd 1 --count tty; said out オーバーフロー; answer ERROR; cmd 0 --uncount; signal STOP;"
    "cmd 1 --count; said err 'does not answer\\n'; signal CONT; cmd 0 --status; said out ^32766$;"
    "W:endsession; L:signal TERM; exit 0; expect count=32766",
    # With no window: a wrong option or --help (read in a terminal, a console on Windows) touch
    # nothing, --count starts one and counts. A count that cannot be printed ends in failure.
    command_line_alone=f"LW: rec {SAVED}; mark; cmd 2 --bogus; said err '(?s)bogus.*\\n\\Z';"
    "cmd 0 --help tty; said out --count; cmd 1 --status; unchanged; sh 'rm Cnt.arm'; start --count;"
    "main; expect count=1; cmd 0 --status; said out ^1$;"
    "L:sh 'test $(./tallimo --status >/dev/full || echo $?) = 1';"
    "W:sh 'test $(wine tallimo.exe --status >/dev/full || echo $?) = 1'",
    # The README's openbox key bindings, pressed while another program has the focus.
    shortcut_keys=f"L: start {NOW}; main; link; shortcut 3 5 2",
    # Qt alone puts the window under the dock: with several monitors it ignores the work area;
    # the window manager knows nothing of its own panel; and a shell's top bar, 40 rows, is known
    # by the work area alone. Under a lower bar the dock's own strut, on its monitor alone, counts.
    two_monitors="L: sh 'xrandr --setmonitor L 512/135x768/203+0+0 screen && xrandr --setmonitor"
    " \"*R\" 512/135x768/203+512+0 none' 'xrandr --delmonitor L && xrandr --delmonitor R';"
    " panel 512 1023 30; panel 0 512 768 own; workarea 40; start; main; geom 513 40 62 61;"
    f" {CLOSE}; workarea 20; start; answer RESTORE n; main; geom 513 30 62 61",
    # The window manager's own panel, one pixel wide, still takes its column from the window.
    thin_panel="L: panel 0 0 768 own; start; main; geom 1 0 62 61",
    # Openbox offers a minimise button on the dialog all the same.
    dialog_minimised=f"L: start {NOW}; main; keys Tab space; box SETTINGS; comeback; keys Escape;"
    "close; gone",
    wayland_session="L: weston; start WAYLAND_DISPLAY=tallimo-wl XDG_SESSION_TYPE=wayland; main;"
    "geom 0 0 62 61",
    # No display at all, or one that is not there: a line that says which and why. Wayland alone
    # is tried, with a word on what it cannot do.
    no_display="L: start -DISPLAY; exit 1; stderr 1; start DISPLAY=:97; exit 1;"
    "stderr 1 'display \":97\": '; start -DISPLAY WAYLAND_DISPLAY=no; exit 1; stderr 'display: ' Wayland",
    # Counts are heard, also one made from a shortcut while another program has the focus.
    a11y="L: orca; start; main; tree MAIN; keys space; heard 1件; tree COUNTED; other;"
    "cmd 0 --count; heard 2件; click SET; box SETTINGS; tree DIALOG",
    # Faults from outside.
    fault_record_is_a_folder="LW: sh 'mkdir Cnt.arm'; start; box *; shot fatal; keys Return; exit 1;"
    "stderr Cnt.arm; L:stderr \"'75'\" 同じ名前のフォルダーがあります",
    fault_folder_not_writable="L: sh 'chmod 555 .'; start nobody; box *; keys Return; exit 1;"
    "stderr Cnt.arm アクセスが拒否されました",
    # Spaces and Japanese in the folder's name, and a path past the 260 characters of old Windows.
    fault_folder_with_spaces_and_japanese=f"LW: folder '集計 ツール/{'集' * 80}/{'x' * 150}/たりも ver 1';"
    f"start; main; click COUNT LABEL BLANK; expect count=3; {CLOSE}",
    # The chime: a folder, and a file the user may not read.
    fault_chime_folder=f"L: {NOON}; sh 'mkdir Chimes.wav'; start {CHIME_AT_NOON}",
    fault_chime_unreadable=f"L: {NOON}; sh 'install -m0 /dev/null Chimes.wav && chown nobody . Cnt.arm';"
    f"start nobody {CHIME_AT_NOON}",
)

# Lines the accessible tree must hold: names from the window down, [role], description.
TREES = dict(
    MAIN=[
        "/Tallimo/Tallimo [frame]",
        "/件数 [label]",
        "/設定 [push button]",
        "/Tallimo!! [push button] 1 件数える",
        "/閉じる [push button]",
    ],
    COUNTED=["/1件 [notification]", "/設定 [push button] 1件", "/Tallimo!! [push button] 1件"],
    DIALOG=[
        "/Tallimoの設定 [dialog]",
        "/今回の目標 [text]",
        "/只今の件数 [text]",
        "/アラーム/アラームの時 [text]",
        "/アラーム/アラームの分 [text]",
        *(f"/{f}/{o} [radio button]" for f in ("アラーム", "ラップ件数") for o in ("ON", "OFF")),
    ],
)
Rows = xdesk.suite(ROWS, TREES, Scenario)

if __name__ == "__main__":
    unittest.main()
