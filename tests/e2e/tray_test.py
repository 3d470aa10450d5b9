#!/usr/bin/python3
"""Runs the real kivobar on a private desktop against the stand-in agent, and reads and drives its tray
over D-Bus as a panel does: the icon name, the rows of the exported menu, clicks on them, what the agent
does, and the signals the app sends.

usage: tray_test.py --build BUILD_DIR --source SOURCE_DIR [--host gtk|waybar]

Prints a PASS or FAIL line per check and a summary; exits 1 when any check failed.
"""

import argparse
import os
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import RecordingTerminal, start_kivobar  # noqa: E402
from kivodesk.checks import Abort, Checks  # noqa: E402
from kivodesk.notifications import NotificationServer  # noqa: E402
from kivodesk.panels import open_desktop  # noqa: E402
from kivodesk.processes import pid_alive  # noqa: E402
from kivodesk.scenario import run_in_session  # noqa: E402
from kivodesk.signals import SignalRecorder, add_match_monitor, watches_name  # noqa: E402
from kivodesk.tray import WATCHER, find_item, watcher_items  # noqa: E402
from kivodesk.wait import Timeout, holds_within, wait_until  # noqa: E402

WAIT = 20
BUDGET = 330

ONLINE = "Reachable from your devices · via eu-1"
PAUSED = "Kivo is paused: this computer is unreachable"
DASHBOARD = "Open the dashboard"
SESSION = "coder · ~/src/kivo — Wants to run the tests"
ODD_SESSION = "reviewer · ~/src/my_app — Build & deploy?"
WAITING = [
    {"agent": "coder", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "kivo-7"},
    # "_" and "&" must reach the panel as written, not as mnemonic marks.
    {"agent": "reviewer", "where": "~/src/my_app", "detail": "Build & deploy?", "run": "my_app-2"},
]
MANY = 1000
FAILURE = "error: the relay refused to let go"
NO_TRAY = "no system tray is running"

TOOLS = ["Xvfb", "dbus-daemon", "unshare"]
HOST_TOOLS = {"gtk": ["status-notifier-watcher", "gtk-sni-tray-standalone"], "waybar": ["sway", "waybar", "setpriv"]}


class TrayScenario:
    """The app against the stand-in agent on one host, one phase per method."""

    def __init__(self, args, session):
        self.build = args.build
        self.source = args.source
        self.session = session
        self.panel = open_desktop(session, args.host)
        self.bus = session.bus()
        self.notifications = NotificationServer(session)
        self.terminal = RecordingTerminal(session)
        self.agent = StandInAgent(self.source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
        self.checks = Checks(f"tray end-to-end on {args.host}", BUDGET, on_fail=self.show_tray)
        self.app = None
        self.item = None

    # ------------------------------------------------------------ helpers

    def show_tray(self):
        """After a failure: the menu and icon as the panel sees them now."""
        if self.item is not None:
            print("  the menu now:\n" + self.item.menu_text(), flush=True)
            print(f"  IconName: {self.item.prop('IconName')}", flush=True)

    def start_app(self, name="kivobar", home=None, env=None):
        """Starts kivobar; the item is found later, once it registers."""
        self.item = None
        self.app = start_kivobar(self.session, self.build, home or self.agent.home, name=name,
                                 env={"TERMINAL": self.terminal.path, **(env or {})})
        return self.app

    def app_log(self, name="kivobar"):
        """What the app wrote on its standard error and output."""
        return self.session.processes.output(name)

    def notified(self, summary):
        """The Notify calls with that summary."""
        return [call for call in self.notifications.notifications() if call["summary"] == summary]

    def our_items(self):
        """How many items the watcher lists for the process's connections."""
        return sum(1 for name, _ in watcher_items(self.bus) if self.bus.name_pid(name) == self.app.pid)

    def session_rows(self):
        """How many waiting-session rows the menu shows."""
        return sum(1 for row in self.item.visible_rows() if row.label.startswith("coder · repo-"))

    def app_alive(self):
        """Whether kivobar still runs."""
        return self.app is not None and self.app.poll() is None

    def find_app_item(self):
        """The app's item, once the watcher lists it; None before."""
        if not self.app_alive():
            return None
        self.item = find_item(self.bus, self.app.pid)
        return self.item

    def wait_registered(self):
        """Whether the app registers an item with the watcher in time (false at once if the app ended)."""
        return holds_within(lambda: self.find_app_item() or not self.app_alive(), WAIT) and self.item is not None

    def headline_is(self, text, timeout=WAIT):
        """Whether the first row reads text before timeout."""
        return holds_within(lambda: self.item.headline() == text, timeout)

    def icon_is(self, name, timeout=WAIT):
        """Whether IconName becomes name before timeout."""
        return holds_within(lambda: self.item.prop("IconName") == name, timeout)

    def row_shown(self, label, timeout=WAIT):
        """Whether a visible row reads label before timeout."""
        return holds_within(lambda: self.item.has_row(label), timeout)

    def row_gone(self, label, timeout=WAIT):
        """Whether no visible row reads label before timeout."""
        return holds_within(lambda: not self.item.has_row(label), timeout)

    def agent_writes(self, count, timeout):
        """Waits until the agent has rewritten its status file count times (it does every 2 s)."""
        seen = [self.agent.status_bytes()]

        def written():
            now = self.agent.status_bytes()
            if now is not None and now != seen[-1]:
                seen.append(now)
            return len(seen) > count

        wait_until(written, timeout, f"{count} writes of the status file")

    # ------------------------------------------------------------ phases

    def panel_first(self):
        """The panel is there before the app: the app registers and shows the agent online."""
        self.panel.start()
        self.notifications.start()
        self.agent.make()
        self.session.on_close.append(self.agent.down)
        self.first_agent = self.agent.up()
        self.start_app()
        if not self.wait_registered():
            raise Abort(f"kivobar registers a tray item with the watcher (running: {self.app_alive()})")
        self.checks.report(f"kivobar registers a tray item with the watcher ({self.item})", True)
        self.checks.check(f'the headline reads "{ONLINE}"', self.headline_is(ONLINE))
        self.checks.check("the icon is kivobar-online-symbolic while the agent is reachable",
                          self.icon_is("kivobar-online-symbolic"))
        self.checks.check('"Pause Kivo" is shown while the agent runs', self.row_shown("Pause Kivo"))
        self.checks.check('"Resume Kivo" is not shown while the agent runs', lambda: not self.item.has_row("Resume Kivo"))
        self.checks.check("the item says it is a menu, so hosts open it on a left click",
                          lambda: self.item.prop("ItemIsMenu") is True)
        self.checks.check('the item is "Kivo Bar", active', lambda: (self.item.prop("Title"), self.item.prop("Status"))
                          == ("Kivo Bar", "Active"))
        with open(f"/proc/{self.app.pid}/maps", encoding="utf-8") as maps:
            libraries = {os.path.basename(line.split()[-1]) for line in maps if ".so" in line}
        gui = sorted(name for name in libraries if name.startswith(("libQt6Gui", "libQt6Widgets", "libxcb")))
        self.checks.check(f"the resident tray loads QtDBus and no GUI library (found: {', '.join(gui) or 'none'})",
                          any(name.startswith("libQt6DBus") for name in libraries) and not gui)

    def nothing_changes(self):
        """Over several refreshes with nothing new, no row is touched and no signal is sent."""
        headline_id = self.item.row_id(ONLINE)
        dashboard_id = self.item.row_id(DASHBOARD)
        revision = self.item.revision()
        with SignalRecorder(self.session.bus_address, self.item.owner()) as recorder:
            # Four writes of the agent's (8 s) span at least two of the app's 3-second refreshes.
            self.agent_writes(4, 30)
            sent = recorder.summary()
            quiet = recorder.count() == 0
        now_revision = self.item.revision()
        self.ids = (headline_id, dashboard_id)
        self.checks.check(f"the rows keep their ids across refreshes (headline {headline_id}, dashboard {dashboard_id})",
                          None not in self.ids and self.ids == (self.item.row_id(ONLINE), self.item.row_id(DASHBOARD)))
        self.checks.check(f"the menu is not touched while nothing changes (layout revision {revision}, then {now_revision})",
                          revision == now_revision)
        self.checks.check(f"no signal reaches the panel while nothing changes (sent: {sent})", quiet)

    def one_change(self):
        """One change the user sees (a second relay) reaches the panel as one property update of the rows."""
        two_relays = "Reachable from your devices · via eu-1, us-2"
        with SignalRecorder(self.session.bus_address, self.item.owner()) as recorder:
            self.agent.set_relays(["eu-1", "us-2"])
            shown = self.headline_is(two_relays)
            self.agent_writes(2, 30)
            updates = recorder.recorded(("ItemsPropertiesUpdated",))
            layouts = recorder.count("LayoutUpdated")
        labels = [props.get("label", ("s", ""))[1] for update in updates for _, props in update.body[0]]
        self.checks.check(f"a second relay reaches the panel as one property update carrying the new headline "
                          f"(ItemsPropertiesUpdated {len(updates)}, LayoutUpdated {layouts}, labels {labels})",
                          shown and len(updates) == 1 and layouts == 0 and labels == [two_relays])
        self.agent.set_relays(["eu-1"])
        self.checks.check(f'the headline is back to "{ONLINE}"', self.headline_is(ONLINE))

    def ids_kept(self, headline, when):
        """The headline and dashboard rows keep the ids they had at the start."""
        headline_id, dashboard_id = self.ids
        self.checks.check(f"the headline row keeps its id {when} ({headline_id})", self.item.row_id(headline) == headline_id)
        self.checks.check(f"the dashboard row keeps its id {when} ({dashboard_id})",
                          self.item.row_id(DASHBOARD) == dashboard_id)

    def pause(self):
        """Clicking "Pause Kivo" stops the agent, and the menu follows."""
        if not self.item.click_label("Pause Kivo"):
            self.checks.fail('clicking "Pause Kivo": there is no such row')
            return
        self.checks.eventually(f'clicking "Pause Kivo" stops the agent (pid {self.first_agent})',
                               lambda: not pid_alive(self.first_agent), 15)
        self.checks.check(f'the headline becomes "{PAUSED}"', self.headline_is(PAUSED, 10))
        self.checks.check('"Resume Kivo" is shown once the agent is paused', self.row_shown("Resume Kivo", 10))
        self.checks.check('"Pause Kivo" is gone once the agent is paused', self.row_gone("Pause Kivo", 10))
        self.checks.check("the icon is kivobar-offline-symbolic while paused", self.icon_is("kivobar-offline-symbolic", 10))
        self.ids_kept(PAUSED, "through the change")

    def sessions_and_resume(self):
        """Sessions start waiting while paused; "Resume Kivo" brings the agent back with them listed."""
        self.agent.set_needs_you(WAITING)
        if self.item.click_label("Resume Kivo"):
            self.checks.eventually('clicking "Resume Kivo" starts the agent again', self.agent.running, 15)
            self.checks.check(f'the headline is back to "{ONLINE}"', self.headline_is(ONLINE))
        else:
            self.checks.fail('clicking "Resume Kivo": there is no such row')
        self.checks.check("the icon is kivobar-needs-you-symbolic while a session waits",
                          self.icon_is("kivobar-needs-you-symbolic"))
        self.checks.check('"Needs you" is shown', self.row_shown("Needs you"))
        self.checks.check(f'the waiting session\'s row reads "{SESSION}"', self.row_shown(SESSION))
        self.checks.check(f'"_" and "&" in a session\'s row reach the panel as written ("{ODD_SESSION}")',
                          self.row_shown(ODD_SESSION, 5))
        self.checks.check("the session's row can be picked", lambda: self.item.row(SESSION).enabled)
        self.checks.check("the item asks for attention while sessions wait",
                          holds_within(lambda: self.item.prop("Status") == "NeedsAttention", WAIT))
        self.ids_kept(ONLINE, "after the sessions came")
        # Each session that started waiting is announced once, and its Open action jumps to it.
        coder = "coder · ~/src/kivo"
        announced = holds_within(lambda: len(self.notified(coder)) == 1 and self.notified("reviewer · ~/src/my_app"), WAIT)
        calls = self.notified(coder)
        self.checks.check(f"a notification says that {coder} waits, with its detail and an Open action",
                          announced and calls[0]["body"] == "Wants to run the tests" and "open" in calls[0]["actions"]
                          and calls[0]["hints"].get("desktop-entry") == "io.kivo.KivoBar")
        if calls:
            self.session_notes = [call["id"] for call in self.notifications.notifications()]
            self.notifications.invoke_action(calls[0]["id"], "open")
            self.checks.eventually("its Open action opens the session in a terminal",
                                   lambda: "agent --on this watch kivo-7" in self.terminal.ran(), WAIT)

    def sessions_leave(self):
        """The sessions go: the icon falls back to the state's own, and their notifications close."""
        self.agent.set_needs_you([])
        self.checks.check("the icon falls back to kivobar-online-symbolic once no session waits",
                          self.icon_is("kivobar-online-symbolic"))
        self.checks.check('"Needs you" is gone once no session waits', self.row_gone("Needs you"))
        self.checks.check("the item is active again", holds_within(lambda: self.item.prop("Status") == "Active", WAIT))
        notes = getattr(self, "session_notes", [])
        closed = lambda: {call["id"] for call in self.notifications.calls("CloseNotification")}  # noqa: E731
        self.checks.check("the sessions' notifications close as the sessions leave",
                          notes and holds_within(lambda: set(notes) <= closed(), WAIT))

    def many_sessions(self):
        """A thousand sessions come and go: the panel hears one layout change each way, and one property update of
        the rows it already had (the section's divider and heading), never one of each session."""
        sessions = [{"agent": "coder", "where": f"repo-{i}", "detail": f"approve migration {i}?", "run": f"r-{i}"}
                    for i in range(MANY)]
        before = len(self.notifications.notifications())
        with SignalRecorder(self.session.bus_address, self.item.owner()) as recorder:
            self.agent.set_needs_you(sessions)
            came = holds_within(lambda: self.session_rows() == MANY, 60)
            up = (recorder.count("LayoutUpdated"), recorder.count("ItemsPropertiesUpdated"), recorder.bytes())
            recorder.clear()
            self.agent.set_needs_you([])
            went = holds_within(lambda: self.session_rows() == 0, 60)
            self.agent_writes(2, 30)
            down = (recorder.count("LayoutUpdated"), recorder.count("ItemsPropertiesUpdated"), recorder.bytes())
        self.checks.check(f"{MANY} sessions coming make one layout change and one update of the rows kept "
                          f"(LayoutUpdated {up[0]}, ItemsPropertiesUpdated {up[1]}, {up[2]} bytes of signals)",
                          came and up[:2] == (1, 1) and up[2] < 4096)
        self.checks.check(f"their going makes one more of each (LayoutUpdated {down[0]}, ItemsPropertiesUpdated "
                          f"{down[1]}, {down[2]} bytes)", went and down[:2] == (1, 1) and down[2] < 4096)
        summaries = [call["summary"] for call in self.notifications.notifications()[before:]]
        self.checks.check(f"three of them are announced one by one and the rest together ({summaries})",
                          len(summaries) == 4 and summaries[3] == f"{MANY - 3} more sessions need you")

    def failing_pause(self):
        """A pause the agent refuses: the menu shows the failure line and a notification says it."""
        self.agent.write("fail-down", FAILURE + "\n")
        if not self.item.click_label("Pause Kivo"):
            self.checks.fail('clicking "Pause Kivo" to see it fail: there is no such row')
            return
        self.checks.check(f'the menu shows the failure: "{FAILURE}"', self.row_shown(FAILURE))
        calls = lambda: self.notified("Kivo could not be paused")  # noqa: E731
        self.checks.check("a notification says the pause failed, with the same line",
                          holds_within(lambda: calls() and calls()[-1]["body"] == FAILURE, WAIT))
        self.agent.remove("fail-down")
        self.checks.check("the agent is still running", self.agent.running())

    def second_instance(self):
        """A second start for the same agent home adds nothing; after a crash of the first, a new start shows up."""
        second = self.session.start("second", [os.path.join(self.build, "app", "kivobar")],
                                    env={"KIVO_HOME": self.agent.home})
        ended = self.session.processes.wait_exit("second", WAIT)
        self.checks.check("a second kivobar for the same agent home says so and exits 0",
                          ended and second.returncode == 0 and "already running" in self.app_log("second"),
                          self.app_log("second").strip())
        self.checks.check("the panel still lists one item of ours", self.our_items() == 1)
        os.kill(self.app.pid, 9)
        self.session.processes.wait_exit("kivobar", WAIT)
        self.session.processes.stop("kivobar")
        self.start_app()
        self.checks.check("after the first was killed, a new start registers its icon", self.wait_registered())

    def panel_restart(self):
        """The panel goes and comes back: the app stays and registers again."""
        try:
            self.panel.stop()
            self.panel.start()
        except Timeout as error:
            raise Abort(f"the panel did not restart: {error}") from error
        self.checks.check("kivobar outlives its panel", self.app_alive())
        if self.checks.check("kivobar registers again when the panel comes back", self.wait_registered()):
            self.checks.check(f'the menu reads "{ONLINE}" after the panel came back', self.headline_is(ONLINE))
            self.checks.check("the icon is kivobar-online-symbolic after the panel came back",
                              self.icon_is("kivobar-online-symbolic"))

    def quit(self):
        """"Quit Kivo Bar" ends the app, not the agent."""
        if self.item.click_label("Quit Kivo Bar"):
            self.checks.check('clicking "Quit Kivo Bar" ends kivobar', self.session.processes.wait_exit("kivobar", 10))
        else:
            self.checks.fail('clicking "Quit Kivo Bar": there is no such row')
        self.session.processes.stop("kivobar")
        self.item = None
        self.checks.check("the agent keeps running after kivobar quits", self.agent.running())
        warnings = [line for line in self.app_log().splitlines() if line.startswith(("QDBus", "Q", "qt."))]
        self.checks.check("kivobar printed no warning of Qt's while it ran", not warnings, "; ".join(warnings[:3]))

    def app_before_panel(self):
        """At login the app may start before the panel: it must show up once the panel comes."""
        try:
            self.panel.stop()
        except Timeout as error:
            raise Abort(f"the panel did not stop: {error}") from error
        # The app is watching for a panel once it asked the bus about the watcher's name: only then
        # does the panel that comes next really come after it.
        with add_match_monitor(self.session.bus_address) as monitor:
            self.start_app()
            watching = holds_within(lambda: any(watches_name(monitor, name, WATCHER)
                                                for name in self.bus.connections_of(self.app.pid)), WAIT)
        if not self.checks.check("kivobar started with no panel watches for one to come", watching):
            return
        self.checks.check("kivobar keeps running while there is no panel", self.app_alive())
        no_tray = "No system tray is running"
        self.checks.check("with no panel for 10 seconds, a notification says no tray is running",
                          holds_within(lambda: self.notified(no_tray), 30))
        self.checks.check("and one line on standard error says so", self.app_log().count(NO_TRAY) == 1,
                          self.app_log().strip())
        try:
            self.panel.start()
        except Timeout as error:
            raise Abort(f"the panel did not start after the app: {error}") from error
        if self.checks.check("kivobar started before the panel registers once the panel comes", self.wait_registered()):
            self.checks.check(f'its menu reads "{ONLINE}"', self.headline_is(ONLINE))
            self.checks.check("its icon is kivobar-online-symbolic", self.icon_is("kivobar-online-symbolic"))

    def german(self):
        """In German, the menu's own labels are German; the headline, as the agent state gives it, is not."""
        self.session.processes.stop("kivobar")
        home = self.session.path("unset-home")
        os.mkdir(home)
        env = {"LANGUAGE": "de"}
        if locale_exists("de_DE.UTF-8"):
            env["LANG"] = "de_DE.UTF-8"
        self.start_app("kivobar-de", home, env)
        if not self.checks.check("kivobar in German registers its item", self.wait_registered()):
            return
        self.checks.check("the headline stays as the agent state gives it",
                          self.headline_is("Kivo isn't set up on this computer"))
        german = ["Diesen Computer einrichten…", "Kivo installieren…", "Dashboard öffnen", "Protokoll anzeigen",
                  "Benachrichtigen", "Beim Anmelden öffnen", "Kivo Bar beenden"]
        shown = [row.label for row in self.item.visible_rows() if row.type != "separator"][1:]
        self.checks.check(f"the other labels are German ({shown})", shown == german)
        kivobar = os.path.join(self.build, "app", "kivobar")
        dumps = [subprocess.run([kivobar, "--status"], env={**self.session.env, **extra, "KIVO_HOME": self.agent.home},
                                capture_output=True, timeout=WAIT, check=False).stdout for extra in ({}, env)]
        self.checks.check("kivobar --status prints the same bytes in German as in English",
                          dumps[0] == dumps[1] and dumps[0].startswith(b"state: "))

    def session_ends(self):
        """The session bus goes, as when the user logs out: the tray ends too, and lets go of its lock."""
        app = self.app
        self.session.processes.stop("bus")
        ended = holds_within(lambda: app.poll() is not None, WAIT)
        self.checks.check("when the session bus goes away, kivobar quits with status 0",
                          ended and app.returncode == 0 and "session bus went away" in self.app_log("kivobar-de"),
                          self.app_log("kivobar-de").strip())

    def run(self):
        """Every phase in order; an Abort ends the run with a FAIL line."""
        try:
            self.panel_first()
            self.nothing_changes()
            self.one_change()
            self.pause()
            self.sessions_and_resume()
            self.sessions_leave()
            self.many_sessions()
            self.failing_pause()
            self.second_instance()
            self.panel_restart()
            self.quit()
            self.app_before_panel()
            self.german()
            self.session_ends()
        except (Abort, Timeout) as error:
            self.checks.fail(str(error))
        return self.checks


def locale_exists(name):
    """Whether the C library has the locale (Debian's locales package makes them)."""
    listed = subprocess.run(["locale", "-a"], capture_output=True, text=True, check=False).stdout.split()
    return name.lower().replace("utf-8", "utf8") in (entry.lower() for entry in listed)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the build folder (holds app/kivobar)")
    parser.add_argument("--source", required=True, help="the source folder (holds tools/stand-in-agent)")
    parser.add_argument("--host", choices=["gtk", "waybar"], default="gtk", help="the tray host to run on")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.source = os.path.abspath(args.source)

    if not os.access(os.path.join(args.build, "app", "kivobar"), os.X_OK):
        print(f"FAIL: no {args.build}/app/kivobar: build the kivobar target first")
        return 1
    return run_in_session("kivo-tray-test", TOOLS + HOST_TOOLS[args.host],
                          lambda session: TrayScenario(args, session).run())

if __name__ == "__main__":
    sys.exit(main())
