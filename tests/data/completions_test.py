#!/usr/bin/python3
"""The shell completions of data/completions in the real shells: bash sourced into a plain `bash --norc`,
called with COMP_WORDS and through a real Tab; zsh through real Tabs on a terminal; fish through
`complete -C`. They run the real kivobar, found on PATH, against an agent home of the test's own with two
waiting sessions, whose ids they must offer after open-session.

usage: completions_test.py --build BUILD_DIR --source SOURCE_DIR

Prints a PASS or FAIL line per check and a summary; exits 1 when any check failed.
"""

import argparse
import datetime
import json
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.checks import Checks  # noqa: E402

WAIT = 20
SHELLS = ["bash", "zsh", "fish"]
ACTIONS = ["pause", "resume", "toggle", "set-up", "update", "dashboard", "log", "open-session", "quit", "status",
           "help", "wait-online"]
FORMATS = ["text", "json", "waybar", "i3blocks", "polybar"]
SESSIONS = [{"agent": "coder", "where": "repo-a", "detail": "approve the migration?"},
            {"agent": "reviewer", "where": "docs"}]
ESCAPES = re.compile(r"\x1b\[[0-9;?]*[A-Za-z]|\x1b[=>()][0-9A-Za-z]?|[\r\x07]|.\x08")


class Terminal:
    """A shell on a terminal of its own, typed into as a person would."""

    def __init__(self, argv, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execvpe(argv[0], argv, env)
        self.seen = ""

    def type(self, keys):
        """Types the keys; the screen's text read so far is forgotten."""
        self.read(0)
        self.seen = ""
        os.write(self.fd, keys.encode())

    def read(self, timeout):
        """Reads what the shell printed within timeout seconds, as text without the terminal's escapes."""
        raw = b""
        ready = select.select([self.fd], [], [], timeout)[0]
        while ready:
            try:
                raw += os.read(self.fd, 65536)
            except OSError:
                break
            ready = select.select([self.fd], [], [], 0.05)[0]
        self.seen += ESCAPES.sub("", raw.decode("utf-8", "replace"))
        return self.seen

    def shows(self, predicate, timeout=WAIT):
        """Waits until the screen's text since the last keys satisfies predicate; the text then, or None."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate(self.read(0.2)):
                return self.seen
        return None

    def close(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        except OSError:
            pass
        os.close(self.fd)


def make_home(home):
    """An agent home that is set up, with a live record (this process) and two waiting sessions."""
    os.makedirs(os.path.join(home, "bin"))
    os.makedirs(os.path.join(home, "run"))
    tool = os.path.join(home, "bin", "kivo")
    with open(tool, "w", encoding="utf-8") as script:
        script.write("#!/bin/sh\n")
    os.chmod(tool, 0o755)
    open(os.path.join(home, "host"), "w", encoding="utf-8").close()
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%fZ")
    record = {"pid": os.getpid(), "name": "studio", "version": "1.4.2", "updated_at": now, "relays": ["eu-1"],
              "clients": 1, "needs_you": SESSIONS}
    with open(os.path.join(home, "run", "status.json"), "w", encoding="utf-8") as status:
        json.dump(record, status)


class CompletionScenario:
    def __init__(self, args, folder):
        self.completions = os.path.join(args.source, "data", "completions")
        self.checks = Checks("shell completions", 120)
        bin_dir = os.path.join(folder, "bin")
        os.makedirs(bin_dir)
        os.symlink(os.path.join(args.build, "app", "kivobar"), os.path.join(bin_dir, "kivobar"))
        self.home = os.path.join(folder, "home")
        make_home(self.home)
        self.env = {"PATH": bin_dir + ":/usr/bin:/bin", "KIVO_HOME": self.home, "HOME": folder, "TERM": "xterm",
                    "LANG": "C.UTF-8"}
        listed = json.loads(self.run(["kivobar", "--status", "--json"]))["needs_you"]
        self.ids = [session.get("id") for session in listed]
        usage = self.run(["kivobar", "--help"])
        sections = [usage.split(f"\n{title}", 1)[-1].split("\n\n", 1)[0] for title in ("Commands", "Actions")]
        self.helped = [word for section in sections for word in re.findall(r"^  ([a-z-]+)(?: |$)", section, re.M)]

    def run(self, argv):
        return subprocess.run(argv, env=self.env, capture_output=True, text=True, timeout=WAIT, check=True).stdout

    # ------------------------------------------------------------ bash

    def bash_words(self, words):
        """COMPREPLY for the words typed so far (the last one being completed), each on a line."""
        script = ('source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); '
                  'COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}; _kivobar; printf "%s\\n" "${COMPREPLY[@]}"')
        out = self.run(["bash", "--norc", "--noprofile", "-c", script, "bash",
                        os.path.join(self.completions, "kivobar"), *words])
        return [line for line in out.split("\n") if line]

    def bash(self):
        registered = self.run(["bash", "--norc", "--noprofile", "-c", 'source "$1" && complete -p kivobar', "bash",
                               os.path.join(self.completions, "kivobar")])
        self.checks.check(f"sourced in bash --norc, it registers itself ({registered.strip()})",
                          registered == "complete -F _kivobar kivobar\n")
        cases = [
            (["kivobar", "pa"], ["pause"]),
            (["kivobar", ""], ACTIONS),
            (["kivobar", "-"], ["--status", "--notify", "--help", "--version"]),
            (["kivobar", "--notify", "to"], ["toggle"]),
            (["kivobar", "--status", "--"], ["--json", "--format", "--watch"]),
            (["kivobar", "status", "--w"], ["--watch"]),
            (["kivobar", "--status", "--format", ""], FORMATS),
            (["kivobar", "--status", "--format", "=", "i3"], ["i3blocks"]),
            (["kivobar", "--format", "json", "--status", "--j"], ["--json"]),
            (["kivobar", "wait-online", "-"], ["--timeout"]),
            (["kivobar", "wait-online", "--timeout", ""], []),
            (["kivobar", "open-session", ""], self.ids),
            (["kivobar", "open-session", self.ids[1][:-3]], [self.ids[1]]),
            (["kivobar", "open-session", self.ids[0], ""], []),
            (["kivobar", "pause", ""], []),
        ]
        for words, expected in cases:
            offered = self.bash_words(words)
            self.checks.check(f"bash: {' '.join(words)!r} offers {expected}", sorted(offered) == sorted(expected),
                              str(offered))

        # Through readline itself, which splits --format=wa at the "=" as it would on a user's terminal.
        terminal = Terminal(["bash", "--norc", "--noprofile", "-i"], self.env)
        try:
            terminal.type(f"PS1='$ '; source {os.path.join(self.completions, 'kivobar')}; echo READY\n")
            terminal.shows(lambda seen: "\nREADY" in seen)
            for typed, completed in [("kivobar pa", "kivobar pause "),
                                     ("kivobar --status --format=wa", "kivobar --status --format=waybar ")]:
                terminal.type("\x15" + typed + "\t")
                self.checks.check(f"bash: {typed!r} and Tab make {completed!r}",
                                  terminal.shows(lambda seen, c=completed: c in seen) is not None, terminal.seen)
        finally:
            terminal.close()

    # ------------------------------------------------------------ zsh

    def zsh(self):
        terminal = Terminal(["zsh", "-f", "-i"], self.env)
        try:
            terminal.type(f"PS1='%% '; fpath=({self.completions} $fpath); autoload -Uz compinit; compinit -u -D; "
                          "echo READY\n")
            terminal.shows(lambda seen: "\nREADY" in seen)
            for typed, completed in [("kivobar pa", "kivobar pause "), ("kivobar wait-online --t", "--timeout "),
                                     ("kivobar --status --format=i3", "--format=i3blocks "),
                                     ("kivobar status --format po", "--format polybar ")]:
                terminal.type("\x15" + typed + "\t")
                self.checks.check(f"zsh: {typed!r} and Tab make {completed!r}",
                                  terminal.shows(lambda seen, c=completed: c in seen) is not None, terminal.seen)
            sessions = [f"{self.ids[0]}  -- coder · repo-a approve the migration?",
                        f"{self.ids[1]}  -- reviewer · docs"]
            for typed, listed in [("kivobar ", ACTIONS), ("kivobar --status --", ["--json", "--format", "--watch"]),
                                  ("kivobar open-session ", sessions)]:
                # The first Tab completes what all share, the second lists them.
                terminal.type("\x15" + typed + "\t\t")
                shown = terminal.shows(lambda seen, names=listed: all(name in seen for name in names))
                self.checks.check(f"zsh: {typed!r} and Tab list {listed}", shown is not None, terminal.seen)
        finally:
            terminal.close()

    # ------------------------------------------------------------ fish

    def fish_offers(self, line):
        out = self.run(["fish", "--no-config", "-c",
                        f"source {os.path.join(self.completions, 'kivobar.fish')}; complete -C '{line}'"])
        return [entry.split("\t") for entry in out.split("\n") if entry]

    def fish(self):
        cases = [
            ("kivobar pa", ["pause"]),
            ("kivobar ", ACTIONS),
            ("kivobar -", ["-h", "-v", "--help", "--notify", "--status", "--version"]),
            ("kivobar --notify up", ["update"]),
            ("kivobar --status --", ["--format", "--json", "--watch"]),
            ("kivobar status --format ", FORMATS),
            ("kivobar --status --format=wa", ["--format=waybar"]),
            ("kivobar wait-online --", ["--timeout"]),
            ("kivobar pause ", []),
        ]
        for line, expected in cases:
            offered = [entry[0] for entry in self.fish_offers(line)]
            self.checks.check(f"fish: {line!r} offers {expected}", sorted(offered) == sorted(expected), str(offered))
        sessions = self.fish_offers("kivobar open-session ")
        expected = [[self.ids[0], "coder · repo-a approve the migration?"], [self.ids[1], "reviewer · docs"]]
        self.checks.check(f"fish: 'kivobar open-session ' offers the waiting sessions, described ({expected})",
                          sorted(sessions) == sorted(expected), str(sessions))

    def run_all(self):
        self.checks.check(f"kivobar --status --json gives each waiting session an id ({self.ids})",
                          len(self.ids) == 2 and all(isinstance(i, str) and i for i in self.ids))
        self.checks.check(f"the commands and actions completed are those of kivobar --help ({self.helped})",
                          sorted(self.helped) == sorted(ACTIONS))
        if self.checks.failed:
            return self.checks
        self.bash()
        self.zsh()
        self.fish()
        return self.checks


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the build folder (holds app/kivobar)")
    parser.add_argument("--source", required=True, help="the source folder (holds data/completions)")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.source = os.path.abspath(args.source)
    missing = [shell for shell in SHELLS if shutil.which(shell) is None]
    if missing:
        print(f"FAIL: not installed: {', '.join(missing)} (scripts/setup.sh --for test installs them)")
        return 1
    with tempfile.TemporaryDirectory(prefix="kivo-completions-") as folder:
        checks = CompletionScenario(args, folder).run_all()
    print(checks.summary(), flush=True)
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
