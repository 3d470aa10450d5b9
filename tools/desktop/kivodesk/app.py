"""Starting the built kivobar inside a Session, as a user's desktop would."""

import json
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

    def forget(self):
        """Forgets the scripts it was given so far."""
        try:
            os.remove(self.path + ".log")
        except FileNotFoundError:
            pass

    def launches(self):
        """The command each launch was to run, one per launch, oldest first: every script the app writes ends
        by exec'ing its command."""
        return [line.removeprefix("exec ") for line in self.ran().splitlines() if line.startswith("exec ")]

    def hide(self):
        """Takes the terminal away: $TERMINAL then points nowhere."""
        os.rename(self.path, self.path + ".away")

    def restore(self):
        """Puts the terminal back where $TERMINAL points."""
        os.rename(self.path + ".away", self.path)


# The terminals the app looks for on PATH when $TERMINAL names none (platform/terminal_commands.cpp).
TERMINALS = ("xdg-terminal-exec", "x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal", "kitty",
             "alacritty", "foot", "xterm")


def path_without_terminals(session):
    """A PATH value with every program of the session's PATH but the terminals: one folder in the session's
    folder, of links. A machine with a desktop installed may well have one, and a test of what happens without
    any must not depend on that."""
    folder = session.path("bin-without-terminals")
    if os.path.isdir(folder):
        return folder
    os.mkdir(folder)
    for directory in session.env["PATH"].split(":"):
        if not os.path.isabs(directory) or not os.path.isdir(directory):
            continue
        for name in os.listdir(directory):
            link = os.path.join(folder, name)
            if name in TERMINALS or os.path.lexists(link):
                continue
            os.symlink(os.path.join(directory, name), link)
    return folder


# kivobar-fetch as the release checks use it: the URL as the only argument, then the HTTP status on the first
# line and the body after it. This one answers from the manifests in its own folder, so that an agent release
# can be newer than the running agent without a network.
STAND_IN_FETCH = """#!/bin/sh
here=$(dirname -- "$0")
case ${1:-} in
    */bar/latest.json) manifest=$here/bar-latest.json ;;
    */latest.json) manifest=$here/latest.json ;;
    *) exit 2 ;;
esac
if [ -f "$manifest" ]; then
    echo 200
    cat -- "$manifest"
else
    echo 404
fi
"""


class StandInReleases:
    """The build's programs, linked into the session's folder beside a stand-in kivobar-fetch whose newest agent
    release the test sets. The app finds its helpers beside its own program, so the tray and the command line
    started from here check releases against it; the icons are the build's."""

    def __init__(self, session, build_dir):
        self.build = session.path("build-with-releases")
        app = os.path.join(self.build, "app")
        os.makedirs(app)
        for name in PROGRAMS:
            source = os.path.join(build_dir, "app", name)
            if name != "kivobar-fetch" and os.path.exists(source):
                _link_or_copy(source, os.path.join(app, name))
        self.fetch = os.path.join(app, "kivobar-fetch")
        with open(self.fetch, "w", encoding="utf-8") as fetch:
            fetch.write(STAND_IN_FETCH)
        os.chmod(self.fetch, 0o755)
        os.symlink(os.path.join(build_dir, "share"), os.path.join(self.build, "share"))

    def set_latest(self, version):
        """The newest agent release from now on; None: the manifest is not found."""
        manifest = os.path.join(self.build, "app", "latest.json")
        if version is None:
            if os.path.exists(manifest):
                os.remove(manifest)
            return
        with open(manifest + ".new", "w", encoding="utf-8") as out:
            out.write(json.dumps({"version": version}) + "\n")
        os.replace(manifest + ".new", manifest)


# The tray's name on the session bus is its home's, io.kivo.KivoBar.h<key>, at the matching object path.
TRAY_NAME_PREFIX = "io.kivo.KivoBar.h"


def tray_names(bus):
    """Every per-home tray name on the bus."""
    return sorted(name for name in bus.names() if name.startswith(TRAY_NAME_PREFIX))


def tray_path(name):
    """The object path that goes with a per-home tray name."""
    return "/io/kivo/KivoBar/" + name[len("io.kivo.KivoBar."):]
