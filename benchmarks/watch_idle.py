#!/usr/bin/python3
"""How often `kivobar --status --watch --json` wakes up and how much memory it holds while nothing changes:
the stand-in agent online, rewriting its status file every 2 s with nothing new in it, for a minute.

usage: watch_idle.py BUILD_DIR [SECONDS]

Prints the wakeups (voluntary context switches) per minute, the lines printed, and the resident memory at the
start and the end of the idle span.
"""

import os
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(SOURCE, "tools", "desktop"))

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.wait import wait_until  # noqa: E402

SETTLE = 5


def status_field(pid, name):
    """One field of /proc/PID/status, as a number."""
    with open(f"/proc/{pid}/status", encoding="ascii") as status:
        for line in status:
            if line.startswith(name + ":"):
                return int(line.split()[1])
    raise LookupError(name)


def main():
    build = os.path.abspath(sys.argv[1])
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    with tempfile.TemporaryDirectory(prefix="kivo-watch-idle.") as folder:
        agent = StandInAgent(SOURCE, os.path.join(folder, "home"))
        agent.make()
        agent.up()
        try:
            env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": folder, "KIVO_HOME": agent.home}
            watch = subprocess.Popen([os.path.join(build, "app", "kivobar"), "--status", "--watch", "--json"],
                                     env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
            os.set_blocking(watch.stdout.fileno(), False)
            wait_until(lambda: watch.stdout.read(), 10, "the first line")
            time.sleep(SETTLE)
            switches = status_field(watch.pid, "voluntary_ctxt_switches")
            rss = status_field(watch.pid, "VmRSS")
            time.sleep(seconds)
            woke = status_field(watch.pid, "voluntary_ctxt_switches") - switches
            rss_end = status_field(watch.pid, "VmRSS")
            printed = watch.stdout.read() or b""
            watch.stdout.close()
            watch.wait(10)
        finally:
            agent.down()
    lines = printed.count(b"\n")
    print(f"--status --watch --json, {seconds} s idle: {woke * 60 / seconds:.0f} wakeups/min, "
          f"{lines} lines, RSS {rss / 1024:.1f} MiB at the start and {rss_end / 1024:.1f} MiB at the end, "
          f"exit status {watch.returncode} when the pipe closed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
