#!/usr/bin/python3
"""Runs the real kivobar on a private X desktop whose only tray speaks the older XEmbed protocol (trayer,
no StatusNotifier watcher): once no panel of the newer kind has come for its grace period, the resident
process becomes the widget tray, which trayer embeds, and keeps the app's single-instance lock.

usage: xembed_test.py --build BUILD_DIR --source SOURCE_DIR

Prints a PASS or FAIL line per check and a summary; exits 1 when any check failed.
"""

import argparse
import os
import shutil
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import start_kivobar  # noqa: E402
from kivodesk.checks import Abort, Checks  # noqa: E402
from kivodesk.panels import open_desktop  # noqa: E402
from kivodesk.processes import Interrupted, ignore_signals, interrupt_on_signals  # noqa: E402
from kivodesk.session import Session  # noqa: E402
from kivodesk.wait import holds_within  # noqa: E402

TOOLS = ["Xvfb", "dbus-daemon", "trayer", "unshare"]
# The app waits 10 s for a panel of the newer kind, then asks whether an XEmbed tray is there.
FALLBACK_WAIT = 40
BUDGET = 120


def program_of(pid):
    """The file the process runs now."""
    try:
        return os.path.basename(os.readlink(f"/proc/{pid}/exe"))
    except OSError:
        return None


def log_of(session, name):
    """What the process wrote on its standard error and output."""
    try:
        with open(session.processes.log_path(name), encoding="utf-8", errors="replace") as log:
            return log.read()
    except FileNotFoundError:
        return ""


def run(args, session):
    checks = Checks("XEmbed fallback", BUDGET)
    try:
        panel = open_desktop(session, "xembed")
        panel.start()
        agent = StandInAgent(args.source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
        agent.make()
        session.on_close.append(agent.down)
        agent.up()
        app = start_kivobar(session, args.build, agent.home)
        checks.check("kivobar starts as the resident tray process",
                     holds_within(lambda: program_of(app.pid) == "kivobar-tray", 20))
        checks.check("with an XEmbed tray and no StatusNotifier watcher, it becomes the widget tray",
                     holds_within(lambda: program_of(app.pid) == "kivobar-xembed", FALLBACK_WAIT),
                     log_of(session, "kivobar").strip())
        checks.check("it says nothing about a missing tray", "no system tray" not in log_of(session, "kivobar"))
        second = session.start("second", [os.path.join(args.build, "app", "kivobar")], env={"KIVO_HOME": agent.home})
        ended = session.processes.wait_exit("second", 20)
        checks.check("the widget tray keeps the lock: a second start for the same home exits 0",
                     ended and second.returncode == 0 and "already running" in log_of(session, "second"))
        checks.check("the widget tray keeps running", app.poll() is None)
    except Abort as error:
        checks.fail(str(error))
    return checks


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the build folder (holds app/kivobar)")
    parser.add_argument("--source", required=True, help="the source folder (holds tools/stand-in-agent)")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.source = os.path.abspath(args.source)
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print(f"FAIL: not installed: {', '.join(missing)} (scripts/setup.sh --for test installs them)")
        return 1

    interrupt_on_signals()
    session = Session("kivo-xembed-test", keep=os.environ.get("DESKTOP_KEEP") == "1")
    checks = None
    try:
        checks = run(args, session)
        failed = checks.failed > 0
    except (Interrupted, Exception) as error:  # noqa: BLE001 - anything unforeseen still cleans up and reports
        print(f"FAIL: the run stopped: {type(error).__name__}: {error}", flush=True)
        failed = True
    finally:
        ignore_signals()
        logs = session.logs()
        session.close()
    if failed:
        print("--- logs\n" + logs, flush=True)
    if checks is not None:
        print(checks.summary(), flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
