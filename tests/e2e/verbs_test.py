#!/usr/bin/python3
"""Every action of the command line, run as a script runs it (build/app/kivobar VERB), with a tray running for
the agent home and with none, in each case that can arise: it applies, it does not apply now, it fails. Each
cell checks the exit status, the lines on standard error, what ran (each run of the stand-in agent's tool with
its arguments, each launch of the recording terminal) and that it ran once.

Cells that cannot arise have no row: quit never fails, and with no tray it never applies while with one it
always does; dashboard, log and open-session fail only when no terminal can be found (TERMINAL pointing
nowhere and none on PATH), and dashboard and log, which the menu always offers, do not apply only to a
second request of the same kind in the same moment. `update` applies when the release check finds an agent
newer than the running one: the tray and the command line are started from a folder where a stand-in
kivobar-fetch answers that check.

usage: verbs_test.py --build BUILD_DIR --source SOURCE_DIR

Prints a PASS or FAIL line per check and a summary; exits 1 when any check failed.
"""

import glob
import json
import os
import subprocess
import sys
import time
from dataclasses import dataclass

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import (RecordingTerminal, StandInReleases, app_environment, path_without_terminals,  # noqa: E402
                          start_kivobar)
from kivodesk.checks import Abort, Checks  # noqa: E402
from kivodesk.notifications import NotificationServer  # noqa: E402
from kivodesk.panels import open_desktop  # noqa: E402
from kivodesk.scenario import parse_arguments, run_in_session  # noqa: E402
from kivodesk.tray import wait_item  # noqa: E402
from kivodesk.wait import Timeout, holds_within, wait_until  # noqa: E402

TOOLS = ["Xvfb", "dbus-daemon", "status-notifier-watcher", "gtk-sni-tray-standalone", "unshare"]
WAIT = 20
BUDGET = 300

HEADLINES = {
    "online": "Reachable from your devices · via eu-1",
    "stopped": "Kivo is paused: this computer is unreachable",
    "not set up": "Kivo isn't set up on this computer",
}
LATEST = "9.9.9"  # the newest agent release the stand-in release check names
UPDATE_ROW = f"Update to Kivo {LATEST}"
WAITING = [{"agent": "coder", "where": "~/src/shop", "detail": "Wants to run the tests", "run": "kivo-7"},
           {"agent": "reviewer", "where": "~/src/shop", "session": "review"}]
SESSION_ROWS = 2
# Launches of one kind are admitted once within about a second: a cell waits until the last launch of its kind
# is this long past, so that it sees its own request judged and not the one before.
LAUNCH_WINDOW = 2.5

APPLIES, NOT_NOW, FAILS = "applies", "does not apply now", "fails"
EXIT = {APPLIES: 0, NOT_NOW: 3, FAILS: 1}


@dataclass
class Cell:
    """One action in one case. What it needs is made before it runs, by the harness's own runs of the tool,
    which leave no record; what it ran is what the record has after it."""

    words: tuple
    case: str
    state: str = "online"   # the agent before: online, stopped, not set up; None: as it is
    ran: tuple = ()         # the tool's runs it makes, each as its arguments, in order
    launched: tuple = ()    # what each terminal launch it makes runs, as a part of the command
    hook: str = None        # the tool's command that fails, saying FAILURE as its last line
    version: str = None     # the agent's version before, when it matters
    no_terminal: bool = False
    copies: int = 1         # as many at once: the first is admitted, the others do not apply
    after: str = None       # the agent after: online, stopped
    where: tuple = ("tray", "alone")

    @property
    def statuses(self):
        """The exit statuses expected, sorted: one for each copy."""
        return [0] + [EXIT[self.case]] * (self.copies - 1) if self.copies > 1 else [EXIT[self.case]]

    def kind(self):
        """The kind of terminal launch it asks for, or None for an action of the tool."""
        return self.words[0] if self.words[0] in ("dashboard", "log", "open-session") else None

    def __str__(self):
        many = f"{self.copies} at once: " if self.copies > 1 else ""
        return f"{many}kivobar {' '.join(self.words)} {self.case}"


FAILURE = "error: the stand-in tool was told to fail"
# A word that stands for the id that `kivobar --status --json` gives the waiting session of this agent.
ID_OF = "id-of:"
DASHBOARD = "bin/kivo'"  # the dashboard is the tool with no arguments, quoted
LOG = "tail -n 200 -F"

# Ordered so that each cell mostly finds the agent as the one before left it, and the cells that launch a terminal
# of one kind lie apart. The dashboard and the log do not care how the agent is (state None).
TABLE = [
    Cell(("pause",), APPLIES, "online", ran=("down",), after="stopped"),
    Cell(("dashboard",), APPLIES, None, launched=(DASHBOARD,)),
    Cell(("pause",), NOT_NOW, "stopped"),
    Cell(("log",), APPLIES, None, launched=(LOG,)),
    Cell(("resume",), FAILS, "stopped", ran=("up",), hook="up", after="stopped"),
    Cell(("dashboard",), FAILS, None, no_terminal=True),
    Cell(("resume",), APPLIES, "stopped", ran=("up",), after="online"),
    Cell(("log",), FAILS, None, no_terminal=True),
    Cell(("resume",), NOT_NOW, "online"),
    Cell(("open-session", "1"), APPLIES, launched=("agent --on this watch kivo-7",)),
    Cell(("pause",), FAILS, "online", ran=("down",), hook="down", after="online"),
    Cell(("dashboard",), NOT_NOW, None, copies=2, launched=(DASHBOARD,)),
    Cell(("update",), APPLIES, ran=("update",), version="1.4.2"),
    Cell(("log",), NOT_NOW, None, copies=2, launched=(LOG,)),
    Cell(("update",), FAILS, ran=("update",), hook="update", version="1.4.2"),
    Cell(("open-session", "2"), FAILS, no_terminal=True),
    Cell(("update",), NOT_NOW, version=LATEST),
    Cell(("open-session", "3"), NOT_NOW),
    Cell(("toggle",), APPLIES, "online", ran=("down",), after="stopped"),
    Cell(("open-session", ID_OF + "coder"), APPLIES, launched=("agent --on this watch kivo-7",)),
    Cell(("toggle",), APPLIES, "stopped", ran=("up",), after="online"),
    Cell(("open-session", "s-000000000000"), NOT_NOW),
    Cell(("set-up",), NOT_NOW),
    Cell(("set-up",), FAILS, "not set up", ran=("login --browser",), hook="login"),
    Cell(("set-up",), FAILS, "not set up", ran=("login --browser", "up"), hook="up"),
    Cell(("set-up",), APPLIES, "not set up", ran=("login --browser", "up"), after="online"),
    Cell(("quit",), APPLIES, where=("tray",)),
    Cell(("quit",), NOT_NOW, where=("alone",)),
]


class VerbTable:
    """The table, played once with a tray running and once with none, on one agent home."""

    def __init__(self, args, session):
        self.args = args
        self.session = session
        # No terminal on PATH, whatever this machine has installed: TERMINAL alone decides.
        session.env["PATH"] = path_without_terminals(session)
        self.panel = open_desktop(session, "gtk")
        self.notifications = NotificationServer(session)
        self.terminal = RecordingTerminal(session)
        self.releases = StandInReleases(session, args.build)
        self.releases.set_latest(LATEST)
        self.kivobar = os.path.join(self.releases.build, "app", "kivobar")
        self.agent = StandInAgent(args.source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
        self.calls = session.path("tool-runs")
        self.checks = Checks("verb table", BUDGET, on_fail=self.show_menu)
        self.app = None
        self.item = None
        self.last_launch = {}
        self.failure_notes = {}  # (action, the tool's failing command): the summary of the tray's notification

    # ------------------------------------------------------------ helpers

    def show_menu(self):
        if self.item is not None and self.app.poll() is None:
            print("  the menu now:\n" + self.item.menu_text(), flush=True)

    def env(self):
        """What the tray and every command get: the agent home, the terminal, the record of the tool's runs."""
        return {"TERMINAL": self.terminal.path, "KIVO_STAND_IN_CALLS": self.calls}

    def runs(self):
        """The tool's runs so far, each as its arguments."""
        try:
            with open(self.calls, encoding="utf-8") as calls:
                return [line.rstrip("\n").removeprefix("ARGS").strip() for line in calls]
        except FileNotFoundError:
            return []

    def run(self, words, copies):
        """Runs `kivobar WORDS` copies times at once, to their ends: [(status, stdout, stderr)]."""
        env = {**self.session.env, **app_environment(self.args.build, self.agent.home), **self.env()}
        words = [self.session_id(word[len(ID_OF):], env) if word.startswith(ID_OF) else word for word in words]
        started = [subprocess.Popen([self.kivobar, *words], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True) for _ in range(copies)]
        results = []
        for process in started:
            out, err = process.communicate(timeout=60)
            results.append((process.returncode, out, err))
        return results

    def session_id(self, agent, env):
        """The id that `kivobar --status --json` gives the session of `agent`."""
        printed = subprocess.run([self.kivobar, "--status", "--json"], env=env, stdin=subprocess.DEVNULL,
                                 capture_output=True, text=True, timeout=60, check=True).stdout
        return next(entry["id"] for entry in json.loads(printed)["needs_you"] if entry["agent"] == agent)

    def scripts_waiting(self):
        """The scripts written for a terminal that has not taken them yet."""
        return glob.glob(self.session.path("runtime", "kivo-*.command"))

    # ------------------------------------------------------------ making a cell's state

    def arrange(self, cell, tray):
        """Puts the agent where the cell needs it, and waits until whoever decides sees it so."""
        if cell.state == "not set up":
            # Never set up: no approval, and no record of an agent that once ran.
            self.agent.down()
            self.agent.remove("host")
            self.agent.remove(os.path.join("run", "status.json"))
        elif cell.state == "stopped":
            self.agent.down()
        elif cell.state == "online" and not self.agent.running():
            self.agent.write("host", "approved by the test\n")
            self.agent.up()
        if cell.version:
            self.agent.write("version", cell.version + "\n")
            self.agent.wait_status(lambda record: record.get("version") == cell.version, WAIT, "the agent's version")
        if cell.hook:
            self.agent.write(f"fail-{cell.hook}", FAILURE + "\n")
        if cell.no_terminal:
            self.terminal.hide()
        if tray:
            self.tray_shows(cell)
        # A request refused for its place is refused whatever the moment.
        window = self.last_launch.get(cell.kind()) if cell.copies > 1 or cell.case != NOT_NOW else None
        if window is not None:
            time.sleep(max(0.0, window + LAUNCH_WINDOW - time.monotonic()))

    def tray_shows(self, cell):
        """Waits until the tray's menu shows the agent as the cell needs it."""
        def shown():
            rows = [row.label for row in self.item.visible_rows()]
            if cell.state and rows[0] != HEADLINES[cell.state]:
                return False
            if cell.words[0] == "update" and (UPDATE_ROW in rows) != (cell.case != NOT_NOW):
                return False
            if cell.words[0] == "open-session":
                return sum(label.startswith(("coder", "reviewer")) for label in rows) == SESSION_ROWS
            return True
        wait_until(shown, WAIT, f"the tray to show what {cell} needs")

    def tidy(self, cell):
        if cell.hook:
            self.agent.remove(f"fail-{cell.hook}")
        if cell.no_terminal:
            self.terminal.restore()
        if cell.kind():
            self.last_launch[cell.kind()] = time.monotonic()

    # ------------------------------------------------------------ one cell

    def play(self, cell, tray):
        mode = "with a tray" if tray else "with no tray"
        self.arrange(cell, tray)
        runs, launches = len(self.runs()), len(self.terminal.launches())
        notes = len(self.notifications.notifications())
        try:
            results = self.run(cell.words, cell.copies)
        finally:
            self.tidy(cell)
        statuses = sorted(status for status, _, _ in results)
        after_ok = True
        if cell.after == "online":
            after_ok = holds_within(self.agent.running, WAIT)
        elif cell.after == "stopped":
            after_ok = not self.agent.running()
        if cell.words == ("quit",) and tray:
            after_ok = self.session.processes.wait_exit("kivobar", WAIT)
        ran = self.runs()[runs:]
        # A launch is recorded once the terminal has started; the script it runs is there until then.
        wait_until(lambda: not self.scripts_waiting(), WAIT, "the terminals started to take their scripts")
        launched = self.terminal.launches()[launches:]
        if tray and cell.hook:
            self.failure_notes[(cell.words[0], cell.hook)] = self.failure_note(notes)
        said = [self.said_well(cell, status, err) for status, _, err in results]
        quiet = all(out == "" for _, out, _ in results) if tray else True
        self.checks.check(
            f"{mode}: {cell}: exits {' and '.join(map(str, cell.statuses))}, runs {list(cell.ran) or 'no tool'}"
            f"{', launches ' + ', '.join(cell.launched) if cell.launched else ''}"
            f"{' once' if cell.ran or cell.launched else ''}",
            statuses == cell.statuses and ran == list(cell.ran) and len(launched) == len(cell.launched)
            and all(part in command for part, command in zip(cell.launched, launched))
            and all(said) and quiet and after_ok,
            f"exit {statuses}, ran {ran}, launched {launched}, agent {'up' if self.agent.running() else 'down'}; "
            + "; ".join(f"{status}: {out!r} {err!r}" for status, out, err in results))

    def failure_note(self, since):
        """The summary of the tray's notification of a failed run, the first since `since` Notify calls."""
        def note():
            return next((call["summary"] for call in self.notifications.notifications()[since:]
                         if FAILURE in call["body"]), None)
        holds_within(note, WAIT)
        return note()

    def failures_named_by_action(self):
        """A failed run's notification is named by the action asked for, not by the tool's step that failed:
        a set-up failing at its first step (login) or at its second (up) reads alike, and unlike a resume."""
        notes = self.failure_notes
        set_up = {notes.get(("set-up", "login")), notes.get(("set-up", "up"))}
        each = [notes.get(("pause", "down")), notes.get(("resume", "up")), notes.get(("update", "update"))]
        self.checks.check(f"with a tray: each failed action's notification is named by the action ({notes})",
                          len(set_up) == 1 and None not in set_up and None not in each
                          and len(set(each) | set_up) == 4)

    def said_well(self, cell, status, err):
        """Every line on standard error is ours ("kivobar: "); a failure's names the action and quotes the tool's
        last line; a refusal names the action."""
        lines = err.splitlines()
        if not all(line.startswith("kivobar: ") for line in lines):
            return False
        if status == 1:
            return bool(lines) and (lines[-1] == f'kivobar: {cell.words[0]} failed: "{FAILURE}"' if cell.hook
                                    else lines[-1].startswith(f"kivobar: {' '.join(cell.words)} failed: "))
        if status == 3:
            return any(cell.words[0] in line for line in lines)
        return True

    # ------------------------------------------------------------ the run

    def start(self):
        self.panel.start()
        self.notifications.start()
        self.agent.make()
        self.session.on_close.append(self.agent.down)
        self.agent.set_needs_you(WAITING)
        self.agent.up()
        self.app = start_kivobar(self.session, self.releases.build, self.agent.home, env=self.env())
        self.item = wait_item(self.session.bus(), self.app.pid)
        self.checks.report(f"kivobar registers its tray item ({self.item})", True)

    def run_all(self):
        try:
            self.start()
            for cell in TABLE:
                if "tray" in cell.where:
                    self.play(cell, tray=True)
            self.failures_named_by_action()
            if self.app.poll() is None:
                raise Abort("the tray still runs after kivobar quit: the rows without a tray cannot be played")
            self.item = None
            self.agent.remove("version")
            for cell in TABLE:
                if "alone" in cell.where:
                    self.play(cell, tray=False)
        except (Abort, Timeout) as error:
            self.checks.fail(str(error))
        return self.checks


def main():
    args = parse_arguments(__doc__)
    return run_in_session("kivo-verbs-test", TOOLS, lambda session: VerbTable(args, session).run_all())


if __name__ == "__main__":
    sys.exit(main())
