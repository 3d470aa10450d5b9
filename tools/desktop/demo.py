#!/usr/bin/python3
"""A guided tour of KivoBar against the stand-in Kivo agent, moved through its states every few seconds.

In a desktop session (a display and a session bus) the tray shows in the user's own panel; without one
it runs on a private virtual desktop and the menu is printed as the panel reads it at each state.
Ctrl+C or "Quit Kivo Bar" ends everything the tour started; nothing keeps running afterwards.

usage: demo.py --build BUILD_DIR --source SOURCE_DIR [--pace SECONDS] [--private]
"""

import argparse
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import start_kivobar  # noqa: E402
from kivodesk.bus import Bus, BusError  # noqa: E402
from kivodesk.panels import GtkPanel  # noqa: E402
from kivodesk.processes import Interrupted, Processes, ignore_signals, interrupt_on_signals  # noqa: E402
from kivodesk.session import Session  # noqa: E402
from kivodesk.tray import find_item, find_item_of_process  # noqa: E402
from kivodesk.wait import holds_within  # noqa: E402

PAUSED = "Kivo is paused: this computer is unreachable"
CONNECTING = "Kivo is connecting…"
NOT_SET_UP = "Kivo isn't set up on this computer"
FAILURE = "error: the relay would not let go (the demo made this step fail)"
WAITING = [{"agent": "coder", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "kivo-7"}]
SHOW_WAIT = 20


class AppEnded(Exception):
    """The user quit KivoBar from its menu."""


def session_bus_address():
    """The address of this login's session bus, or None when there is none to reach."""
    address = os.environ.get("DBUS_SESSION_BUS_ADDRESS")
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if not address and runtime and stat.S_ISSOCK(_mode(os.path.join(runtime, "bus"))):
        address = f"unix:path={runtime}/bus"
    if not address:
        return None
    try:
        Bus(address).close()
    except BusError:
        return None
    return address


def _mode(path):
    try:
        return os.stat(path).st_mode
    except OSError:
        return 0


class UserDesktop:
    """The user's own desktop session: the tray goes into their panel."""

    private = False

    def __init__(self, build, address):
        self.build = build
        self.dir = tempfile.mkdtemp(prefix="kivo-demo.")
        self.processes = Processes(self.dir)
        self.bus = Bus(address)
        self.app = None

    def prepare(self):
        """Nothing to start: the user's desktop is there."""

    def path(self, *parts):
        """A path inside the demo's temporary folder."""
        return os.path.join(self.dir, *parts)

    def start_app(self, home):
        """Starts kivobar with the user's own environment, pointed at the demo's agent home."""
        env = dict(os.environ)
        env["KIVO_HOME"] = home
        # The icons are looked up by theme name, as for an installed app.
        data_dirs = os.environ.get("XDG_DATA_DIRS") or "/usr/local/share:/usr/share"
        env["XDG_DATA_DIRS"] = f"{os.path.join(self.build, 'share')}:{data_dirs}"
        self.app = self.processes.start("kivobar", [os.path.join(self.build, "app", "kivobar")], env=env)

    def find_item(self):
        """The app's item: through the panel's watcher, else at the usual path of its connection."""
        return find_item(self.bus, self.app.pid) or find_item_of_process(self.bus, self.app.pid)

    def logs(self):
        """The tail of the app's log."""
        return self.processes.logs()

    def close(self):
        """Stops the app and removes the temporary folder."""
        self.processes.stop_all()
        self.bus.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class PrivateDesktop:
    """A private X server, session bus and GTK tray bar, for a machine with no desktop session."""

    private = True

    def __init__(self, build):
        self.build = build
        self.session = Session("kivo-demo")
        self.processes = self.session.processes
        self.bus = None
        self.app = None

    def prepare(self):
        """Starts the X server, the bus and the panel."""
        self.session.start_x()
        self.session.start_bus()
        GtkPanel(self.session).start()
        self.bus = self.session.bus()

    def path(self, *parts):
        """A path inside the private desktop's temporary folder."""
        return self.session.path(*parts)

    def start_app(self, home):
        """Starts kivobar on the private desktop."""
        self.app = start_kivobar(self.session, self.build, home)

    def find_item(self):
        """The app's item, through the private panel's watcher."""
        return find_item(self.bus, self.app.pid)

    def logs(self):
        """The tail of every process's log."""
        return self.session.logs()

    def close(self):
        """Stops everything and removes the temporary folder."""
        self.session.close()


class Tour:
    """Moves the stand-in agent from state to state and says what to look at in the tray."""

    def __init__(self, stage, agent, pace):
        self.stage = stage
        self.agent = agent
        self.pace = pace
        self.item = None

    def say(self, text):
        """One paragraph for the person watching."""
        print(text, flush=True)

    def app_running(self):
        """Raises AppEnded once the user quit KivoBar."""
        if self.stage.app.poll() is not None:
            raise AppEnded()
        return True

    def wait_for_item(self):
        """Finds the app's tray item; None when this desktop shows none."""
        found = holds_within(lambda: self.app_running() and self.stage.find_item(), SHOW_WAIT)
        self.item = self.stage.find_item() if found else None
        return self.item

    def shows(self, predicate):
        """Waits until the tray shows what predicate checks (when the tray can be read at all)."""
        self.app_running()
        if self.item is None:
            return True
        return holds_within(lambda: self.app_running() and predicate(self.item), SHOW_WAIT)

    def step(self, title, look_at, predicate):
        """Shows one state: waits for it, says what to look at, prints the tray as the panel reads it, then lingers."""
        shown = self.shows(predicate)
        self.say(f"\n== {title}")
        self.say(f"   {look_at}")
        if self.item is not None:
            try:
                self.say(f"   icon: {self.item.prop('IconName')}")
                self.say("   menu, as the panel reads it:\n" + self.item.menu_text("     "))
            except BusError as error:
                self.say(f"   (the menu could not be read: {error})")
        if not shown:
            self.say("   (the tray did not show this state in time)")
        self.linger()

    def linger(self):
        """Gives the person time to look, ending early if they quit the app."""
        end = time.monotonic() + self.pace
        while time.monotonic() < end:
            self.app_running()
            time.sleep(min(0.2, max(0.0, end - time.monotonic())))

    def run(self):
        """The whole tour."""
        self.agent.set_relays(["eu-1"])
        self.step("Online", "The icon shows the filled mountains; the menu's first line says the computer is reachable "
                  "through eu-1, the second how many devices are connected.",
                  lambda item: (item.headline() or "").startswith("Reachable"))

        self.agent.set_needs_you(WAITING)
        self.step("A session waiting", 'The icon becomes the speech bubble; "Needs you" lists the session. Picking it '
                  "would open the session in a terminal.", lambda item: item.has_row("Needs you"))

        self.agent.set_needs_you([])
        # The agent reports the session gone before it stops, or the stopped agent's last record keeps it.
        self.agent.wait_status(lambda status: status.get("needs_you") == [], what="the session to leave")
        self.agent.kivo("down")
        self.step("Paused", 'The agent was stopped: the outlined mountains, and "Resume Kivo" in place of "Pause Kivo".',
                  lambda item: item.headline() == PAUSED)

        self.agent.set_relays([])
        self.agent.up()
        self.step("Connecting", "The agent runs but has no relay yet: the outlined mountains and "
                  f'"{CONNECTING}".', lambda item: item.headline() == CONNECTING)

        self.agent.kivo("down")
        os.chmod(self.agent.tool, 0o644)
        self.step("Not set up", 'The agent tool cannot run: "Set up this computer…" is dimmed and "Install Kivo…" '
                  "offers to install it.", lambda item: item.headline() == NOT_SET_UP)

        os.chmod(self.agent.tool, 0o755)
        self.agent.set_relays(["eu-1"])
        self.agent.up()
        self.shows(lambda item: item.has_row("Pause Kivo"))
        self.failing_action()

        self.agent.remove("fail-down")
        self.say("\n== The tour is over.")

    def failing_action(self):
        """Makes the agent's "down" fail and picks "Pause Kivo", so the menu shows the failure line."""
        self.agent.write("fail-down", FAILURE + "\n")
        if self.item is None or not self.item.click_label("Pause Kivo"):
            self.say('\n== A failing action\n   (the demo could not pick "Pause Kivo" here: pick it in the menu '
                     "yourself to see the failure line)")
            self.linger()
            return
        self.step("A failing action", 'The demo picked "Pause Kivo" and the agent refused: the menu shows the last '
                  "line the agent printed, under the headline.", lambda item: item.has_row(FAILURE))


def print_status(build, home):
    """What `kivobar --status` says about the demo agent."""
    print("$ kivobar --status", flush=True)
    subprocess.run([os.path.join(build, "app", "kivobar"), "--status"], env={**os.environ, "KIVO_HOME": home},
                   stdin=subprocess.DEVNULL, timeout=30, check=False)


PRIVATE_DESKTOP_TOOLS = ["Xvfb", "dbus-daemon", "status-notifier-watcher", "gtk-sni-tray-standalone"]


def open_stage(args):
    """The user's desktop when there is one to show the tray in, else a private one."""
    address = None if args.private else session_bus_address()
    if address and (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
        return UserDesktop(args.build, address)
    missing = [tool for tool in PRIVATE_DESKTOP_TOOLS if shutil.which(tool) is None]
    if missing:
        raise RuntimeError(f"no desktop session to show the tray in, and no private one: {', '.join(missing)} "
                           "missing (scripts/setup.sh --for demo installs them when DISPLAY is unset)")
    return PrivateDesktop(args.build)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the build folder (holds app/kivobar)")
    parser.add_argument("--source", required=True, help="the source folder (holds tools/stand-in-agent)")
    parser.add_argument("--pace", type=float, help="seconds to linger on each state (default 6 on a desktop, 0 without)")
    parser.add_argument("--private", action="store_true", help="use a private virtual desktop even in a desktop session")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.source = os.path.abspath(args.source)

    interrupt_on_signals()
    stage = None
    agent = None
    status = 0
    try:
        stage = open_stage(args)
        stage.prepare()
        pace = args.pace if args.pace is not None else (0 if stage.private else 6)
        agent = StandInAgent(args.source, stage.path("agent-home"), stage.processes.log_path("kivo-tool"))
        agent.make()
        agent.up()
        print(f"The stand-in Kivo agent runs in {agent.home} (removed at the end).\n", flush=True)
        print_status(args.build, agent.home)
        stage.start_app(agent.home)
        tour = Tour(stage, agent, pace)
        if stage.private:
            print("\nNo desktop session here: KivoBar runs on a private virtual desktop, and each state's icon "
                  "and menu are printed as the panel reads them.", flush=True)
        else:
            print("\nKivoBar is in your panel. The tour changes the agent every few seconds; Ctrl+C or "
                  '"Quit Kivo Bar" ends it.', flush=True)
        if tour.wait_for_item() is None:
            print("\nNo tray item could be found on this desktop's bus (a desktop without a StatusNotifier tray, such "
                  "as GNOME without the AppIndicator extension, shows none). The tour goes on; watch the agent's "
                  "states below.", flush=True)
        tour.run()
        if not stage.private:
            print('KivoBar stays in your panel against the stand-in agent: "Quit Kivo Bar" or Ctrl+C ends the demo.',
                  flush=True)
            holds_within(lambda: stage.app.poll() is not None, 24 * 3600, interval=0.5)
            raise AppEnded()
    except AppEnded:
        print("\nKivoBar quit: the demo ends.", flush=True)
    except Interrupted:
        print("\nInterrupted: the demo ends.", flush=True)
    except Exception as error:  # noqa: BLE001 - whatever went wrong, everything started is stopped below
        print(f"\ndemo: {type(error).__name__}: {error}", file=sys.stderr, flush=True)
        if stage is not None:
            print(stage.logs(), file=sys.stderr, flush=True)
        status = 1
    finally:
        ignore_signals()
        if agent is not None:
            agent.down()
        if stage is not None:
            stage.close()
    print("Everything the demo started has stopped.", flush=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
