"""Processes the harness starts: tracked by name, logged to files, and always stopped at the end."""

import os
import signal
import subprocess

from .wait import holds_within

STOP_GRACE = 5.0


class Interrupted(Exception):
    """TERM, HUP or INT arrived: unwind so that every process and folder is cleaned up."""


def _raise_interrupted(signum, _frame):
    raise Interrupted(signal.Signals(signum).name)


def interrupt_on_signals():
    """Turns INT, TERM and HUP into Interrupted, so that finally blocks and context managers run."""
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, _raise_interrupted)


def ignore_signals():
    """Ignores INT, TERM and HUP from now on: a second Ctrl+C must not cut the clean-up short."""
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, signal.SIG_IGN)


def pid_alive(pid):
    """Whether a process with this pid exists and is not a zombie."""
    if not pid:
        return False
    try:
        with open(f"/proc/{pid}/stat", "rb") as stat:
            # The state follows the command name, which is in parentheses and may hold anything.
            return stat.read().rsplit(b")", 1)[1].split()[0] != b"Z"
    except (OSError, IndexError):
        return False


def stop_pid(pid, grace=STOP_GRACE):
    """TERM, then KILL after grace seconds, for a process that is not our child; True once it is gone."""
    for signum, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, grace)):
        try:
            os.kill(pid, signum)
        except ProcessLookupError:
            return True
        if holds_within(lambda: not pid_alive(pid), wait):
            return True
    return False


def processes_marked(marker):
    """The pids of the processes whose environment holds the line marker (NAME=VALUE), ourselves excepted."""
    wanted = marker.encode()
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as environ:
                if wanted in environ.read().split(b"\0") and pid_alive(int(entry)):
                    pids.append(int(entry))
        except OSError:
            continue
    return pids


class Processes:
    """Starts named processes with their output in LOG_DIR/NAME.log, and stops them, last first."""

    def __init__(self, log_dir):
        self.log_dir = log_dir
        self.running = {}
        self.order = []

    def output(self, name):
        """What the process wrote on its standard output and error so far, as text; empty before it started."""
        try:
            with open(self.log_path(name), encoding="utf-8", errors="replace") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    def start(self, name, argv, env=None, cwd=None, user=None, pass_fds=()):
        """Starts argv in the background; user=(uid, gid) runs it as that user through setpriv."""
        if name in self.running:
            raise ValueError(f"{name} is already running")
        if user is not None:
            uid, gid = user
            argv = ["setpriv", f"--reuid={uid}", f"--regid={gid}", "--clear-groups", "--"] + list(argv)
        log = open(self.log_path(name), "ab")
        try:
            # A session of its own: the terminal's Ctrl+C reaches us only, and we stop it in order.
            process = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=log,
                                       stderr=subprocess.STDOUT, start_new_session=True,
                                       pass_fds=pass_fds)
        finally:
            log.close()
        self.running[name] = process
        self.order.append(name)
        return process

    def log_path(self, name):
        """Where the output of the process NAME goes."""
        return os.path.join(self.log_dir, f"{name}.log")

    def pid(self, name):
        """The pid of the running process NAME, or None."""
        process = self.running.get(name)
        return process.pid if process else None

    def alive(self, name):
        """Whether NAME was started and has not ended."""
        process = self.running.get(name)
        return process is not None and process.poll() is None

    def stop(self, name):
        """TERM, then KILL after a grace period; returns the exit status once the process is reaped."""
        process = self.running.pop(name, None)
        if process is None:
            return None
        if name in self.order:
            self.order.remove(name)
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(STOP_GRACE)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(STOP_GRACE)
        return process.returncode

    def wait_exit(self, name, timeout):
        """Whether NAME ends by itself within timeout seconds."""
        process = self.running.get(name)
        return process is None or holds_within(lambda: process.poll() is not None, timeout)

    def stop_all(self):
        """Stops every process still tracked, the last started first."""
        for name in reversed(list(self.order)):
            self.stop(name)

    def logs(self, lines=30):
        """The tail of every non-empty log, for a failure report."""
        parts = []
        for entry in sorted(os.listdir(self.log_dir)):
            if not entry.endswith(".log"):
                continue
            try:
                with open(os.path.join(self.log_dir, entry), "rb") as log:
                    text = log.read().decode("utf-8", "replace")
            except OSError:
                continue
            if text.strip():
                tail = "\n".join(text.rstrip("\n").split("\n")[-lines:])
                parts.append(f"--- {entry}\n{tail}")
        return "\n".join(parts)
