#!/usr/bin/python3
"""Drives kivobar without touching its tray: a second start, the launcher's actions, the command line's
actions with and without a tray running, a tray that does not answer, `--status --watch` over a scripted run of
agent states, and the README's waybar module on a real waybar. Runs on a private desktop (waybar on a
headless sway, the stand-in notification server) against the stand-in agent.

usage: cli_test.py --build BUILD_DIR --source SOURCE_DIR [--quiet-seconds N]

Prints a PASS or FAIL line per check and a summary; exits 1 when any check failed.
"""

import argparse
import configparser
import json
import os
import shlex
import select
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import app_environment, start_kivobar  # noqa: E402
from kivodesk.checks import Abort, Checks  # noqa: E402
from kivodesk.notifications import NotificationServer  # noqa: E402
from kivodesk.panels import open_desktop  # noqa: E402
from kivodesk.processes import pid_alive  # noqa: E402
from kivodesk.scenario import run_in_session  # noqa: E402
from kivodesk.statusbar import waybar_module, waybar_style  # noqa: E402
from kivodesk.tray import find_item_of_process  # noqa: E402
from kivodesk.wait import Timeout, holds_within, wait_until  # noqa: E402

WAIT = 20
BUDGET = 480

ONLINE = "Reachable from your devices · via eu-1"
PAUSED = "Kivo is paused: this computer is unreachable"
FAILURE = "error: the relay refused to start"
WAITING = [{"agent": "coder", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "kivo-7"},
           {"agent": "reviewer", "where": "~/src/my_app"}]
NOT_ANSWERING = "did not answer within 5 seconds; acting alone"
REFRESH_SECONDS = 3

# A terminal that runs nothing: it keeps what it was given to run.
RECORDING_TERMINAL = """#!/bin/sh
[ "$1" = -e ] && shift
cat -- "$1" >> "$0.log" && rm -f -- "$1"
"""

TOOLS = ["dbus-daemon", "sway", "waybar", "setpriv"]


class Watch:
    """`kivobar --status --watch --json` with every line it has printed, read as it comes."""

    def __init__(self, argv, env):
        self.process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.fd = self.process.stdout.fileno()
        self.pending = b""
        self.printed = []

    @property
    def lines(self):
        """The lines printed so far; reads what has come without waiting."""
        while self.fd is not None and select.select([self.fd], [], [], 0)[0]:
            chunk = os.read(self.fd, 65536)
            if not chunk:
                break
            self.pending += chunk
            *complete, self.pending = self.pending.split(b"\n")
            self.printed += complete
        return self.printed

    def states(self):
        """Each line decoded: (state, relays, sessions waiting)."""
        decoded = [json.loads(line) for line in self.lines]
        return [(d["state"], d.get("relays"), len(d["needs_you"])) for d in decoded]

    def close_pipe(self):
        """The reader goes away: our end of the pipe closes, as when a status bar quits."""
        self.process.stdout.close()
        self.fd = None

    def stop(self):
        """Ends it, however it stands."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(5)


class CliScenario:
    """The tray against the stand-in agent, driven from everywhere but its menu."""

    def __init__(self, args, session):
        self.build = args.build
        self.source = args.source
        self.quiet_seconds = args.quiet_seconds
        self.session = session
        self.kivobar = os.path.join(self.build, "app", "kivobar")
        self.agent = StandInAgent(self.source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
        self.panel = open_desktop(session, "waybar",
                                  modules=waybar_module(self.source, self.kivobar, {"KIVO_HOME": self.agent.home}),
                                  style=waybar_style(self.source))
        self.bus = session.bus()
        self.notifications = NotificationServer(session)
        self.terminal = session.path("terminal")
        with open(self.terminal, "w", encoding="utf-8") as terminal:
            terminal.write(RECORDING_TERMINAL)
        os.chmod(self.terminal, 0o755)
        self.checks = Checks("command line end-to-end", BUDGET, on_fail=self.show_menu)
        self.app = None
        self.item = None

    # ------------------------------------------------------------ helpers

    def show_menu(self):
        """After a failure: the tray's menu now."""
        if self.item is not None:
            print("  the menu now:\n" + self.item.menu_text(), flush=True)

    def env(self):
        """What a command run in the session gets: the session's bus, the agent home."""
        return {**self.session.env, **app_environment(self.build, self.agent.home), "TERMINAL": self.terminal}

    def run(self, *args, timeout=60):
        """Runs kivobar with args to its end; the CompletedProcess, output as text."""
        return subprocess.run([self.kivobar, *args], env=self.env(), stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=timeout, check=False)

    def status(self):
        """`kivobar --status --json`, decoded."""
        return json.loads(self.run("--status", "--json").stdout)

    def terminal_ran(self):
        """What the recording terminal was given to run so far."""
        try:
            with open(self.terminal + ".log", encoding="utf-8") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    def new_notes(self, before):
        """The Notify calls since `before` of them had been made."""
        return self.notifications.notifications()[before:]

    def agent_writes(self, count, timeout=30):
        """Waits until the agent has rewritten its status file count times (it does every 2 s)."""
        seen = [self.agent.status_bytes()]

        def written():
            now = self.agent.status_bytes()
            if now is not None and now != seen[-1]:
                seen.append(now)
            return len(seen) > count

        wait_until(written, timeout, f"{count} writes of the status file")

    def second_start(self, name):
        """Starts kivobar while the tray runs; the new Notify calls it caused, once it has ended."""
        before = len(self.notifications.notifications())
        second = self.session.start(name, [self.kivobar], env=app_environment(self.build, self.agent.home))
        ended = self.session.processes.wait_exit(name, WAIT)
        said = self.session.processes.output(name)
        self.checks.check("a second kivobar says the tray runs already and exits 0",
                          ended and second.returncode == 0 and "already running" in said, said.strip())
        holds_within(lambda: self.new_notes(before), WAIT)
        # Long enough for a second notification, had one been sent.
        time.sleep(1)
        return self.new_notes(before)

    # ------------------------------------------------------------ phases

    def start(self):
        """The panel with the module, the notification server, the agent online, the tray."""
        self.panel.start()
        self.notifications.start()
        self.agent.make()
        self.session.on_close.append(self.agent.down)
        self.agent.up()
        # Each step of the tool waits a second, so that its progress line can be seen.
        self.app = start_kivobar(self.session, self.build, self.agent.home,
                                 env={"TERMINAL": self.terminal, "KIVO_STAND_IN_DELAY": "1"})
        self.item = wait_until(lambda: find_item_of_process(self.bus, self.app.pid), WAIT, "the tray's menu")
        if not holds_within(lambda: self.item.headline() == ONLINE, WAIT):
            raise Abort(f"the tray does not show the agent online: {self.item.headline()}")

    def second_start_shows_state(self):
        """Starting kivobar again shows one notification of the state; its Pause button pauses."""
        notes = self.second_start("second")
        labels = notes[0]["actions"][1::2] if notes else []
        self.checks.check(f"it shows exactly one notification, of the state, with the buttons that fit it "
                          f"({[(n['summary'], n['actions']) for n in notes]})",
                          len(notes) == 1 and notes[0]["summary"] == ONLINE
                          and labels == ["Open the dashboard", "Pause Kivo"]
                          and notes[0]["hints"].get("desktop-entry") == "io.kivo.KivoBar")
        if not notes or "Pause Kivo" not in labels:
            return
        first = notes[0]
        agent = self.agent.pid()
        self.notifications.invoke_action(first["id"], first["actions"][first["actions"].index("Pause Kivo") - 1])
        self.checks.eventually("its Pause Kivo button pauses the agent", lambda: not pid_alive(agent), WAIT)
        self.checks.check(f'the menu says "{PAUSED}"', holds_within(lambda: self.item.headline() == PAUSED, WAIT))

        notes = self.second_start("third")
        self.checks.check(f"started once more, it replaces that notification with the paused state's "
                          f"({[(n['summary'], n['replaces_id'], n['actions']) for n in notes]})",
                          len(notes) == 1 and notes[0]["replaces_id"] == first["id"] and notes[0]["summary"] == PAUSED
                          and notes[0]["actions"][1::2] == ["Open the dashboard", "Resume Kivo"])

    def actions_through_the_tray(self):
        """Actions of the command line go through the tray: its menu shows their progress and failure."""
        resumed = self.run("resume")
        self.checks.check("kivobar resume hands the action to the tray and exits 0 once the agent runs",
                          resumed.returncode == 0 and self.agent.running() and resumed.stdout == "",
                          f"{resumed.returncode}: {resumed.stdout!r} {resumed.stderr!r}")

        pausing = subprocess.Popen([self.kivobar, "pause"], env=self.env(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.checks.check('while kivobar pause runs, the tray\'s menu shows "Stopping…"',
                          holds_within(lambda: self.item.has_row("Stopping…"), WAIT))
        self.checks.check("and kivobar --status --json says so as its busy line",
                          holds_within(lambda: self.status().get("busy") == "Stopping…", WAIT))
        out, error = pausing.communicate(timeout=60)
        self.checks.check("kivobar pause exits 0 once the agent has stopped",
                          pausing.returncode == 0 and not self.agent.running(),
                          f"{pausing.returncode}: {out!r} {error!r}")
        self.checks.check(f'the menu says "{PAUSED}"', holds_within(lambda: self.item.headline() == PAUSED, WAIT))

        again = self.run("pause")
        self.checks.check("kivobar pause while paused exits 3 and says why in one line",
                          again.returncode == 3 and again.stderr == "kivobar: pause does not apply now: already paused\n",
                          f"{again.returncode}: {again.stderr!r}")

        self.agent.write("fail-up", FAILURE + "\n")
        failed = self.run("resume")
        self.agent.remove("fail-up")
        self.checks.check("with a failing agent tool, kivobar resume exits 1 and quotes its last line",
                          failed.returncode == 1 and failed.stderr == f'kivobar: resume failed: "{FAILURE}"\n',
                          f"{failed.returncode}: {failed.stderr!r}")
        self.checks.check("the tray's menu shows the failure", holds_within(lambda: self.item.has_row(FAILURE), WAIT))
        self.checks.check("and kivobar --status --json gives it as its message",
                          holds_within(lambda: self.status().get("message") == FAILURE, WAIT))

    def launcher_actions(self):
        """Each action of the desktop entry runs as its Exec line says, through the tray."""
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(os.path.join(self.source, "data", "io.kivo.KivoBar.desktop"), encoding="utf-8")
        actions = entry["Desktop Entry"]["Actions"].strip(";").split(";")
        effects = {
            "resume": self.agent.running,
            "pause": lambda: not self.agent.running(),
            "dashboard": lambda: shlex.quote(self.agent.tool) in self.terminal_ran(),
            "log": lambda: "tail -n 200 -F" in self.terminal_ran(),
        }
        self.checks.check(f"the launcher offers {actions}", sorted(actions) == sorted(effects))
        for action in ["resume", "pause", "dashboard", "log"]:
            section = entry[f"Desktop Action {action}"]
            argv = shlex.split(section["Exec"])
            ran = subprocess.run([self.kivobar if argv[0] == "kivobar" else argv[0], *argv[1:]], env=self.env(),
                                 stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60, check=False)
            self.checks.check(f'the launcher\'s "{section["Name"]}" ({section["Name[de]"]}) runs "{section["Exec"]}" '
                              f"and it takes effect", ran.returncode == 0 and holds_within(effects[action], WAIT),
                              f"{ran.returncode}: {ran.stderr!r}")
        # Paused now: the launcher's Pause does nothing, and says why where its user looks.
        argv = shlex.split(entry["Desktop Action pause"]["Exec"])
        before = len(self.notifications.notifications())
        ran = subprocess.run([self.kivobar, *argv[1:]], env=self.env(), stdin=subprocess.DEVNULL, capture_output=True,
                             text=True, timeout=60, check=False)
        said = holds_within(lambda: self.new_notes(before), WAIT)
        notes = self.new_notes(before)
        self.checks.check("a launcher action that does not apply says why in a notification",
                          ran.returncode == 3 and said and notes[0]["summary"] == "Kivo Bar: pause does not apply now"
                          and notes[0]["body"] == "pause does not apply now: already paused",
                          f"{ran.returncode}: {ran.stderr!r} {notes}")

    def tray_not_answering(self):
        """A tray that does not answer: the command line says so and acts alone."""
        os.kill(self.app.pid, signal.SIGSTOP)
        try:
            resumed = self.run("resume")
        finally:
            os.kill(self.app.pid, signal.SIGCONT)
        self.checks.check("with the tray stopped, kivobar resume says it acts alone, prints its progress and "
                          "exits 0 once the agent runs",
                          resumed.returncode == 0 and NOT_ANSWERING in resumed.stderr
                          and resumed.stdout == "Starting…\n" and self.agent.running(),
                          f"{resumed.returncode}: {resumed.stdout!r} {resumed.stderr!r}")

    def watch(self):
        """--watch prints one line per change the user would see, none in a quiet minute, and ends with its reader."""
        watch = Watch([self.kivobar, "--status", "--watch", "--json"], self.env())
        self.session.on_close.append(watch.stop)
        changes = [
            ("the agent online", lambda: None, ("online", ["eu-1"], 0)),
            ("a second relay", lambda: self.agent.set_relays(["eu-1", "us-2"]), ("online", ["eu-1", "us-2"], 0)),
            ("two sessions waiting", lambda: self.agent.set_needs_you(WAITING), ("online", ["eu-1", "us-2"], 2)),
            ("the sessions gone", lambda: self.agent.set_needs_you([]), ("online", ["eu-1", "us-2"], 0)),
            ("the agent stopped", self.agent.down, ("stopped", None, 0)),
            ("the agent started", self.agent.up, ("online", ["eu-1", "us-2"], 0)),
        ]
        for count, (what, change, expected) in enumerate(changes, 1):
            change()
            printed = holds_within(lambda: len(watch.lines) >= count, WAIT)
            # Time for a line too many: two more of the agent's writes span at least one more refresh of the
            # watch; a stopped agent writes nothing, so then two refreshes' time.
            if self.agent.running():
                self.agent_writes(2)
            else:
                time.sleep(2 * REFRESH_SECONDS + 0.5)
            states = watch.states()
            self.checks.check(f"--watch prints one line for {what} ({states[count - 1:]})",
                              printed and len(states) == count and states[-1] == expected)
        before = len(watch.lines)
        time.sleep(self.quiet_seconds)
        self.checks.check(f"and nothing in a quiet {self.quiet_seconds} s while the agent keeps rewriting its "
                          f"status file ({len(watch.lines) - before} lines)", len(watch.lines) == before)
        watch.close_pipe()
        self.checks.check("it exits 0 as soon as its reader goes away",
                          holds_within(lambda: watch.process.poll() is not None, 5) and watch.process.returncode == 0,
                          str(watch.process.poll()))

    def waybar_module(self):
        """The README's module runs in waybar, feeds it lines it takes, and is started again when it ends."""
        waybar = self.session.processes.pid("waybar")
        modules = [pid for pid in _children(waybar, recursive=True) if b"--format\0waybar" in _cmdline(pid)]
        self.checks.check(f"waybar runs the README's module (processes {modules})", bool(modules))
        complaints = [line for line in self.session.processes.output("waybar").splitlines()
                      if "custom" in line and ("error" in line.lower() or "warn" in line.lower())]
        self.checks.check("and waybar has no complaint about it", not complaints, "; ".join(complaints[:3]))
        if modules:
            os.kill(modules[0], signal.SIGKILL)
            self.checks.eventually("killed, the module is started again after its restart-interval",
                                   lambda: [pid for pid in _children(waybar, recursive=True)
                                            if b"--format\0waybar" in _cmdline(pid) and pid != modules[0]], WAIT)

    def without_a_tray(self):
        """kivobar quit ends the tray; then actions run alone."""
        quit_ = self.run("quit")
        self.checks.check("kivobar quit exits 0 and the tray ends",
                          quit_.returncode == 0 and self.session.processes.wait_exit("kivobar", WAIT),
                          f"{quit_.returncode}: {quit_.stderr!r}")
        self.item = None
        paused = self.run("pause")
        self.checks.check("with no tray running, kivobar pause prints its progress, pauses the agent and exits 0",
                          paused.returncode == 0 and paused.stdout == "Stopping…\n" and not self.agent.running(),
                          f"{paused.returncode}: {paused.stdout!r} {paused.stderr!r}")
        again = self.run("quit")
        self.checks.check("and kivobar quit exits 3: there is no tray to quit", again.returncode == 3, again.stderr)

    def run_all(self):
        """Every phase in order; an Abort ends the run with a FAIL line."""
        try:
            self.start()
            self.second_start_shows_state()
            self.actions_through_the_tray()
            self.launcher_actions()
            self.tray_not_answering()
            self.watch()
            self.waybar_module()
            self.without_a_tray()
        except (Abort, Timeout) as error:
            self.checks.fail(str(error))
        return self.checks


def _children(pid, recursive=False):
    """The processes whose parent is pid (and theirs, when recursive)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as stat:
                parent = int(stat.read().rsplit(b")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        if parent == pid:
            found.append(int(entry))
    if recursive:
        found += [grandchild for child in list(found) for grandchild in _children(child, True)]
    return found


def _cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            return cmdline.read()
    except OSError:
        return b""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the build folder (holds app/kivobar)")
    parser.add_argument("--source", required=True, help="the source folder (holds tools/stand-in-agent)")
    parser.add_argument("--quiet-seconds", type=int, default=60, help="how long --watch must stay silent")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.source = os.path.abspath(args.source)
    if not os.access(os.path.join(args.build, "app", "kivobar"), os.X_OK):
        print(f"FAIL: no {args.build}/app/kivobar: build the kivobar target first")
        return 1
    return run_in_session("kivo-cli-test", TOOLS, lambda session: CliScenario(args, session).run_all())


if __name__ == "__main__":
    sys.exit(main())
