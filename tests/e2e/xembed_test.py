#!/usr/bin/python3
"""Runs the real kivobar on a private X desktop whose only tray speaks the older XEmbed protocol (trayer,
no StatusNotifier watcher): once no panel of the newer kind has come for its grace period, the resident
process becomes the widget tray, which trayer embeds, and keeps the app's single-instance lock. When a panel
of the newer kind starts after all, the widget tray hands the tray back to the resident process, lock and all.

usage: xembed_test.py --build BUILD_DIR --source SOURCE_DIR

Prints a PASS or FAIL line per check and a summary; exits 1 when any check failed.
"""

import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import start_kivobar  # noqa: E402
from kivodesk.checks import Abort, Checks  # noqa: E402
from kivodesk.panels import GtkPanel, open_desktop  # noqa: E402
from kivodesk.scenario import parse_arguments, run_in_session  # noqa: E402
from kivodesk.tray import find_item  # noqa: E402
from kivodesk.wait import holds_within  # noqa: E402

TOOLS = ["Xvfb", "dbus-daemon", "trayer", "unshare", "status-notifier-watcher", "gtk-sni-tray-standalone"]
# The app waits 10 s for a panel of the newer kind, then asks whether an XEmbed tray is there.
FALLBACK_WAIT = 40
BUDGET = 120


def program_of(pid):
    """The file the process runs now."""
    try:
        return os.path.basename(os.readlink(f"/proc/{pid}/exe"))
    except OSError:
        return None


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
                     session.processes.output("kivobar").strip())
        checks.check("it says nothing about a missing tray", "no system tray" not in session.processes.output("kivobar"))
        kivobar = os.path.join(args.build, "app", "kivobar")
        second = session.start("second", [kivobar], env={"KIVO_HOME": agent.home})
        ended = session.processes.wait_exit("second", 20)
        checks.check("the widget tray keeps the lock: a second start for the same home exits 0",
                     ended and second.returncode == 0 and "already running" in session.processes.output("second"))
        checks.check("the widget tray keeps running", app.poll() is None)

        GtkPanel(session).start()
        bus = session.bus()
        checks.check("a StatusNotifier panel that starts later gets the tray back: the resident process shows the "
                     "item", holds_within(lambda: program_of(app.pid) == "kivobar-tray" and find_item(bus, app.pid), 20),
                     f"runs {program_of(app.pid)}")
        third = session.start("third", [kivobar], env={"KIVO_HOME": agent.home})
        ended = session.processes.wait_exit("third", 20)
        checks.check("and keeps the lock across: a third start for the same home exits 0",
                     ended and third.returncode == 0 and "already running" in session.processes.output("third"),
                     session.processes.output("third").strip())
    except Abort as error:
        checks.fail(str(error))
    return checks


def main():
    args = parse_arguments(__doc__)
    return run_in_session("kivo-xembed-test", TOOLS, lambda session: run(args, session))

if __name__ == "__main__":
    sys.exit(main())
