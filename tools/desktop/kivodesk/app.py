"""Starting the built kivobar inside a Session, as a user's desktop would."""

import os
import shutil
import subprocess
from functools import lru_cache


@lru_cache(maxsize=None)
def can_isolate_network():
    """Whether this user may give a process a network namespace of its own (root can)."""
    try:
        return subprocess.run(["unshare", "--net", "true"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=10, check=False).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def app_environment(build_dir, home):
    """The environment kivobar gets besides the session's: the agent home and the build's icons by theme name."""
    return {
        "KIVO_HOME": home,
        # The app and the panel find the icons by name, as for an installed app.
        "XDG_DATA_DIRS": f"{os.path.join(build_dir, 'share')}:/usr/share",
    }


def start_kivobar(session, build_dir, home, name="kivobar", isolate_network=True, env=None):
    """Starts build_dir/app/kivobar against the agent home; returns the Popen (its pid is the app's)."""
    argv = [os.path.join(build_dir, "app", "kivobar")]
    # Without a network of its own the app's release checks fail at once and quietly, and no test run
    # sends anything beyond this machine. The X and bus sockets are paths, so they still connect.
    if isolate_network and can_isolate_network():
        argv = ["unshare", "--net"] + argv
    return session.start(name, argv, env={**app_environment(build_dir, home), **(env or {})})


# What a desktop may start or read of the app's: its programs, and the icons its tray item names.
PROGRAMS = ("kivobar", "kivobar-tray", "kivobar-act", "kivobar-fetch", "kivobar-xembed")
ICONS = os.path.join("share", "icons")


def build_for_others(session, build_dir):
    """A build folder with the app's programs and icons, laid out as in build_dir, where every user can read
    them: in the session's folder. A desktop that runs as another user reads the icons from the folder the app
    names, which in a real session is the user's own or the system's, never one closed to the desktop."""
    target = session.path("build-for-others")
    if os.path.isdir(target):
        return target
    os.makedirs(os.path.join(target, "app"))
    for name in PROGRAMS:
        source = os.path.join(build_dir, "app", name)
        if os.path.exists(source):
            _link_or_copy(source, os.path.join(target, "app", name))
    shutil.copytree(os.path.join(build_dir, ICONS), os.path.join(target, ICONS), copy_function=_link_or_copy)
    return target


def _link_or_copy(source, target):
    try:
        os.link(source, target)
    except OSError:
        shutil.copy2(source, target)


# A terminal that runs nothing: it keeps a copy of the script it was given to run, then removes it as the
# script itself would.
RECORDING_TERMINAL = """#!/bin/sh
[ "$1" = -e ] && shift
cat -- "$1" >> "$0.log" && rm -f -- "$1"
"""


class RecordingTerminal:
    """A $TERMINAL for the app, in the session's folder, that records the scripts it is given instead of running them."""

    def __init__(self, session):
        self.path = session.path("terminal")
        with open(self.path, "w", encoding="utf-8") as terminal:
            terminal.write(RECORDING_TERMINAL)
        os.chmod(self.path, 0o755)

    def ran(self):
        """The scripts it was given so far, one after the other."""
        try:
            with open(self.path + ".log", encoding="utf-8") as log:
                return log.read()
        except FileNotFoundError:
            return ""
