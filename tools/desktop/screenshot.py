#!/usr/bin/python3
"""Takes a picture of KivoBar's open tray menu on a private desktop: the stand-in agent runs with one
session waiting, a GTK panel shows KivoBar's icon, and a right click on it opens the menu that KivoBar
exports over D-Bus. Nothing of the user's own desktop is touched.

usage: screenshot.py BUILD_DIR OUT.png
"""

import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import start_kivobar  # noqa: E402
from kivodesk.panels import GtkPanel  # noqa: E402
from kivodesk.processes import Interrupted, ignore_signals, interrupt_on_signals  # noqa: E402
from kivodesk.session import Session  # noqa: E402
from kivodesk.tray import wait_item  # noqa: E402
from kivodesk.wait import Timeout, wait_until  # noqa: E402

TOOLS = ["Xvfb", "dbus-daemon", "status-notifier-watcher", "gtk-sni-tray-standalone", "xdotool", "xwininfo",
         "import", "convert", "display"]
SCREEN = (800, 600)
MARGIN = 24
WAITING = [{"agent": "coder", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "kivo-7"}]


class Failed(Exception):
    """The picture cannot be taken; the message says why."""


def run(session, argv, timeout=15):
    """Runs an X tool on the private display; its standard output, or None when it failed."""
    result = subprocess.run(argv, env=session.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout,
                            check=False)
    return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else None


def geometry(session, window):
    """(width, height, x, y) of a mapped window, or None."""
    info = run(session, ["xwininfo", "-id", window]) or ""
    values = {}
    for line in info.splitlines():
        key, _, value = line.strip().partition(":")
        values[key] = value.strip()
    if values.get("Map State") != "IsViewable":
        return None
    try:
        return (int(values["Width"]), int(values["Height"]), int(values["Absolute upper-left X"]),
                int(values["Absolute upper-left Y"]))
    except (KeyError, ValueError):
        return None


def host_windows(session, pid):
    """The visible windows of the panel's process."""
    return (run(session, ["xdotool", "search", "--onlyvisible", "--pid", str(pid)]) or "").split()


def bar_geometry(session, pid):
    """The panel's bar: its widest window."""
    shapes = [shape for shape in (geometry(session, window) for window in host_windows(session, pid)) if shape]
    return max(shapes, default=None)


def menu_geometry(session, pid, bar):
    """The open menu: the tallest window of the panel's, when it is several bars high, or None. The pointer on the
    icon also brings a tooltip, a window of one or two lines."""
    shapes = [shape for shape in (geometry(session, window) for window in host_windows(session, pid))
              if shape and shape != bar and shape[1] > 4 * bar[1]]
    return max(shapes, key=lambda shape: shape[1], default=None)


def capture(session, crop, out):
    """Writes the crop of the screen to out; True when import did."""
    width, height, x, y = crop
    return run(session, ["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "+repage", "-strip", out],
               30) is not None


def steady_capture(session, crop, out):
    """Captures until two pictures in a row are the same: GTK maps the popup before it has drawn every row."""
    previous = None
    for _ in range(20):
        if not capture(session, crop, out):
            raise Failed("import could not take the picture")
        with open(out, "rb") as picture:
            current = picture.read()
        if current == previous:
            return
        previous = current
    raise Failed("the menu kept changing on screen")


def paint_background(session):
    """A plain desktop background, so that the menu's edges show."""
    background = session.path("background.png")
    width, height = SCREEN
    if run(session, ["convert", "-size", f"{width}x{height}", "gradient:#5b7c99-#2b4257", background]) is not None:
        # display sets the root window and exits with status 1 even when it worked: only the picture tells.
        subprocess.run(["display", "-window", "root", background], env=session.env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=10, check=False)


def take(session, build, source, out):
    """Sets the desktop up, opens the menu and writes the picture."""
    session.start_x(f"{SCREEN[0]}x{SCREEN[1]}x24")
    session.start_bus()
    paint_background(session)
    agent = StandInAgent(source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
    agent.make()
    agent.set_needs_you(WAITING)
    session.on_close.append(agent.down)
    agent.up()
    # A dark bar with the tray at its right end, as on most desktops.
    panel = GtkPanel(session, ["--top", "--size", "30", "--end", "--color", "#2e3436"])
    panel.start()
    app = start_kivobar(session, build, agent.home)
    item = wait_item(session.bus(), app.pid)
    wait_until(lambda: item.prop("IconName") == "kivobar-needs-you-symbolic", 20, "the waiting session's icon")
    wait_until(lambda: item.has_row("Needs you"), 20, "the waiting session's row")

    bar = wait_until(lambda: bar_geometry(session, panel.host_pid()), 20, "the panel's bar")
    bar_w, bar_h, bar_x, bar_y = bar
    # The only icon sits at the bar's right end, a square as high as the bar.
    icon_x, icon_y = bar_x + bar_w - bar_h // 2, bar_y + bar_h // 2
    # gtk-sni-tray opens the item's menu on the right button; the left one asks the app to activate.
    if run(session, ["xdotool", "mousemove", "--sync", str(icon_x), str(icon_y), "click", "3"]) is None:
        raise Failed("xdotool could not click")
    menu = wait_until(lambda: menu_geometry(session, panel.host_pid(), bar), 10, f"a menu after a click at {icon_x},{icon_y}")
    _, menu_h, menu_x, menu_y = menu

    # The bar's right part and the whole menu, with a margin.
    left = max(0, min(menu_x - MARGIN, icon_x - bar_h - MARGIN))
    right = bar_x + bar_w
    bottom = menu_y + menu_h + MARGIN
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    steady_capture(session, (right - left, bottom, left, 0), out)
    print(f"screenshot: wrote {out} ({right - left}x{bottom})")


def main():
    if len(sys.argv) != 3 or not os.path.isdir(sys.argv[1]):
        print("usage: scripts/screenshot.sh BUILD_DIR OUT.png", file=sys.stderr)
        return 2
    build, out = os.path.abspath(sys.argv[1]), sys.argv[2]
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print(f"screenshot: not installed: {', '.join(missing)} (scripts/setup.sh installs them)", file=sys.stderr)
        return 1
    if not os.access(os.path.join(build, "app", "kivobar"), os.X_OK):
        print(f"screenshot: no {build}/app/kivobar: build it first", file=sys.stderr)
        return 1
    interrupt_on_signals()
    session = Session("kivo-screenshot")
    try:
        take(session, build, source, out)
        return 0
    except (Failed, Timeout, Interrupted, RuntimeError, OSError, subprocess.TimeoutExpired) as error:
        print(f"screenshot: {error}", file=sys.stderr)
        print(session.logs(), file=sys.stderr)
        return 1
    finally:
        ignore_signals()
        session.close()


if __name__ == "__main__":
    sys.exit(main())
