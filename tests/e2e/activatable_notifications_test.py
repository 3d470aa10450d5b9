#!/usr/bin/python3
"""Runs the real kivobar on a desktop whose notification server starts only when the bus is asked for it,
as dunst and mako do on tiling desktops: the session bus has a service file that starts dunst, and nobody
owns the notification name until someone calls it. kivobar's first notification (no tray is running)
must start dunst and reach it; once that dunst has gone, the next notification (a session waits) must
start a new one and reach that.

usage: activatable_notifications_test.py --build BUILD_DIR --source SOURCE_DIR

Prints a PASS or FAIL line per check and a summary; exits 1 when any check failed.
"""

import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import start_kivobar  # noqa: E402
from kivodesk.checks import Checks  # noqa: E402
from kivodesk.notifications import INTERFACE, NAME  # noqa: E402
from kivodesk.processes import stop_pid  # noqa: E402
from kivodesk.scenario import parse_arguments, run_in_session  # noqa: E402
from kivodesk.signals import Monitor  # noqa: E402
from kivodesk.wait import holds_within  # noqa: E402

TOOLS = ["Xvfb", "dbus-daemon", "unshare", "dunst"]
# The app waits 10 s for a tray before it says there is none.
NO_TRAY_WAIT = 30
WAIT = 20
BUDGET = 150
NO_TRAY = "No system tray is running"
WAITING = [{"agent": "coder", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "kivo-7"}]
WAITING_SUMMARY = "coder · ~/src/kivo"
BUS_RULES = [f"type='method_call',interface='{INTERFACE}',member='Notify'", "type='method_return'"]


def program_of(pid):
    """The file the process runs."""
    try:
        return os.path.basename(os.readlink(f"/proc/{pid}/exe"))
    except OSError:
        return None


class ActivatableScenario:
    """kivobar, the stand-in agent and a dunst that only the bus starts, on an X server with no tray."""

    def __init__(self, args, session):
        self.args = args
        self.session = session
        self.checks = Checks("notifications through an activatable server", BUDGET)
        self.app = None
        self.monitor = None

    def delivered(self, summary):
        """The server's unique name when a Notify of kivobar's with that summary was answered with an id, else None."""
        ours = set(self.session.bus().connections_of(self.app.pid))
        calls = self.monitor.messages(lambda seen: seen.type == "method_call" and seen.fields.get("sender") in ours
                                      and seen.body[3] == summary)
        for call in calls:
            serial = call.serial
            for reply in self.monitor.messages(lambda seen: seen.type == "method_return"
                                               and seen.fields.get("reply_serial") == serial
                                               and seen.fields.get("destination") == call.fields.get("sender")):
                if reply.body and reply.body[0] > 0:
                    return reply.fields.get("sender")
        return None

    def server(self):
        """(unique name, pid, program) of the notification server now; Nones when there is none."""
        bus = self.session.bus()
        owner = bus.owner(NAME)
        pid = bus.name_pid(NAME) if owner else None
        return owner, pid, program_of(pid) if pid else None

    def run(self):
        session = self.session
        session.start_x()
        session.add_bus_service(NAME, ["dunst"])
        session.start_bus()
        self.monitor = Monitor(session.bus_address, BUS_RULES)
        session.on_close.append(self.monitor.stop)
        self.checks.check("nobody owns the notification name before it is called", not session.bus().has_owner(NAME))
        agent = StandInAgent(self.args.source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
        agent.make()
        session.on_close.append(agent.down)
        agent.up()
        self.app = start_kivobar(session, self.args.build, agent.home)

        first = holds_within(lambda: self.delivered(NO_TRAY), NO_TRAY_WAIT) and self.delivered(NO_TRAY)
        owner, pid, program = self.server()
        self.checks.check(f'kivobar\'s "{NO_TRAY}" starts the activatable server (owner {owner}, {program})',
                          program == "dunst")
        self.checks.check("and reaches it: the server answers it with an id", first and first == owner)
        if pid:
            stop_pid(pid)
        self.checks.check("once that server has gone, nobody owns the name",
                          holds_within(lambda: not session.bus().has_owner(NAME), WAIT))

        agent.set_needs_you(WAITING)
        second = holds_within(lambda: self.delivered(WAITING_SUMMARY), WAIT) and self.delivered(WAITING_SUMMARY)
        new_owner, new_pid, program = self.server()
        self.checks.check(f"the next notification (a session waits) starts a new server ({new_owner}, {program})",
                          program == "dunst" and new_owner not in (None, owner))
        self.checks.check("and reaches the new one", second and second == new_owner)
        self.checks.check("kivobar still runs", self.app.poll() is None)
        return self.checks


def main():
    args = parse_arguments(__doc__)
    return run_in_session("kivo-activatable-notifications", TOOLS, lambda session: ActivatableScenario(args, session).run())


if __name__ == "__main__":
    sys.exit(main())
