#!/usr/bin/python3
"""Runs the demo's tour as a newcomer would and checks that it shows every state and ends cleanly:
without a display (on its own private desktop), and in a desktop session (a private one standing in
for the user's) ended by "Quit Kivo Bar" and by Ctrl+C. Each run must exit 0 and leave nothing it
started running.

usage: demo_test.py --build BUILD_DIR --source SOURCE_DIR
"""

import argparse
import os
import re
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.checks import Checks  # noqa: E402
from kivodesk.panels import GtkPanel  # noqa: E402
from kivodesk.processes import Interrupted, ignore_signals, interrupt_on_signals  # noqa: E402
from kivodesk.session import Session, base_environment  # noqa: E402
from kivodesk.tray import find_item  # noqa: E402
from kivodesk.wait import holds_within, wait_until  # noqa: E402

STATES = ["Online", "A session waiting", "Paused", "Connecting", "Not set up", "A failing action"]
ICONS = {"Online": "kivobar-online-symbolic", "A session waiting": "kivobar-needs-you-symbolic",
         "Paused": "kivobar-offline-symbolic", "Connecting": "kivobar-offline-symbolic",
         "Not set up": "kivobar-offline-symbolic"}
FAILURE = "error: the relay would not let go (the demo made this step fail)"
DEMO_TIMEOUT = 120


class Demo:
    """One run of tools/desktop/demo.py, its output in a file."""

    def __init__(self, args, env, output_path, pace=None):
        argv = ["/usr/bin/python3", os.path.join(args.source, "tools", "desktop", "demo.py"), "--build", args.build,
                "--source", args.source]
        if pace is not None:
            argv += ["--pace", str(pace)]
        self.output_path = output_path
        with open(output_path, "wb") as output:
            self.process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=output,
                                            stderr=subprocess.STDOUT)

    def output(self):
        """What the demo printed so far."""
        with open(self.output_path, encoding="utf-8", errors="replace") as output:
            return output.read()

    def wait(self):
        """The exit status, once the demo ended (killed when it overruns)."""
        try:
            return self.process.wait(DEMO_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None

    def folder(self):
        """The demo's temporary folder, from the agent home it names."""
        match = re.search(r"runs in (\S+)/agent-home", self.output())
        return match.group(1) if match else None


def left_running(folder):
    """Processes whose command line or environment mention the demo's folder."""
    if not folder:
        return []
    needle = folder.encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline, open(f"/proc/{entry}/environ", "rb") as environ:
                if needle in cmdline.read() or needle in environ.read():
                    found.append(int(entry))
        except OSError:
            continue
    return found


def state_block(text, title):
    """The lines the demo printed for one state."""
    start = text.find(f"== {title}\n")
    if start < 0:
        return ""
    end = text.find("\n== ", start + 1)
    return text[start:end if end >= 0 else len(text)]


def check_ended(checks, demo, how):
    """The demo exited 0 and nothing it started still runs."""
    status = demo.wait()
    checks.check(f"{how}: the demo exits with status 0 (got {status})", status == 0)
    folder = demo.folder()
    checks.check(f"{how}: nothing the demo started keeps running, and its folder is gone ({folder})",
                 folder is not None and not left_running(folder) and not os.path.exists(folder),
                 detail=f"still running: {left_running(folder)}")


def without_display(args, checks, scratch):
    """No display: the tour runs on a private desktop, prints each state, and ends by itself."""
    env = base_environment()
    demo = Demo(args, env, os.path.join(scratch, "headless.out"))
    check_ended(checks, demo, "without a display")
    text = demo.output()
    for title in STATES:
        block = state_block(text, title)
        expected = ICONS.get(title)
        checks.check(f'without a display the tour shows "{title}"' + (f" with {expected}" if expected else ""),
                     block != "" and (expected is None or f"icon: {expected}" in block),
                     detail=block.strip().replace("\n", " | ")[:400])
    checks.check("the failing pause shows the agent's failure line in the menu",
                 FAILURE in state_block(text, "A failing action"))
    return text


def in_a_desktop(args, checks, scratch, end_with):
    """A desktop session: the tray shows in the session's panel; the run ends by Quit or by Ctrl+C."""
    session = Session("kivo-demo-test-desktop")
    demo = None
    try:
        session.start_x()
        session.start_bus()
        GtkPanel(session).start()
        env = base_environment({"DISPLAY": session.display, "DBUS_SESSION_BUS_ADDRESS": session.bus_address,
                                "XDG_RUNTIME_DIR": session.path("runtime")})
        demo = Demo(args, env, os.path.join(scratch, f"desktop-{end_with}.out"), pace=0.5)
        if end_with == "quit":
            reached = holds_within(lambda: "stays in your panel" in demo.output(), DEMO_TIMEOUT)
            checks.check("in a desktop session the tour runs through and KivoBar stays in the panel", reached,
                         detail=demo.output()[-400:])
            item = wait_until(lambda: demo_item(session, demo), 20, "the demo's tray item")
            item.click_label("Quit Kivo Bar")
            check_ended(checks, demo, 'in a desktop session, after "Quit Kivo Bar"')
            checks.check('the demo says KivoBar quit', "KivoBar quit" in demo.output())
        else:
            reached = holds_within(lambda: "== Paused" in demo.output(), DEMO_TIMEOUT)
            checks.check("in a desktop session the tour is under way", reached)
            demo.process.send_signal(2)
            check_ended(checks, demo, "in a desktop session, after Ctrl+C")
    finally:
        if demo is not None and demo.process.poll() is None:
            demo.process.kill()
            demo.process.wait()
        session.close()


def demo_item(session, demo):
    """The tray item of the kivobar the demo started, found through the session's watcher."""
    bus = session.bus()
    for name in bus.names():
        if name.startswith(":"):
            pid = bus.name_pid(name)
            if pid and _is_kivobar(pid):
                item = find_item(bus, pid)
                if item:
                    return item
    return None


def _is_kivobar(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            return cmdline.read().split(b"\0")[0].endswith(b"/app/kivobar")
    except OSError:
        return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.source = os.path.abspath(args.source)

    interrupt_on_signals()
    checks = Checks("demo end-to-end", 400)
    scratch = Session("kivo-demo-test")
    try:
        without_display(args, checks, scratch.dir)
        in_a_desktop(args, checks, scratch.dir, "quit")
        in_a_desktop(args, checks, scratch.dir, "interrupt")
    except (Interrupted, Exception) as error:  # noqa: BLE001 - anything unforeseen still cleans up
        checks.fail(f"the run stopped: {type(error).__name__}: {error}")
    finally:
        ignore_signals()
        if checks.failed:
            for entry in sorted(os.listdir(scratch.dir)):
                if entry.endswith(".out"):
                    with open(os.path.join(scratch.dir, entry), encoding="utf-8", errors="replace") as out:
                        print(f"--- {entry}\n{out.read()[-3000:]}")
        scratch.close()
    print(checks.summary())
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
