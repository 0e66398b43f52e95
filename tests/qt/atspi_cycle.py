#!/usr/bin/python3
"""eft-host driven as a screen reader drives it, through AT-SPI and nothing else.

Run under a session bus of its own (dbus-run-session). Starts a virtual display, the
accessibility bus, and eft-host over its embedded demo server; walks the window's
accessibility tree (every element named, list lines read in words), then runs a load, a tick,
a save, an export and a commit with AT-SPI actions and keys, reading each box by its name.

usage: atspi_cycle.py EFT_HOST LANGUAGE
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HOST, LANG = sys.argv[1], sys.argv[2]

WORDS = {
    "en": {
        "load": "Load Data", "select_all_centers": "Select All", "details": "Details",
        "select_all_members": "Select All", "save": "Save", "yes": "Yes", "ok": "OK",
        "centers": "Centers ready for EFT", "members": "Member charges",
        "batch_centers": "Centers of the batch", "commit": "Commit",
        "export_tab": "Export Batch", "ask_save": "Do you want to save ?",
        "ask_export": "Do you want to export eligible items to two ASCII files (USA/Canada) ?",
        "ask_commit": 'Do you want to set selected items as "Cleared" and unselected as Failed ?',
        "center_line": r"^Center \d{4}, .+, Due In -?[\d,]+\.\d\d, (not )?selected$",
        "selected": "Amount Selected (Total): $ ",
        "committed": r"^Batch \d+: 1 center cleared, \d+ failed",
    },
    "fr": {
        "load": "Charger", "select_all_centers": "Tout cocher", "details": "Détails",
        "select_all_members": "Tout cocher", "save": "Enregistrer", "yes": "Oui", "ok": "OK",
        "centers": "Centres prêts pour le TEF", "members": "Frais des membres",
        "batch_centers": "Centres du lot", "commit": "Valider",
        "export_tab": "Exporter le lot", "ask_save": "Voulez-vous enregistrer ?",
        "ask_export": "Voulez-vous exporter les éléments admissibles dans deux fichiers ASCII (É.-U./Canada) ?",
        "ask_commit": "Voulez-vous marquer les éléments cochés comme « Compensés » et les autres comme « Échoués » ?",
        "center_line": r"^Centre \d{4}, .+, à recevoir -?[\d,]+\.\d\d, (non )?coché$",
        "selected": "Montant choisi (total) : $ ",
        "committed": r"^Lot \d+ : compensés : 1 centre, échoués : \d+",
    },
}[LANG]

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return ok


def start_display():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    while not number.endswith(b"\n"):
        piece = os.read(read_fd, 16)
        if not piece:
            sys.exit("Xvfb did not start")
        number += piece
    os.close(read_fd)
    display = number.decode().strip()
    os.environ["DISPLAY"] = ":" + display
    # The number comes as the server sets up; a client is only sure of it once it can connect.
    end = time.monotonic() + 30
    while True:
        with socket.socket(socket.AF_UNIX) as s:
            try:
                s.connect("/tmp/.X11-unix/X" + display)
                break
            except OSError:
                if xvfb.poll() is not None or time.monotonic() > end:
                    sys.exit("Xvfb :%s takes no connection" % display)
                time.sleep(0.1)
    return xvfb


def wait_for(what, predicate, seconds=60):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        pump()
        try:
            value = predicate()
        except Exception:  # an object gone while it was read: ask again
            value = None
        if value:
            return value
        time.sleep(0.1)
    check(False, "waited in vain for " + what)
    dump()
    raise SystemExit(finish(1))


def dump():
    """What a screen reader would find now, to see why a wait was in vain."""
    try:
        for a in descendants(app, lambda a: showing(a)):
            print("  ", a.getRoleName(), repr(a.name))
    except Exception as e:  # the tree may be gone with the program
        print("  no tree:", e)


def pump():
    from gi.repository import GLib
    ctx = GLib.MainContext.default()
    while ctx.pending():
        ctx.iteration(False)


processes = []


def finish(code):
    for p in reversed(processes):
        p.terminate()
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
    shutil.rmtree(home, ignore_errors=True)
    if failures:
        print("%d failures" % len(failures))
        return 1
    return code


xvfb = start_display()
processes.append(xvfb)
bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], stderr=subprocess.DEVNULL)
processes.append(bus)
os.environ["NO_AT_BRIDGE"] = "0"
time.sleep(1)

import pyatspi  # noqa: E402  the accessibility bus must be up first

home = tempfile.mkdtemp(prefix="eft-atspi-")
env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
           HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_DATA_HOME=home + "/data", LC_ALL="C.UTF-8")
env.pop("QT_SCALE_FACTOR", None)
host = subprocess.Popen([HOST, "--db", home + "/demo.sqlite", "--language", LANG], env=env)
processes.append(host)
host_starts = 1


def host_on_the_bus():
    # Now and then the host could not connect to the display that had just taken a connection
    # (a fault of the virtual display's start, not of the control): it is started once more, and
    # the run says so.
    global host, host_starts
    if host.poll() is not None and host_starts == 1:
        print("eft-host ended with %d before it was on the bus; starting it once more" % host.returncode)
        host = subprocess.Popen([HOST, "--db", home + "/demo.sqlite", "--language", LANG], env=env)
        processes.append(host)
        host_starts += 1
    return next((a for a in desktop if a is not None and a.name == "eft-host"), None)


desktop = pyatspi.Registry.getDesktop(0)
app = wait_for("eft-host on the accessibility bus", host_on_the_bus)


def descendants(root, pred):
    return pyatspi.utils.findAllDescendants(root, lambda a: a is not None and pred(a))


def showing(a):
    return a.getState().contains(pyatspi.STATE_SHOWING)


def named(role, name, root=None):
    return wait_for("%s %r" % (role, name),
                    lambda: next((a for a in descendants(root or app, lambda a: a.getRole() == role and showing(a))
                                  if a.name == name), None))


def press(role, name, root=None):
    acc = named(role, name, root)
    action = acc.queryAction()
    action.doAction(0)
    return acc


def key(keysym):
    pyatspi.Registry.generateKeyboardEvent(keysym, None, pyatspi.KEY_SYM)
    time.sleep(0.2)


SPACE, TAB = 0x20, 0xFF09


def click(acc):
    """A click at the middle of where AT-SPI says the element is on the screen."""
    box = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(box.x + box.width // 2, box.y + box.height // 2, "b1c")
    time.sleep(0.3)


def focused(target):
    return target.getState().contains(pyatspi.STATE_FOCUSED)


def focus_on(target):
    """A list takes the focus as an operator gives it: Tab from the element before it. A busy
    machine may take a while to move the focus, so each Tab is given time to land."""
    for _ in range(12):
        if focused(target):
            return
        key(TAB)
        end = time.monotonic() + 3
        while time.monotonic() < end and not focused(target):
            pump()
            time.sleep(0.1)
    check(focused(target), "Tab never reached %r" % target.name)


UNTICKED = r"(not selected|non coché)$"


def ticked_line(table_acc):
    """The first line, once it reads as ticked."""
    name = table_acc.queryTable().getAccessibleAt(0, 0).name
    return name if not re.search(UNTICKED, name) else None


def answer_box(plain_line, button):
    """A box comes up named by its plain line; its button is pressed by name."""
    box = wait_for("a box named %r" % plain_line,
                   lambda: next((a for a in descendants(app, lambda a: a.getRole() in (pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT)
                                                        and showing(a)) if a.name.strip() == plain_line), None))
    press(pyatspi.ROLE_PUSH_BUTTON, button, box)


LIST_ROLES = (pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TREE)


def table(name):
    return wait_for("the list %r" % name,
                    lambda: next((a for a in descendants(app, lambda a: a.getRole() in LIST_ROLES and showing(a))
                                  if a.name == name), None))


def rows(acc):
    return acc.queryTable().nRows


# Every element of the window a screen reader lands on has a name.
window = wait_for("the main window", lambda: next((w for w in app if w.getRole() == pyatspi.ROLE_FRAME), None))
landing_roles = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_PAGE_TAB, *LIST_ROLES, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_LABEL, pyatspi.ROLE_PAGE_TAB_LIST,
                 pyatspi.ROLE_MENU_ITEM}
walked = descendants(window, lambda a: a.getRole() in landing_roles and showing(a))
check(len(walked) >= 12, "the walk found %d elements" % len(walked))
for a in walked:
    check(a.name.strip() != "", "a %s without a name" % a.getRoleName())

# Load.
press(pyatspi.ROLE_PUSH_BUTTON, WORDS["load"])
centers = table(WORDS["centers"])
wait_for("the center list's lines", lambda: rows(centers) > 0)
line = centers.queryTable().getAccessibleAt(0, 0).name
check(re.match(WORDS["center_line"], line), "a center line reads %r" % line)

# Tick every center, see the members, tick one with Space and hear the total change.
press(pyatspi.ROLE_PUSH_BUTTON, WORDS["select_all_centers"])
press(pyatspi.ROLE_PUSH_BUTTON, WORDS["details"])
members = table(WORDS["members"])
wait_for("the member list's lines", lambda: rows(members) > 0)
heard = []
pyatspi.Registry.registerEventListener(lambda e: heard.append(e.source.name if e.source else ""),
                                       "object:property-change:accessible-name")
focus_on(members)
key(SPACE)
wait_for("the selected total read out", lambda: any(n.startswith(WORDS["selected"]) for n in heard), 20)
wait_for("the ticked member line", lambda: ticked_line(members), 20)

# Save: the question is read by its plain line, answered Yes.
press(pyatspi.ROLE_PUSH_BUTTON, WORDS["save"])
answer_box(WORDS["ask_save"], WORDS["yes"])
wait_for("the centers again after the save", lambda: showing(named(pyatspi.ROLE_PUSH_BUTTON, WORDS["load"])))

# Export, then commit the first batch with its first center cleared.
# The tab by a click where AT-SPI says it is: choosing it asks a question at once, and an
# AT-SPI action on it would wait for the answer.
click(named(pyatspi.ROLE_PAGE_TAB, WORDS["export_tab"]))
answer_box(WORDS["ask_export"], WORDS["yes"])
report = wait_for("the export's report", lambda: next((a for a in descendants(app, lambda a: a.getRole() in (
    pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT) and showing(a))), None))
press(pyatspi.ROLE_PUSH_BUTTON, WORDS["ok"], report)
# The batch box reads as the entry it shows ("Please Select Batch Number"), as a combo box does.
click(wait_for("the batch box", lambda: next(iter(descendants(
    window, lambda a: a.getRole() == pyatspi.ROLE_COMBO_BOX and showing(a))), None)))
entry = wait_for("the batch box's first batch", lambda: next(iter(descendants(
    app, lambda a: a.getRole() == pyatspi.ROLE_LIST_ITEM and showing(a) and re.search(r"\d", a.name))), None))
click(entry)
batch = table(WORDS["batch_centers"])
wait_for("the batch's centers", lambda: rows(batch) > 0)
click(batch.queryTable().getAccessibleAt(0, 0))
wait_for("the ticked batch line", lambda: ticked_line(batch), 20)
press(pyatspi.ROLE_PUSH_BUTTON, WORDS["commit"])
answer_box(WORDS["ask_commit"], WORDS["yes"])
wait_for("the commit on the status line",
         lambda: any(re.match(WORDS["committed"], a.name) for a in descendants(window, lambda a: a.getRole() == pyatspi.ROLE_LABEL)))
print("the cycle ran through AT-SPI in", LANG, flush=True)
sys.exit(finish(0))
