"""Tray hosts for a Session: a GTK StatusNotifier bar on X, waybar on a headless sway, and trayer (XEmbed).

Each panel says what it needs of the session (an X server, other users on the bus), starts with
start() once those are there, and returns from start() only when an app can register with it.
"""

import glob
import json
import os

from .host_user import HostUser
from .tray import WATCHER, host_registered
from .wait import DEFAULT_TIMEOUT, wait_until
from .xscreen import tray_selection_owner

# The panels draw text with GTK, which wants a UTF-8 locale; the app gets none, as on a fresh machine.
PANEL_LOCALE = {"LANG": "C.UTF-8"}

WAYBAR_CONFIG = {
    "layer": "top",
    "position": "top",
    "height": 30,
    "modules-left": [],
    "modules-center": [],
    "modules-right": ["tray"],
    "tray": {"icon-size": 22, "spacing": 6},
}

WAYBAR_STYLE = "* { font-size: 12px; min-height: 0; }\nwindow#waybar { background: #2e3436; }\n"

# No bar of sway's own, no X server of its own: only a screen for waybar's layer surface.
SWAY_CONFIG = "xwayland disable\noutput HEADLESS-1 resolution 1024x768\n"


class GtkPanel:
    """status-notifier-watcher, then gtk-sni-tray-standalone as the host, on the session's X server."""

    name = "gtk"
    needs_x = True
    other_users = ()

    def __init__(self, session, host_args=("--top", "--size", "30")):
        self.session = session
        self.host_args = list(host_args)

    def start(self, timeout=DEFAULT_TIMEOUT):
        """Starts the watcher, then the host (its own -w races the watcher); returns once the host is registered."""
        bus = self.session.bus()
        self.session.start("watcher", ["status-notifier-watcher"], env=PANEL_LOCALE)
        wait_until(lambda: bus.has_owner(WATCHER), timeout, "the StatusNotifier watcher")
        self.session.start("host", ["gtk-sni-tray-standalone"] + self.host_args, env=PANEL_LOCALE)
        wait_until(lambda: host_registered(bus), timeout, "the tray host's registration")

    def stop(self, timeout=DEFAULT_TIMEOUT):
        """Stops the host, then the watcher; returns once the watcher's name is free."""
        self.session.processes.stop("host")
        self.session.processes.stop("watcher")
        bus = self.session.bus()
        wait_until(lambda: not bus.has_owner(WATCHER), timeout, "the watcher's name to be released")

    def host_pid(self):
        """The pid of the process that draws the tray."""
        return self.session.processes.pid("host")


class WaybarPanel:
    """waybar with its tray, and any modules given, on sway's headless backend; waybar owns the watcher itself.

    Sway refuses to run as root, so as root sway runs as nobody, with a runtime folder and a home of that
    user's inside the session, on a bus that lets that user connect. waybar runs as we do, as it does in a
    user's session: the modules' programs are then ours to run, wherever the build is.
    """

    name = "waybar"
    needs_x = False

    def __init__(self, session, modules=None, style=""):
        """modules: waybar module settings by name, shown left of the tray; style: CSS added to the bar's."""
        self.session = session
        self.modules = modules or {}
        self.style = style
        self.host_user = HostUser(session, "wayland")
        self.user = self.host_user.user
        self.other_users = self.host_user.uids
        self.wayland_display = None
        self.dir = self.host_user.dir
        self.runtime = self.host_user.runtime

    def _prepare(self):
        if os.path.isdir(self.dir):
            return
        self.host_user.prepare()
        _write(os.path.join(self.dir, "sway.conf"), SWAY_CONFIG)
        config = {**WAYBAR_CONFIG, **self.modules, "modules-right": [*self.modules, *WAYBAR_CONFIG["modules-right"]]}
        _write(os.path.join(self.dir, "waybar.json"), json.dumps(config))
        _write(os.path.join(self.dir, "waybar.css"), WAYBAR_STYLE + self.style)

    def _env(self):
        env = {
            **PANEL_LOCALE,
            **self.host_user.env(),
            "WLR_BACKENDS": "headless",
            "WLR_LIBINPUT_NO_DEVICES": "1",
            "WLR_RENDERER": "pixman",
            # Keeps GTK in waybar on Wayland even when the session also has an X server.
            "GDK_BACKEND": "wayland",
            "DISPLAY": None,
        }
        if self.wayland_display:
            env["WAYLAND_DISPLAY"] = self.wayland_display
        return env

    def _socket(self):
        sockets = [path for path in glob.glob(os.path.join(self.runtime, "wayland-*")) if not path.endswith(".lock")]
        return os.path.basename(sockets[0]) if sockets else None

    def start(self, timeout=DEFAULT_TIMEOUT):
        """Starts sway (once) and waybar; returns once waybar's tray is registered as a host."""
        self._prepare()
        processes = self.session.processes
        if not processes.alive("sway"):
            self.session.start("sway", ["sway", "-c", os.path.join(self.dir, "sway.conf")], env=self._env(),
                               user=self.user)
            self.wayland_display = wait_until(self._socket, timeout, "sway's Wayland socket")
        self.session.start("waybar", ["waybar", "-c", os.path.join(self.dir, "waybar.json"),
                                      "-s", os.path.join(self.dir, "waybar.css")], env=self._env())
        bus = self.session.bus()
        wait_until(lambda: host_registered(bus), timeout, "waybar's tray as a host")

    def stop(self, timeout=DEFAULT_TIMEOUT):
        """Stops waybar (sway stays); returns once the watcher's name is free."""
        self.session.processes.stop("waybar")
        bus = self.session.bus()
        wait_until(lambda: not bus.has_owner(WATCHER), timeout, "the watcher's name to be released")

    def host_pid(self):
        """The pid of the process that draws the tray."""
        return self.session.processes.pid("waybar")


class XEmbedPanel:
    """trayer, an XEmbed system tray on the session's X server, with no StatusNotifier watcher."""

    name = "xembed"
    needs_x = True
    other_users = ()

    def __init__(self, session):
        self.session = session

    def start(self, timeout=DEFAULT_TIMEOUT):
        """Starts trayer; returns once it owns the X tray selection of screen 0."""
        self.session.start("trayer", ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                                      "--height", "24", "--SetDockType", "true", "--transparent", "false"],
                           env=PANEL_LOCALE)
        wait_until(lambda: tray_selection_owner(self.session.display), timeout, "trayer's tray selection")

    def stop(self, timeout=DEFAULT_TIMEOUT):
        """Stops trayer; returns once the selection has no owner."""
        self.session.processes.stop("trayer")
        wait_until(lambda: not tray_selection_owner(self.session.display), timeout, "the tray selection to be free")

    def host_pid(self):
        """The pid of the process that draws the tray."""
        return self.session.processes.pid("trayer")


def _write(path, text):
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)


PANELS = {"gtk": GtkPanel, "waybar": WaybarPanel, "xembed": XEmbedPanel}


def open_desktop(session, panel_name, x_screen="1024x768x24", **panel_options):
    """Starts what the panel needs in session (an X server, the bus) and returns the panel, not yet started."""
    panel = PANELS[panel_name](session, **panel_options)
    if panel.needs_x:
        session.start_x(x_screen)
    session.start_bus(other_users=panel.other_users)
    return panel
