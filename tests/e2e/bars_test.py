#!/usr/bin/python3
"""The README's i3blocks blocks and polybar module in the real bars, against the stand-in agent: what each shows
and in which colour, that it starts its command again when that ends, that nothing of it outlives the bar, and
that a click opens the first waiting session by its id. Then the lines KivoBar makes of hostile texts, handed
to the same bars: i3blocks reads them as any JSON reader does, and no text opens a polybar tag of its own.
i3blocks runs without a display; polybar runs on Xvfb.

usage: bars_test.py --build BUILD_DIR --source SOURCE_DIR --bar-line-tool TOOL

Prints a PASS or FAIL line per check and a summary; exits 1 when any check failed.
"""

import json
import os
import select
import signal
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import RecordingTerminal  # noqa: E402
from kivodesk.checks import Abort, Checks  # noqa: E402
from kivodesk.processes import pid_alive  # noqa: E402
from kivodesk.scenario import parse_arguments, run_in_session  # noqa: E402
from kivodesk.statusbar import i3blocks_blocks, polybar_module  # noqa: E402
from kivodesk.wait import Timeout, holds_within, wait_until  # noqa: E402
from kivodesk import xscreen  # noqa: E402

WAIT = 20
# i3blocks' wrapper waits 5 s before it starts an ended command again.
RESTART_WAIT = 30
BUDGET = 300

GREEN = (0x8a, 0xe2, 0x34)
ORANGE = (0xfc, 0xaf, 0x3e)
GREY = (0xba, 0xbd, 0xb6)
WAITING = [{"agent": "coder", "where": "repo-a", "detail": "approve the migration?", "run": "run-coder"},
           {"agent": "reviewer", "where": "docs", "run": "run-reviewer"}]
HOSTILE = [
    # Short enough to show whole: $M names a file of each bar's own.
    "%{A1:touch $M:}CLICK%{A} 50% %%{F#f00}red",
    'say "hi" \\n back\\\\slash \\u0041',
    "a & b <b>bold</b> &amp;",
    "bell\x07 escape\x1b[2J tab\t",
    "\u202eevil\u2066 turned",
    "one\u2028two",
    "x" * 5000,
    "a" + "\u0301" * 3000,
]
TOOLS = ["i3blocks", "polybar", "xdotool"]


def _children(pid):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat", "rb") as stat:
                    if int(stat.read().rsplit(b")", 1)[1].split()[1]) == pid:
                        found.append(int(entry))
            except (OSError, IndexError, ValueError):
                continue
    return found + [grandchild for child in found for grandchild in _children(child)]


def _cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            return cmdline.read()
    except OSError:
        return b""


class I3blocks:
    """i3blocks with a config of its own, fed clicks on its standard input, its status lines read as they come."""

    def __init__(self, session, name, config, env):
        path = session.path(f"{name}.conf")
        with open(path, "w", encoding="utf-8") as out:
            out.write(config)
        with open(session.processes.log_path(name), "ab") as log:
            self.process = subprocess.Popen(["i3blocks", "-c", path], env=env, stdin=subprocess.PIPE,
                                            stdout=subprocess.PIPE, stderr=log, start_new_session=True)
        session.on_close.append(lambda: self.stop(everything=True))
        self.pending = b""
        self.bars = []
        # i3bar's side of the click protocol starts with an open array.
        self.process.stdin.write(b"[\n")
        self.process.stdin.flush()

    def read(self):
        """Every status line printed so far, decoded (a list of blocks each); reads what has come."""
        fd = self.process.stdout.fileno()
        while select.select([fd], [], [], 0)[0]:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            self.pending += chunk
            *lines, self.pending = self.pending.split(b"\n")
            for line in lines:
                if line.startswith(b",["):
                    self.bars.append(json.loads(line[1:].decode("utf-8")))
        return self.bars

    def block(self, name):
        """The block of that name as the last status line shows it, or None."""
        bars = self.read()
        return next((block for block in bars[-1] if block.get("name") == name), None) if bars else None

    def click(self, name, button=1):
        """A click on the block of that name, as i3bar reports one."""
        self.process.stdin.write(json.dumps({"name": name, "button": button, "x": 1, "y": 1}).encode() + b"\n,")
        self.process.stdin.flush()

    def stop(self, everything=False):
        """Ends i3blocks, or with everything all that it started too."""
        if self.process.poll() is None:
            if everything:
                os.killpg(self.process.pid, signal.SIGKILL)
            else:
                self.process.terminate()
            self.process.wait(WAIT)


class BarsScenario:
    def __init__(self, args, session):
        self.args = args
        self.session = session
        self.kivobar = os.path.join(args.build, "app", "kivobar")
        self.agent = StandInAgent(args.source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
        self.terminal = RecordingTerminal(session)
        self.env = {**session.env, "KIVO_HOME": self.agent.home, "TERMINAL": self.terminal.path}
        self.checks = Checks("status bars end-to-end", BUDGET)

    def watches(self, root, fmt):
        """The `kivobar --status --watch --format FMT` processes below root."""
        return [pid for pid in _children(root) if f"--format\0{fmt}".encode() in _cmdline(pid)]

    def opened_first_session(self):
        """Whether the recording terminal was asked to open the first waiting session, and only that one."""
        launched = self.terminal.ran()
        return "run-coder" in launched and "run-reviewer" not in launched

    # ------------------------------------------------------------ i3blocks

    def i3blocks(self):
        config = i3blocks_blocks(self.args.source, self.kivobar, {"KIVO_HOME": self.agent.home})
        bar = I3blocks(self.session, "i3blocks", config, self.env)
        online = holds_within(lambda: (bar.block("kivo") or {}).get("full_text") == "Online", WAIT)
        block = bar.block("kivo") or {}
        self.checks.check(f"i3blocks shows the README's block: Online, green, no markup, not urgent ({block})",
                          online and block.get("color", "").lower() == "#8ae234" and block.get("markup") == "none"
                          and block.get("urgent") in (None, False))
        self.checks.check("and no button while no session waits",
                          (bar.block("kivo-session") or {}).get("full_text", "") == "")

        self.agent.set_needs_you(WAITING)
        waiting = holds_within(lambda: (bar.block("kivo") or {}).get("urgent") is True, WAIT)
        block = bar.block("kivo") or {}
        self.checks.check(f"with two sessions waiting it names the state and the count, orange and urgent ({block})",
                          waiting and block.get("full_text") == "Online · 2 sessions need you"
                          and block.get("short_text") == "Online · 2" and block.get("color", "").lower() == "#fcaf3e")
        self.checks.eventually("the button shows within its 5 s interval",
                               lambda: (bar.block("kivo-session") or {}).get("full_text") == "Open session", WAIT)
        bar.click("kivo-session")
        self.checks.eventually("a click on it opens the first waiting session, by its id", self.opened_first_session,
                               WAIT)

        shell = bar.process.pid
        watches = self.watches(shell, "i3blocks")
        self.checks.check(f"i3blocks runs kivobar --watch under its until loop ({watches})", len(watches) == 1)
        if watches:
            os.kill(watches[0], signal.SIGKILL)
            restarted = holds_within(lambda: [pid for pid in self.watches(shell, "i3blocks") if pid != watches[0]],
                                     RESTART_WAIT)
            self.checks.check("killed, kivobar --watch is started again", restarted)
            self.agent.down()
            self.checks.eventually("and the block follows the agent again: Paused",
                                   lambda: (bar.block("kivo") or {}).get("full_text", "").startswith("Paused"), WAIT)
        below = _children(shell)
        bar.stop()
        self.checks.eventually(f"once i3blocks has ended, nothing it started runs on ({below})",
                               lambda: not any(pid_alive(pid) for pid in below), WAIT)

    def i3blocks_hostile(self):
        """Lines made of hostile texts read by i3blocks 1.4 as any JSON reader reads them."""
        for text in HOSTILE:
            line = subprocess.run([self.args.bar_line_tool, "i3blocks", text], capture_output=True, check=True).stdout
            expected = json.loads(line)
            path = self.session.path("i3blocks-hostile-line")
            with open(path, "wb") as out:
                out.write(line)
            config = f"[kivo]\ncommand=cat {path}; exec sleep 60\ninterval=persist\nformat=json\n"
            bar = I3blocks(self.session, "i3blocks-hostile", config, self.env)
            try:
                shown = holds_within(lambda: bar.block("kivo") is not None, WAIT)
                block = bar.block("kivo") or {}
                self.checks.check(f"i3blocks shows {text[:40]!r} as KivoBar meant it "
                                  f"({block.get('full_text', '')[:60]!r})",
                                  shown and block.get("full_text") == expected["full_text"]
                                  and block.get("short_text") == expected["short_text"])
            finally:
                bar.stop(everything=True)

    # ------------------------------------------------------------ polybar

    def polybar(self):
        self.session.start_x(screen="1024x200x24")
        module = polybar_module(self.args.source, self.kivobar,
                                {"KIVO_HOME": self.agent.home, "TERMINAL": self.terminal.path})
        process = self._start_polybar("polybar", _polybar_bar("kivo", "kivo", 0) + module)
        self.agent.up()
        self.agent.set_needs_you([])
        self.checks.eventually("polybar shows the README's module in green while the agent is online",
                               lambda: self._bar_has(0, GREEN), WAIT)
        self.agent.set_needs_you(WAITING)
        self.checks.eventually("and in orange once sessions wait", lambda: self._bar_has(0, ORANGE), WAIT)

        # The module fills the bar's left end: a middle click there. The i3blocks button opened a session already.
        self.terminal.forget()
        subprocess.run(["xdotool", "mousemove", "20", "10", "click", "2"], env=self.session.env, check=True,
                       timeout=WAIT)
        self.checks.eventually("its middle click opens the first waiting session, by its id",
                               self.opened_first_session, WAIT)

        watches = self.watches(process.pid, "polybar")
        self.checks.check(f"polybar runs kivobar --watch ({watches})", len(watches) == 1)
        if watches:
            os.kill(watches[0], signal.SIGKILL)
            self.checks.eventually("killed, polybar starts it again",
                                   lambda: [pid for pid in self.watches(process.pid, "polybar") if pid != watches[0]],
                                   RESTART_WAIT)
            self.agent.set_needs_you([])
            self.checks.eventually("and the module follows the agent again: green once no session waits",
                                   lambda: self._bar_has(0, GREEN) and not self._bar_has(0, ORANGE), WAIT)
        subprocess.run(["xdotool", "mousemove", "20", "10", "click", "3"], env=self.session.env, check=True,
                       timeout=WAIT)
        self.checks.eventually("its right click pauses the running agent", lambda: not self.agent.running(), WAIT)
        self.checks.eventually("and the module turns grey", lambda: self._bar_has(0, GREY), WAIT)
        complaints = [line for line in self.session.processes.output("polybar").splitlines()
                      if "error" in line.lower()]
        self.session.processes.stop("polybar")
        self.checks.check("polybar has no complaint about the module", not complaints, "; ".join(complaints[:3]))

    def polybar_hostile(self):
        """A click on each hostile text runs nothing; the same click on a raw action tag does, so it lands."""
        bars = {}
        for number, text in enumerate(HOSTILE):
            line = subprocess.run([self.args.bar_line_tool, "polybar", text], capture_output=True, check=True).stdout
            bars[f"h{number}"] = line.decode()
        # Below them, clicked last, a raw action tag: once its command has run, every click before it was handled.
        bars["raw"] = "%{A1:touch $M:}CLICK HERE NOW%{A}"
        config = "".join(_polybar_bar(name, name, 20 * number) + self._script_module(name, line)
                         for number, (name, line) in enumerate(bars.items()))
        path = self.session.path("polybar-hostile.ini")
        with open(path, "w", encoding="utf-8") as out:
            out.write(config)
        marks = {name: self.session.path(f"clicked-{name}") for name in bars}
        for name in bars:
            self.session.start(f"polybar-hostile-{name}", ["polybar", "-c", path, "-l", "info", name],
                               env={**self.env, "M": marks[name]})
        wait_until(lambda: all(self._bar_has(20 * n, GREEN) for n in range(len(HOSTILE))), WAIT, "the hostile bars")
        # Along every bar's text, in one run of xdotool.
        clicks = [word for y in range(10, 20 * len(bars), 20) for x in range(10, 400, 15)
                  for word in ("mousemove", str(x), str(y), "click", "--delay", "1", "1")]
        subprocess.run(["xdotool", *clicks], env=self.session.env, check=True, timeout=WAIT)
        raw_mark = marks.pop("raw")
        self.checks.eventually("a click on a raw action tag runs its command (the clicks land)",
                               lambda: os.path.exists(raw_mark), WAIT)
        self.checks.check("but no click on any text KivoBar passed on runs anything",
                          not any(os.path.exists(mark) for mark in marks.values()))
        complaints = [line for name in marks
                      for line in self.session.processes.output(f"polybar-hostile-{name}").splitlines()
                      if "error" in line.lower()]
        self.checks.check("and polybar finds no tag in them to complain about", not complaints,
                          "; ".join(complaints[:3]))

    def _start_polybar(self, name, config):
        """polybar showing the bar named kivo of config."""
        path = self.session.path(f"{name}.ini")
        with open(path, "w", encoding="utf-8") as out:
            out.write(config)
        return self.session.start(name, ["polybar", "-c", path, "-l", "info", "kivo"], env=self.env)

    def _script_module(self, name, line):
        """A polybar module that shows `line` as a tail script would print it."""
        path = self.session.path(f"{name}.line")
        with open(path, "w", encoding="utf-8") as out:
            out.write(line if line.endswith("\n") else line + "\n")
        return f"[module/{name}]\ntype = custom/script\nexec = cat {path}; exec sleep 600\ntail = true\n\n"

    def _bar_has(self, y, colour):
        image = xscreen.grab(self.session.display)
        return any(image.pixel(x, row) == colour for row in range(y, y + 20) for x in range(0, 600))

    def run_all(self):
        try:
            self.agent.make()
            self.session.on_close.append(self.agent.down)
            self.agent.up()
            self.i3blocks()
            self.i3blocks_hostile()
            self.polybar()
            self.polybar_hostile()
        except (Abort, Timeout) as error:
            self.checks.fail(str(error))
        return self.checks


def _polybar_bar(name, module, y):
    return (f"[bar/{name}]\nwidth = 1024\nheight = 20\noffset-y = {y}\noverride-redirect = true\n"
            f"background = #000000\nforeground = #ffffff\nfont-0 = DejaVu Sans:pixelsize=12\n"
            f"modules-left = {module}\n\n")


def main():
    args = parse_arguments(__doc__, lambda parser: parser.add_argument(
        "--bar-line-tool", required=True, help="prints the line of a bar for a text (tests/app/cli/bar_line_tool)"))
    return run_in_session("kivo-bars-test", TOOLS, lambda session: BarsScenario(args, session).run_all())


if __name__ == "__main__":
    sys.exit(main())
