"""The stand-in Kivo agent in a home of its own: made, started, changed and stopped through its tool."""

import json
import os
import subprocess

from .processes import pid_alive
from .wait import DEFAULT_TIMEOUT, wait_until

TOOL_TIMEOUT = 30


class StandInAgent:
    """An agent home made by tools/stand-in-agent/make-home, driven through HOME/bin/kivo."""

    def __init__(self, source_dir, home, log_path=None):
        self.source_dir = source_dir
        self.home = home
        self.log_path = log_path or os.devnull

    def make(self, set_up=True):
        """Makes (or refreshes) the home; with set_up the computer counts as set up."""
        argv = [os.path.join(self.source_dir, "tools", "stand-in-agent", "make-home"), self.home]
        if set_up:
            argv.insert(1, "--set-up")
        self._run(argv)

    @property
    def tool(self):
        """The path of the agent tool in the home."""
        return os.path.join(self.home, "bin", "kivo")

    def kivo(self, *args, env=None):
        """Runs the agent tool with args; returns its exit status (output goes to the log)."""
        return self._run([self.tool, *args], env=env, check=False)

    def _run(self, argv, env=None, check=True):
        with open(self.log_path, "ab") as log:
            # The tool runs in a session of its own, so the agent it starts never sees our terminal's Ctrl+C.
            result = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, env=env,
                                    timeout=TOOL_TIMEOUT, start_new_session=True, check=False)
        if check and result.returncode != 0:
            raise RuntimeError(f"{os.path.basename(argv[0])} failed with status {result.returncode}")
        return result.returncode

    def up(self):
        """Starts the background agent; raises when it did not start."""
        if self.kivo("up") != 0:
            raise RuntimeError(f"the stand-in agent did not start: {self.log_tail()}")
        return wait_until(self.pid, DEFAULT_TIMEOUT, "the stand-in agent's pid file")

    def down(self):
        """Stops the background agent, whatever fail-down says; True when no agent runs afterwards."""
        hook = self.path("fail-down")
        if os.path.exists(hook):
            os.remove(hook)
        if os.path.isfile(self.tool) and os.access(self.tool, os.X_OK):
            self.kivo("down")
        pid = self.pid()
        if pid:
            # The tool is gone or broken: stop the agent by its pid, as its own tool would.
            os.kill(pid, 15)
            wait_until(lambda: not pid_alive(pid), 10, "the stand-in agent to stop")
        return self.pid() is None

    def pid(self):
        """The pid of the running background agent, or None."""
        try:
            with open(self.path("run", "kivod.pid"), encoding="utf-8") as pid_file:
                pid = int(pid_file.readline().strip() or 0)
        except (OSError, ValueError):
            return None
        return pid if pid and pid_alive(pid) and _is_agent(pid) else None

    def running(self):
        """Whether the background agent runs."""
        return self.pid() is not None

    def path(self, *parts):
        """A path inside the agent home."""
        return os.path.join(self.home, *parts)

    def write(self, name, text):
        """Writes a file of the home atomically, so the agent never reads half of it."""
        target = self.path(name)
        temporary = target + ".new"
        with open(temporary, "w", encoding="utf-8") as out:
            out.write(text)
        os.replace(temporary, target)

    def remove(self, name):
        """Removes a file of the home if it is there."""
        try:
            os.remove(self.path(name))
        except FileNotFoundError:
            pass

    def set_needs_you(self, sessions):
        """The waiting sessions the agent reports, a list of dicts."""
        self.write("needs-you.json", json.dumps(sessions, ensure_ascii=False, indent=1) + "\n")

    def set_relays(self, relays):
        """The relays the agent reports; an empty list means connecting."""
        self.write("relays", "".join(f"{relay}\n" for relay in relays))

    def status(self):
        """The status file decoded, or None while it is missing or half written."""
        try:
            with open(self.path("run", "status.json"), encoding="utf-8") as status:
                return json.load(status)
        except (OSError, ValueError):
            return None

    def wait_status(self, predicate, timeout=DEFAULT_TIMEOUT, what="the agent's status"):
        """Waits until the status file satisfies predicate (a function of the decoded record); raises Timeout."""
        return wait_until(lambda: predicate(self.status() or {}), timeout, what)

    def status_bytes(self):
        """The status file as it is now, or None."""
        try:
            with open(self.path("run", "status.json"), "rb") as status:
                return status.read()
        except OSError:
            return None

    def log_tail(self, lines=5):
        """The last lines of the tool's log."""
        try:
            with open(self.log_path, "rb") as log:
                return " | ".join(log.read().decode("utf-8", "replace").strip().split("\n")[-lines:])
        except OSError:
            return ""


def _is_agent(pid):
    # A recycled pid must not pass for the agent.
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            return b"_kivod" in cmdline.read()
    except OSError:
        return False
