#!/usr/bin/python3
"""Takes a picture of waybar showing the README's Kivo module beside the tray: waybar on a headless sway,
the stand-in agent online with one session waiting, and KivoBar's tray in waybar's tray. Nothing of the
user's own desktop is touched.

usage: waybar_shot.py BUILD_DIR OUT.png
"""

import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import start_kivobar  # noqa: E402
from kivodesk.panels import open_desktop  # noqa: E402
from kivodesk.processes import Interrupted, ignore_signals, interrupt_on_signals  # noqa: E402
from kivodesk.session import Session  # noqa: E402
from kivodesk.statusbar import waybar_module, waybar_style  # noqa: E402
from kivodesk.tray import wait_item  # noqa: E402
from kivodesk.wait import Timeout, wait_until  # noqa: E402

TOOLS = ["dbus-daemon", "sway", "waybar", "setpriv", "grim"]
WAITING = [{"agent": "coder", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "kivo-7"}]
# The bar's right end: the module and the tray.
CROP_WIDTH = 300


def start_agent(agent, user):
    """Starts the agent as the user that waybar's module runs as, so that the module sees it running."""
    if user is None:
        agent.up()
        return
    for folder, _, files in os.walk(agent.home):
        for name in [folder] + [os.path.join(folder, f) for f in files]:
            os.chown(name, *user)
    argv = ["setpriv", f"--reuid={user[0]}", f"--regid={user[1]}", "--clear-groups", "--", agent.tool, "up"]
    subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, timeout=30, check=True)
    wait_until(agent.pid, 20, "the stand-in agent")


def take(session, build, source, out):
    """Starts the bar, the agent and the tray, and writes the picture."""
    kivobar = os.path.join(build, "app", "kivobar")
    agent = StandInAgent(source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
    panel = open_desktop(session, "waybar", modules=waybar_module(source, kivobar, {"KIVO_HOME": agent.home}),
                         style=waybar_style(source))
    agent.make()
    agent.set_needs_you(WAITING)
    session.on_close.append(agent.down)
    start_agent(agent, panel.user)
    panel.start()
    app = start_kivobar(session, build, agent.home)
    wait_item(session.bus(), app.pid)

    grim = {**session.env, "XDG_RUNTIME_DIR": panel.runtime, "WAYLAND_DISPLAY": panel.wayland_display}
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    # The module and the icon are drawn once their first lines have come: the picture is taken when two in a
    # row are the same.
    previous = None
    for _ in range(20):
        subprocess.run(["grim", "-g", f"{1024 - CROP_WIDTH},0 {CROP_WIDTH}x30", out], env=grim,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=30, check=True)
        with open(out, "rb") as picture:
            current = picture.read()
        if current == previous:
            print(f"waybar screenshot: wrote {out}")
            return
        previous = current
        subprocess.run(["sleep", "1"], check=True)
    raise RuntimeError("the bar kept changing on screen")


def main():
    if len(sys.argv) != 3 or not os.path.isdir(sys.argv[1]):
        print("usage: waybar_shot.py BUILD_DIR OUT.png", file=sys.stderr)
        return 2
    build, out = os.path.abspath(sys.argv[1]), sys.argv[2]
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print(f"waybar screenshot: not installed: {', '.join(missing)} (scripts/setup.sh installs them)",
              file=sys.stderr)
        return 1
    interrupt_on_signals()
    session = Session("kivo-waybar-shot", keep=os.environ.get("DESKTOP_KEEP") == "1")
    try:
        take(session, build, source, out)
        return 0
    except (Timeout, Interrupted, RuntimeError, OSError, subprocess.SubprocessError) as error:
        print(f"waybar screenshot: {error}", file=sys.stderr)
        print(session.logs(), file=sys.stderr)
        return 1
    finally:
        ignore_signals()
        session.close()


if __name__ == "__main__":
    sys.exit(main())
