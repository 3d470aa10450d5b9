#!/usr/bin/python3
"""Runs the real kivobar on a session bus that drops any connection sending more than a few kilobytes, with
enough sessions waiting that the menu's layout is larger than that: each time a panel asks for the whole
layout, the bus drops the tray's connection while the session goes on. The tray must start again on a new
connection, answer what fits, and give up after a few times rather than start forever.

usage: bus_rejoin_test.py --build BUILD_DIR --source SOURCE_DIR

Prints a PASS or FAIL line per check and a summary; exits 1 when any check failed.
"""

import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import start_kivobar  # noqa: E402
from kivodesk.bus import BusError  # noqa: E402
from kivodesk.checks import Abort, Checks  # noqa: E402
from kivodesk.scenario import parse_arguments, run_in_session  # noqa: E402
from kivodesk.tray import MENU_INTERFACE, find_item_of_process  # noqa: E402
from kivodesk.wait import holds_within  # noqa: E402

TOOLS = ["dbus-daemon", "unshare"]
BUDGET = 120
WAIT = 20
LIMIT = 8192  # bytes: the menu with the sessions below is several times larger
SESSIONS = [{"agent": "coder", "where": f"repo-{i}", "detail": "approve the migration?" * 2, "run": f"r-{i}"}
            for i in range(300)]


def run(args, session):
    checks = Checks("a tray whose connection the bus drops", BUDGET)
    try:
        session.start_bus(max_message_size=LIMIT)
        bus = session.bus()
        agent = StandInAgent(args.source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
        agent.make()
        session.on_close.append(agent.down)
        agent.up()
        agent.set_needs_you(SESSIONS)
        app = start_kivobar(session, args.build, agent.home)

        def item():
            return find_item_of_process(bus, app.pid) if app.poll() is None else None

        asked = set()  # the connections asked already: each is asked until the bus drops it, and no more

        def ask_for_everything(dropped):
            """Asks for the whole layout, as a panel does, until the tray has been dropped that many times."""
            tray = item()
            if tray is not None and tray.name not in asked and session.processes.output("kivobar").count("starting again") < dropped:
                try:
                    bus.call(tray.name, tray.menu, MENU_INTERFACE, "GetLayout", "iias", 0, -1, [])
                except BusError:
                    asked.add(tray.name)  # the bus dropped the tray before it could answer, as it should
            return session.processes.output("kivobar").count("starting again") >= dropped or app.poll() is not None

        for round_ in range(1, 4):
            checks.check(f"round {round_}: the bus dropped the tray, which starts again on a new connection",
                         holds_within(lambda r=round_: ask_for_everything(r), WAIT)
                         and holds_within(lambda: item() is not None, WAIT), session.processes.output("kivobar").strip())
            small = item()
            checks.check(f"round {round_}: it answers what fits in a message", small is not None
                         and bool(bus.call(small.name, small.menu, MENU_INTERFACE, "GetLayout", "iias", 0, 0, [])))
        holds_within(lambda: ask_for_everything(4), WAIT)
        ended = session.processes.wait_exit("kivobar", WAIT)
        checks.check("the fourth time it gives up with status 1 rather than start forever",
                     ended and app.returncode == 1 and "4 times; quitting" in session.processes.output("kivobar"),
                     session.processes.output("kivobar").strip())
    except Abort as error:
        checks.fail(str(error))
    return checks


def main():
    args = parse_arguments(__doc__)
    return run_in_session("kivo-rejoin-test", TOOLS, lambda session: run(args, session))


if __name__ == "__main__":
    sys.exit(main())
