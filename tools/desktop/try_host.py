#!/usr/bin/python3
"""Starts a whole desktop (GNOME Shell, KDE Plasma) on a private X server, with the known-good control item
and, given a build, KivoBar against the stand-in agent; takes a screenshot, and with --stay keeps it
all running for a look with xdotool, xwininfo or busctl until Ctrl+C. Nothing of the user's own
desktop is touched, and nothing keeps running afterwards.

usage: try_host.py --host NAME [--build BUILD_DIR] [--waiting] [--look LOOK] [--screenshot OUT.png] [--stay]
"""

import argparse
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import start_kivobar  # noqa: E402
from kivodesk.hosts import HOSTS, open_host  # noqa: E402
from kivodesk.on_screen import Screen  # noqa: E402
from kivodesk.processes import Interrupted, ignore_signals, interrupt_on_signals  # noqa: E402
from kivodesk.session import Session  # noqa: E402
from kivodesk.tray import host_registered, wait_item  # noqa: E402
from kivodesk.wait import Timeout, wait_until  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(HERE))
CONTROL_ITEM = os.path.join(HERE, "control_item.py")
START_TIMEOUT = 90
ITEM_TIMEOUT = 30
WAITING = [{"agent": "coder", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "kivo-7"}]
NO_TRAY = "no system tray is running"


def log_has(session, name, text):
    """Whether the log of the session's process NAME holds text."""
    return text in session.processes.output(name)


def start_control_item(session, host):
    """Starts the control item; returns once the host's watcher lists it (or, with no tray, once it runs)."""
    process = session.start("control-item", [sys.executable, CONTROL_ITEM], env=host.app_env)
    wait_until(lambda: log_has(session, "control-item", "ready"), ITEM_TIMEOUT, "the control item to start")
    if host_registered(session.bus()):
        wait_item(session.bus(), process.pid, ITEM_TIMEOUT)
    return process


def start_app(session, host, build, waiting):
    """Starts the stand-in agent and KivoBar; returns once the app shows its item or says there is no tray."""
    agent = StandInAgent(SOURCE, session.path("agent-home"), session.processes.log_path("kivo-tool"))
    agent.make()
    session.on_close.append(agent.down)
    agent.up()
    if waiting:
        agent.set_needs_you(WAITING)
    app = start_kivobar(session, build, agent.home, env=host.app_env)
    if host_registered(session.bus()):
        item = wait_item(session.bus(), app.pid, ITEM_TIMEOUT)
        if waiting:
            wait_until(lambda: item.prop("Status") == "NeedsAttention", ITEM_TIMEOUT,
                       "KivoBar to show the waiting session")
    else:
        wait_until(lambda: log_has(session, "kivobar", NO_TRAY), ITEM_TIMEOUT, "KivoBar to say there is no tray")
    return app


def screenshot(session, out):
    """Writes the whole screen to out, once the host has drawn what changed."""
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    Screen(session).settled().save(out)
    print(f"try_host: wrote {out}", flush=True)


def run(session, args):
    host = open_host(session, args.host)
    began = time.monotonic()
    host.start(START_TIMEOUT)
    print(f"try_host: {args.host} ready in {time.monotonic() - began:.1f} s", flush=True)
    start_control_item(session, host)
    print("try_host: the control item is up", flush=True)
    if args.build:
        start_app(session, host, args.build, args.waiting)
        print("try_host: KivoBar is up", flush=True)
    if args.look:
        host.set_look(args.look)
    if args.screenshot:
        screenshot(session, args.screenshot)
    if args.stay:
        print(f"try_host: DISPLAY={session.display} DBUS_SESSION_BUS_ADDRESS={session.bus_address}\n"
              f"try_host: logs in {session.dir}; Ctrl+C ends it all", flush=True)
        while True:
            time.sleep(3600)


def main():
    parser = argparse.ArgumentParser(description="Look at KivoBar and a known-good item on a whole desktop.")
    parser.add_argument("--host", required=True, choices=sorted(HOSTS))
    parser.add_argument("--build", help="a build folder: also start its app/kivobar against the stand-in agent")
    parser.add_argument("--waiting", action="store_true", help="let the stand-in agent report a waiting session")
    parser.add_argument("--look", help="switch the panel to this look of the host's (light, dark) first")
    parser.add_argument("--screenshot", metavar="OUT.png", help="write a screenshot of the whole screen here")
    parser.add_argument("--stay", action="store_true", help="keep everything running until Ctrl+C")
    args = parser.parse_args()
    if args.build and not os.access(os.path.join(args.build, "app", "kivobar"), os.X_OK):
        print(f"try_host: no {args.build}/app/kivobar: build it first", file=sys.stderr)
        return 2
    if args.build:
        args.build = os.path.abspath(args.build)

    interrupt_on_signals()
    session = Session(f"kivo-try-{args.host}", keep=args.stay)
    try:
        run(session, args)
        return 0
    except Interrupted:
        return 0
    except (Timeout, RuntimeError, OSError, subprocess.SubprocessError) as error:
        print(f"try_host: {error}\n{session.logs()}", file=sys.stderr)
        return 1
    finally:
        ignore_signals()
        session.close()


if __name__ == "__main__":
    sys.exit(main())
