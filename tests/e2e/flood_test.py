#!/usr/bin/python3
"""The tray against what a careless or hostile process on the same session bus can send it, and the command
line against races: floods of actions on the tray's own name, an action name of 30 MB, a process that holds
the tray's name before it or inherits it, a quit while a handed-over action is under way, parallel commands
with and without a tray, and a `--status --watch` whose reader has stopped reading.

Throughout, nothing may run twice: each run of the stand-in agent's tool and each terminal launch is recorded,
and the tray's menu must keep answering the panel within a second.

usage: flood_test.py --build BUILD_DIR --source SOURCE_DIR [--sanitized]

Under the sanitizers (--sanitized) the floods are a third as large, fewer commands run at once and a stalled
`--watch` has three seconds to end: each call and each program costs several times as much there, and what is
checked is the same.

Prints a PASS or FAIL line per check and a summary; exits 1 when any check failed.
"""

import fcntl
import glob
import os
import re
import signal
import subprocess
import sys
import termios
import threading
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from jeepney import DBusAddress, HeaderFields, new_error, new_method_call, new_method_return  # noqa: E402

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import (RecordingTerminal, StandInReleases, app_environment, start_kivobar,  # noqa: E402
                          tray_names, tray_path)
from kivodesk.bus import Bus  # noqa: E402
from kivodesk.checks import Abort, Checks  # noqa: E402
from kivodesk.menu_probe import MenuProbe  # noqa: E402
from kivodesk.notifications import NotificationServer  # noqa: E402
from kivodesk.panels import open_desktop  # noqa: E402
from kivodesk.scenario import parse_arguments, run_in_session  # noqa: E402
from kivodesk.tray import find_item, wait_item  # noqa: E402
from kivodesk.wait import Timeout, holds_within, wait_until  # noqa: E402

TOOLS = ["Xvfb", "dbus-daemon", "status-notifier-watcher", "gtk-sni-tray-standalone", "unshare"]
BUDGET = 480
WAIT = 20
ANSWER_LIMIT = 1.0  # seconds the menu may take to answer the panel, flood or not
REPLIES_WAIT = 120  # every call of a flood is answered within this, however slowly
HANDFUL = 5  # terminal launches a flood of requests for one may make at most
NOTIFICATIONS_AT_MOST = 2
REPLY_BYTES_LIMIT = 4096
STEP_DELAY = "2"  # seconds each step of the tool takes, so that a run can be caught under way
# Launches of one kind are admitted once within about a second: a flood waits until the one before is this long
# past, so that it is judged on its own.
LAUNCH_WINDOW = 2.5
SIGNAL_LIMIT = 1.0  # seconds a stalled --watch may take to end once signalled
PAGE = os.sysconf("SC_PAGE_SIZE")  # a pipe holds its bytes in pages

APPLICATION = "org.freedesktop.Application"
CONTROL = "io.kivo.KivoBar.Control"
NOT_APPLICABLE = "io.kivo.KivoBar.Error.NotApplicable"

ONLINE = "Reachable from your devices · via eu-1"
BUSY_PAUSING = "Stopping…"
LATEST = "9.9.9"
WAITING = [{"agent": "coder", "where": "~/src/shop", "detail": "Wants to run the tests", "run": "kivo-7"}]


def many_waiting(count):
    """Waiting sessions enough for a line of --status --json to be larger than a pipe holds."""
    return [{"agent": "coder", "where": f"~/src/repo-{i}", "detail": "d" * 60, "run": f"kivo-{i}"}
            for i in range(count)]


class Calls:
    """Method calls sent without waiting for each answer, and the answers. The bus lets a connection wait for
    only so many answers at once (128 by default), so the calls are spread over connections of their own, as a
    process that means harm would spread them."""

    PER_CONNECTION = 100

    def __init__(self, address):
        self.address = address
        self.buses = []
        self.answers = {}

    def close(self):
        for bus in self.buses:
            bus.close()

    def send(self, dest, path, interface, method, signature, arguments, count):
        """Sends the same call count times as fast as the bus takes them; keys for wait()."""
        message = new_method_call(DBusAddress(path, bus_name=dest, interface=interface), method, signature, arguments)
        keys = []
        for sent in range(count):
            if sent % self.PER_CONNECTION == 0:
                self.buses.append(Bus(self.address))
            connection = self.buses[-1].connection
            serial = next(connection.outgoing_serial)
            connection.send(message, serial=serial)
            keys.append((len(self.buses) - 1, serial))
        return keys

    def wait(self, keys, timeout):
        """The answers to the calls of keys that came within timeout, by key."""
        deadline = time.monotonic() + timeout
        for index in sorted({index for index, _ in keys}):
            wanted = {key for key in keys if key[0] == index}
            while not wanted <= self.answers.keys() and time.monotonic() < deadline:
                try:
                    message = self.buses[index].receive(timeout=max(0.05, deadline - time.monotonic()))
                except TimeoutError:
                    break
                serial = message.header.fields.get(HeaderFields.reply_serial)
                if serial is not None:
                    self.answers[(index, serial)] = message
        return {key: self.answers[key] for key in keys if key in self.answers}


def answer_kind(message):
    """("return", body) or ("error", its name, its text)."""
    if message.header.message_type.name == "error":
        body = message.body
        return ("error", message.header.fields.get(HeaderFields.error_name), body[0] if body else "")
    return ("return", message.body)


class Impostor(threading.Thread):
    """A process other than the tray on the tray's name, answering as a tray that lies would: every action
    applies and succeeded. Here it is this program, on a connection of its own."""

    def __init__(self, address, name):
        super().__init__(name="impostor", daemon=True)
        self.bus = Bus(address)
        self.name = name
        self.asked = []
        self.stopping = threading.Event()

    def take(self, queue=False):
        """Asks for the name; with queue, waits in line for it. The bus's answer: 1 owner, 2 in line, 3 taken."""
        return self.bus._driver("RequestName", self.name, 0 if queue else 4)[0]

    def run(self):
        while not self.stopping.is_set():
            try:
                message = self.bus.receive(timeout=0.2)
            except TimeoutError:
                continue
            except (OSError, ConnectionError):
                return
            if message.header.message_type.name != "method_call":
                continue
            fields = message.header.fields
            member = fields.get(HeaderFields.member)
            self.asked.append(member)
            if member == "Perform":
                reply = new_method_return(message, "bs", (True, ""))
            elif fields.get(HeaderFields.interface) in (APPLICATION, CONTROL):
                reply = new_method_return(message)
            else:
                reply = new_error(message, "org.freedesktop.DBus.Error.UnknownMethod", "s", ("no",))
            try:
                self.bus.send(reply)
            except (OSError, ConnectionError):
                return

    def stop(self):
        self.stopping.set()
        if self.ident is not None:
            self.join(5)
        self.bus.close()


class FloodRun:
    """One agent home, one tray at a time, and everything thrown at them."""

    def __init__(self, args, session):
        self.args = args
        self.session = session
        self.scale = 3 if args.sanitized else 1
        self.panel = open_desktop(session, "gtk")
        self.notifications = NotificationServer(session)
        self.terminal = RecordingTerminal(session)
        self.releases = StandInReleases(session, args.build)
        self.releases.set_latest(LATEST)
        self.kivobar = os.path.join(self.releases.build, "app", "kivobar")
        self.agent = StandInAgent(args.source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
        self.calls_path = session.path("tool-runs")
        self.checks = Checks("flood run", BUDGET)
        self.trays = 0
        self.last_launch = 0.0
        self.app = None
        self.item = None
        self.name = None
        self.path = None

    # ------------------------------------------------------------ helpers

    def env(self, **extra):
        """What every command gets: the agent home, the terminal, the record of the tool's runs."""
        return {**self.session.env, **app_environment(self.args.build, self.agent.home),
                "TERMINAL": self.terminal.path, "KIVO_STAND_IN_CALLS": self.calls_path, **extra}

    def start(self, *words, **extra):
        return subprocess.Popen([self.kivobar, *words], env=self.env(**extra), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def run(self, *words, **extra):
        """kivobar WORDS to its end: (status, stdout, stderr)."""
        process = self.start(*words, **extra)
        out, err = process.communicate(timeout=120)
        return process.returncode, out, err

    def runs(self, what=None):
        """The tool's runs so far, each as its arguments (only those that are what, when given)."""
        try:
            with open(self.calls_path, encoding="utf-8") as calls:
                found = [line.rstrip("\n").removeprefix("ARGS").strip() for line in calls]
        except FileNotFoundError:
            return []
        return [run for run in found if what is None or run == what]

    def launches_settled(self):
        """The terminal launches, once every terminal started has taken its script."""
        wait_until(lambda: not glob.glob(self.session.path("runtime", "kivo-*.command")), REPLIES_WAIT,
                   "the terminals started to take their scripts")
        return self.terminal.launches()

    def start_tray(self):
        """A new tray for the home, with each step of the tool slowed down; returns the process."""
        self.trays += 1
        name = f"kivobar-{self.trays}"
        self.app = start_kivobar(self.session, self.releases.build, self.agent.home, name=name,
                                 env={"TERMINAL": self.terminal.path, "KIVO_STAND_IN_CALLS": self.calls_path,
                                      "KIVO_STAND_IN_DELAY": STEP_DELAY})
        self.app.log_name = name
        return self.app

    def online(self):
        """The agent online, and the tray, when one runs, showing it."""
        if not self.agent.running():
            self.agent.up()
        if self.item is not None and self.app.poll() is None:
            wait_until(lambda: self.item.headline() == ONLINE, WAIT, "the tray to show the agent online")

    def control(self, calls, interface, method, signature, arguments, count):
        return calls.send(self.name, self.path, interface, method, signature, arguments, count)

    # ------------------------------------------------------------ phases

    def stalled_watch(self):
        """A --watch whose reader stopped reading, stuck writing a change longer than the pipe holds, ends at
        once on SIGTERM, SIGINT or SIGHUP with status 0."""
        watches = {}
        for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            watches[signum] = subprocess.Popen([self.kivobar, "--status", "--watch", "--json"], env=self.env(),
                                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                               stderr=subprocess.DEVNULL)
            self.session.on_close.append(lambda process=watches[signum]: _kill(process))
        # The first line goes out whole; then a change that no pipe holds.
        printed = all(holds_within(lambda watch=watch: _pipe_holds(watch.stdout.fileno()) > 0, WAIT)
                      for watch in watches.values())
        self.agent.set_needs_you(many_waiting(1000))
        for signum, watch in watches.items():
            # Within a page of full, with a line twice as long to write: it waits for a reader.
            full = printed and holds_within(
                lambda watch=watch: _pipe_holds(watch.stdout.fileno()) > _pipe_size(watch.stdout.fileno()) - PAGE, WAIT)
            self.checks.check(f"--watch fills the pipe nobody reads with its lines (for {signal.Signals(signum).name})",
                              full)
            if not full:
                continue
            os.kill(watch.pid, signum)
            sent = time.monotonic()
            ended = holds_within(lambda watch=watch: watch.poll() is not None, 5 * SIGNAL_LIMIT * self.scale,
                                 interval=0.02)
            took = time.monotonic() - sent
            self.checks.check(f"on {signal.Signals(signum).name} the stalled --watch ends within "
                              f"{SIGNAL_LIMIT * self.scale:g} s with status 0 (took {took:.2f} s, status "
                              f"{watch.poll()})",
                              ended and took < SIGNAL_LIMIT * self.scale and watch.returncode == 0)
            _kill(watch)
        self.agent.set_needs_you(WAITING)
        self.agent.wait_status(lambda record: len(record.get("needs_you", [])) == len(WAITING), WAIT,
                               "one waiting session")

    def first_tray(self):
        """The tray starts; its name on the bus is the home's."""
        app = self.start_tray()
        self.item = wait_item(self.session.bus(), app.pid)
        names = wait_until(lambda: tray_names(self.session.bus()), WAIT, "the tray's name on the bus")
        self.checks.check(f"the tray owns one per-home name ({names})",
                          len(names) == 1 and self.session.bus().name_pid(names[0]) == app.pid)
        self.name, self.path = names[0], tray_path(names[0])
        self.online()
        wait_until(lambda: any(row.label.startswith("coder") for row in self.item.visible_rows()), WAIT,
                   "the waiting session in the menu")

    def open_session_floods(self):
        """1,000 requests to open the first waiting session in a second, through the launcher's interface and
        through ours: a handful of terminals at most, every call answered, the menu answering meanwhile."""
        count = 1000 // self.scale
        for interface, method, signature, arguments in (
                (APPLICATION, "ActivateAction", "sava{sv}", ("open-session", [("x", 1)], {})),
                (CONTROL, "Perform", "sav", ("open-session", [("x", 1)]))):
            # The flood before may have opened one of this kind a moment ago.
            time.sleep(max(0.0, self.last_launch + LAUNCH_WINDOW - time.monotonic()))
            before = len(self.launches_settled())
            calls = Calls(self.session.bus_address)
            try:
                with MenuProbe(self.session.bus_address, self.item) as probe:
                    sent = time.monotonic()
                    keys = self.control(calls, interface, method, signature, arguments, count)
                    sending = time.monotonic() - sent
                    answers = calls.wait(keys, REPLIES_WAIT)
                    launched = self.launches_settled()[before:]
                    self.last_launch = time.monotonic()
            finally:
                calls.close()
            kinds = [answer_kind(message) for message in answers.values()]
            refused = [kind for kind in kinds if kind[0] == "error" and kind[1] != NOT_APPLICABLE]
            self.checks.check(f"{count} {method}(open-session, 1) sent in {sending:.2f} s open {len(launched)} "
                              f"terminal(s), at most {HANDFUL}, each for that session",
                              1 <= len(launched) <= HANDFUL
                              and all("agent --on this watch kivo-7" in command for command in launched))
            self.checks.check(f"every one of them is answered, done or not applicable now ({len(answers)} answers, "
                              f"{len(refused)} other errors)", len(answers) == count and not refused,
                              "; ".join(map(str, refused[:3])))
            self.checks.check(f"meanwhile the menu answers within {ANSWER_LIMIT:g} s (slowest "
                              f"{probe.slowest * 1000:.0f} ms)", probe.answered_within(ANSWER_LIMIT), "; ".join(probe.unanswered[:3]))
            self.checks.check("the tray still runs", self.app.poll() is None)

    def activate_flood(self):
        """1,000 Activate in a second: at most two notifications of the state, a replaced one counting once."""
        count = 1000 // self.scale
        before = len(self.notifications.notifications())
        calls = Calls(self.session.bus_address)
        try:
            with MenuProbe(self.session.bus_address, self.item) as probe:
                answers = calls.wait(self.control(calls, APPLICATION, "Activate", "a{sv}", ({},), count), REPLIES_WAIT)
                _settle(lambda: len(self.notifications.notifications()))
        finally:
            calls.close()
        notes = self.notifications.notifications()[before:]
        separate = sorted({note["id"] for note in notes})
        self.checks.check(f"{count} Activate show at most {NOTIFICATIONS_AT_MOST} separate notifications "
                          f"({len(notes)} Notify calls, ids {separate[:10]})",
                          1 <= len(separate) <= NOTIFICATIONS_AT_MOST)
        self.checks.check(f"every Activate is answered ({len(answers)})", len(answers) == count)
        self.checks.check(f"meanwhile the menu answers within {ANSWER_LIMIT:g} s (slowest "
                          f"{probe.slowest * 1000:.0f} ms)", probe.answered_within(ANSWER_LIMIT), "; ".join(probe.unanswered[:3]))

    def huge_action_name(self):
        """An unknown action name of 30 MB is refused in a short reply, and the tray goes on answering."""
        name = "x" * (30 << 20)
        for interface, method, signature, arguments in (
                (APPLICATION, "ActivateAction", "sava{sv}", (name, [], {})),
                (CONTROL, "Perform", "sav", (name, []))):
            calls = Calls(self.session.bus_address)
            try:
                answers = calls.wait(self.control(calls, interface, method, signature, arguments, 1), 60)
            finally:
                calls.close()
            reply = next(iter(answers.values()), None)
            size = len(reply.serialise(serial=1)) if reply is not None else None
            self.checks.check(f"{method} with a 30 MB action name gets an error reply under {REPLY_BYTES_LIMIT} bytes "
                              f"({size} bytes)",
                              reply is not None and answer_kind(reply)[0] == "error" and size < REPLY_BYTES_LIMIT)
        self.checks.check("and the menu still answers", holds_within(lambda: self.item.headline() == ONLINE, WAIT))

    def pause_floods(self):
        """100 Perform(pause) on the bus in a second, then parallel `kivobar pause`: each time one run of
        `kivo down` and no failure; another action of the tool asked for meanwhile does not apply, naming what
        is under way."""
        self.online()
        downs = len(self.runs("down"))
        calls = Calls(self.session.bus_address)
        try:
            keys = self.control(calls, CONTROL, "Perform", "sav", ("pause", []), 100)
            under_way = holds_within(lambda: self.item.has_row(BUSY_PAUSING), WAIT, interval=0.05)
            update = self.run("update") if under_way else (None, "", "")
            answers = calls.wait(keys, REPLIES_WAIT)
        finally:
            calls.close()
        self.checks.check(f"100 Perform(pause) run kivo down once ({len(self.runs('down')) - downs} runs)",
                          len(self.runs("down")) - downs == 1)
        kinds = [answer_kind(message) for message in answers.values()]
        failed = [kind for kind in kinds if kind != ("return", (True, "")) and kind[:2] != ("error", NOT_APPLICABLE)]
        self.checks.check(f"every one is answered, done or not applicable now ({len(answers)} answers, "
                          f"{kinds.count(('return', (True, '')))} done)",
                          len(answers) == 100 and ("return", (True, "")) in kinds and not failed,
                          "; ".join(map(str, failed[:3])))
        self.checks.check(f"kivobar update while the pause is under way does not apply now (3) and says "
                          f"\"{BUSY_PAUSING}\"", update[0] == 3 and BUSY_PAUSING in update[2]
                          and not self.runs("update"), f"{update[0]}: {update[2]!r}, ran {self.runs('update')}")

        self.online()
        downs = len(self.runs("down"))
        processes = 20 if not self.args.sanitized else 8
        ended = [_ended(process) for process in [self.start("pause") for _ in range(processes)]]
        statuses = sorted(status for status, _, _ in ended)
        self.checks.check(f"{processes} kivobar pause at once run kivo down once ({len(self.runs('down')) - downs} "
                          f"runs) and exit 0 or 3, one at least 0 ({statuses})",
                          len(self.runs("down")) - downs == 1 and set(statuses) <= {0, 3} and 0 in statuses,
                          "; ".join(err for status, _, err in ended if status not in (0, 3))[:500])

    def quit_during_pause(self):
        """kivobar quit while a handed-over pause is under way: the pause runs once, and its client says how it
        ended, or that nobody can tell any more."""
        self.online()
        downs = len(self.runs("down"))
        pausing = self.start("pause")
        under_way = holds_within(lambda: self.item.has_row(BUSY_PAUSING), WAIT, interval=0.05)
        quit_ = self.run("quit")
        out, err = pausing.communicate(timeout=REPLIES_WAIT)
        self.session.processes.wait_exit(self.app.log_name, WAIT)
        holds_within(lambda: not self.agent.running(), WAIT)
        ran = len(self.runs("down")) - downs
        lines = err.splitlines()
        self.checks.check(f"kivobar quit during a handed-over pause (quit exits {quit_[0]}): kivo down runs once "
                          f"({ran} runs)", under_way and ran == 1, f"quit said {quit_[2]!r}")
        self.checks.check(f"the pause's client exits 0 with the tray's outcome or 1 saying it is unknown "
                          f"({pausing.returncode})",
                          pausing.returncode == 0 or (pausing.returncode == 1 and lines
                                                      and all(line.startswith("kivobar: ") for line in lines)),
                          f"{out!r} {err!r}")
        if self.app.poll() is None:
            self.item.click_label("Quit Kivo Bar")
            self.session.processes.wait_exit(self.app.log_name, WAIT)
        self.item = None

    def parallel_without_a_tray(self):
        """With no tray, kivobar pause five times at once: one runs the tool, the others do not apply now."""
        self.online()
        downs = len(self.runs("down"))
        copies = 5
        started = [self.start("pause", KIVO_STAND_IN_DELAY=STEP_DELAY) for _ in range(copies)]
        ended = [_ended(process) for process in started]
        statuses = sorted(status for status, _, _ in ended)
        self.checks.check(f"with no tray, {copies} kivobar pause at once run kivo down once, one exits 0 and the "
                          f"others 3 ({statuses}, {len(self.runs('down')) - downs} runs)",
                          statuses == [0] + [3] * (copies - 1) and len(self.runs("down")) - downs == 1,
                          "; ".join(f"{status}: {err!r}" for status, _, err in ended))

    def impostors(self):
        """Another process on the tray's name, taken before the tray starts or inherited when it quits: the tray
        still shows its icon and menu and says once who holds its name; the command line never takes the
        impostor's word that an action is done."""
        bus = self.session.bus()
        for how in ("holds the name before the tray starts", "waits in line and inherits the name"):
            impostor = Impostor(self.session.bus_address, self.name)
            try:
                if how.startswith("holds"):
                    self.checks.check(f"an impostor {how}", impostor.take() == 1)
                else:
                    first = self.start_tray()
                    wait_until(lambda: bus.name_pid(self.name) == first.pid, WAIT, "the tray's name")
                    in_line = impostor.take(queue=True) == 2
                    quit_ = self.run("quit")
                    self.checks.check(f"an impostor {how} (quit exits {quit_[0]})",
                                      in_line and self.session.processes.wait_exit(first.log_name, WAIT)
                                      and holds_within(lambda: bus.owner(self.name) == impostor.bus.unique_name, WAIT))
                # Answering from here on; the connection is the thread's alone.
                impostor.start()
                self.tray_beside(impostor, how)
            finally:
                impostor.stop()
            if self.app.poll() is None and self.item is not None:
                self.item.click_label("Quit Kivo Bar")
            self.session.processes.wait_exit(self.app.log_name, WAIT)
            self.session.processes.stop(self.app.log_name)
            self.item = None

    def tray_beside(self, impostor, how):
        holder = str(os.getpid())
        notes_before = len(self.notifications.notifications())
        app = self.start_tray()
        self.item = None
        shown = holds_within(lambda: find_item(self.session.bus(), app.pid) or app.poll() is not None, WAIT)
        self.item = find_item(self.session.bus(), app.pid) if shown and app.poll() is None else None
        self.checks.check(f"with an impostor that {how}, the tray shows its icon and menu",
                          self.item is not None and bool(self.item.headline()),
                          f"the tray said: {self.session.processes.output(app.log_name).strip()[-500:]!r}")
        naming = re.compile(rf"\b{holder}\b")
        said = lambda: [line for line in self.session.processes.output(app.log_name).splitlines()  # noqa: E731
                        if naming.search(line)]
        notes = lambda: [note for note in self.notifications.notifications()[notes_before:]  # noqa: E731
                         if naming.search(note["summary"] + "\n" + note["body"])]
        holds_within(lambda: said() and notes(), WAIT)
        self.online()
        downs = len(self.runs("down"))
        status, out, err = self.run("pause")
        ran = len(self.runs("down")) - downs
        self.checks.check(f"kivobar pause beside the impostor exits 0 only having run kivo down itself, and says "
                          f"so (exit {status}, {ran} runs; the impostor was asked {sorted(set(impostor.asked))})",
                          ((status == 0 and ran == 1) or (status != 0 and ran == 0)) and "Perform" not in impostor.asked
                          and any(line.startswith("kivobar: ") for line in err.splitlines()),
                          f"{out!r} {err!r}")
        self.checks.check(f"the tray says once on its standard error and once as a notification which process holds "
                          f"its name ({holder}): {said()[:2]}, {[note['summary'] for note in notes()][:2]}",
                          len(said()) == 1 and len(notes()) == 1)

    # ------------------------------------------------------------ the run

    def run_all(self):
        try:
            self.panel.start()
            self.notifications.start()
            self.agent.make()
            self.session.on_close.append(self.agent.down)
            self.agent.up()
            self.stalled_watch()
            self.first_tray()
            self.open_session_floods()
            self.activate_flood()
            self.huge_action_name()
            self.pause_floods()
            self.quit_during_pause()
            self.parallel_without_a_tray()
            self.impostors()
        except (Abort, Timeout) as error:
            self.checks.fail(str(error))
        return self.checks


def _pipe_holds(fd):
    """How many bytes wait in the pipe that fd reads."""
    waiting = bytearray(4)
    fcntl.ioctl(fd, termios.FIONREAD, waiting)
    return int.from_bytes(waiting, sys.byteorder)


def _pipe_size(fd):
    return fcntl.fcntl(fd, 1032)  # F_GETPIPE_SZ


def _settle(count, quiet=1.0, timeout=REPLIES_WAIT):
    """Waits until count() has not changed for quiet seconds: what a flood set going has all arrived."""
    last, since = count(), time.monotonic()
    deadline = time.monotonic() + timeout
    while time.monotonic() - since < quiet and time.monotonic() < deadline:
        time.sleep(0.1)
        now = count()
        if now != last:
            last, since = now, time.monotonic()


def _ended(process):
    """(status, stdout, stderr) of a kivobar started with Popen, once it has ended."""
    out, err = process.communicate(timeout=REPLIES_WAIT)
    return process.returncode, out, err


def _kill(process):
    if process.poll() is None:
        process.kill()
        process.wait(5)


def main():
    args = parse_arguments(__doc__, lambda parser: parser.add_argument(
        "--sanitized", action="store_true", help="the build runs under the sanitizers: smaller floods"))
    return run_in_session("kivo-flood-test", TOOLS, lambda session: FloodRun(args, session).run_all())


if __name__ == "__main__":
    sys.exit(main())
