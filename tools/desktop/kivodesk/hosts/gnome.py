"""GNOME Shell 43 on X11, with the AppIndicator extension as its tray, or bare (no tray at all).

gnome-shell runs as the user a desktop runs as, not as root (as root it covers the screen with a
warning banner); its settings are a keyfile in a home of its own, so nothing needs dconf.
"""

import os

from ..host_user import HostUser
from ..session import PANEL_LOCALE
from ..tray import WATCHER, host_registered
from ..wait import DEFAULT_TIMEOUT, wait_until
from ..xwindows import area_drawn

SHELL = "org.gnome.Shell"
SHELL_PATH = "/org/gnome/Shell"
NOTIFICATIONS = "org.freedesktop.Notifications"
# The gjs service that owns the notification name for the shell; the shell starts it through the bus.
NOTIFICATIONS_SERVICE = "org.gnome.Shell.Notifications"
APPINDICATOR = "ubuntu-appindicators@ubuntu.com"

# A fresh home would show the welcome tour; the lock-screen warning is kept off by its marker file.
SETTINGS = """[org/gnome/shell]
disable-user-extensions=false
enabled-extensions={extensions}
welcome-dialog-last-shown-version='999'
"""

# GNOME 43's shell theme has only a black panel; a session mode of our own restyles it light, and the
# panel's icons take its text colour as they do on the black one.
LIGHT_MODE = '{"parentMode": "user", "stylesheetName": "kivo-light-panel.css"}'
LIGHT_PANEL_CSS = """@import url("resource:///org/gnome/shell/theme/gnome-shell.css");
#panel { background-color: #f6f5f4; }
#panel .panel-button { color: #2e3436; }
#panel .panel-button:hover { box-shadow: inset 0 0 0 100px rgba(0, 0, 0, 0.1); }
"""


class GnomeShell:
    """gnome-shell --x11 with the AppIndicator extension, which is the StatusNotifier watcher and host."""

    name = "gnome"
    needs_x = True
    x_screen = "1280x800x24"
    x_extensions = ("GLX", "RANDR", "COMPOSITE")
    # What a GNOME session gives the apps it starts.
    app_env = {"XDG_CURRENT_DESKTOP": "GNOME", "XDG_SESSION_DESKTOP": "gnome", "DESKTOP_SESSION": "gnome",
               "XDG_SESSION_TYPE": "x11"}
    # The top bar on that screen: (x, y, width, height).
    panel_area = (0, 0, 1280, 32)
    log_names = ("gnome-shell",)
    notification_server = "gnome-shell"
    extensions = (APPINDICATOR,)

    def __init__(self, session, panel="dark"):
        """panel: "dark" (GNOME's own black top bar) or "light"."""
        if panel not in ("dark", "light"):
            raise ValueError(f"no {panel} panel on GNOME")
        self.session = session
        self.panel = panel
        self.host_user = HostUser(session, "gnome")
        self.other_users = self.host_user.uids

    def _prepare(self):
        if os.path.isdir(self.host_user.dir):
            return
        light = self.panel == "light"
        self.host_user.prepare([".config/glib-2.0/settings", ".local/share/gnome-shell", ".cache"]
                               + (["share/gnome-shell/modes", "share/gnome-shell/theme"] if light else []))
        self.host_user.write(".config/glib-2.0/settings/keyfile", SETTINGS.format(extensions=list(self.extensions)))
        self.host_user.write(".local/share/gnome-shell/lock-warning-shown", "")
        if light:
            self.host_user.write("share/gnome-shell/modes/kivo-light-panel.json", LIGHT_MODE)
            self.host_user.write("share/gnome-shell/theme/kivo-light-panel.css", LIGHT_PANEL_CSS)

    def env(self):
        """The shell's environment."""
        return {
            **PANEL_LOCALE,
            **self.host_user.env(),
            **self.app_env,
            "GSETTINGS_BACKEND": "keyfile",
            "LIBGL_ALWAYS_SOFTWARE": "1",
            # What the extension reads from each item, and what it makes of it.
            "G_MESSAGES_DEBUG": "Ubuntu-AppIndicators",
            # Where the shell looks for session modes and their stylesheets besides its own.
            "XDG_DATA_DIRS": f"{self.host_user.path('share')}:/usr/local/share:/usr/share",
        }

    def start(self, timeout=DEFAULT_TIMEOUT):
        """Starts the shell; returns once its tray has a host, the overview is closed and notifications work."""
        self._prepare()
        session = self.session
        if not session.system_bus_address:
            session.start_system_bus(other_users=self.other_users)
        session.add_bus_service(NOTIFICATIONS_SERVICE)
        mode = ["--mode=kivo-light-panel"] if self.panel == "light" else []
        session.start("gnome-shell", ["gnome-shell", "--x11", "--replace", *mode], env=self.env(),
                      user=self.host_user.user)
        bus = session.bus()
        wait_until(lambda: bus.has_owner(SHELL), timeout, "GNOME Shell on the bus")
        if self.extensions:
            wait_until(lambda: host_registered(bus), timeout, "the AppIndicator extension as a tray host")
        self._close_overview(bus, timeout)
        wait_until(lambda: bus.has_owner(NOTIFICATIONS), timeout, "GNOME's notification service")
        wait_until(lambda: area_drawn(session, self.panel_area), timeout, "GNOME's top bar on screen")

    def _close_overview(self, bus, timeout):
        # The shell opens the overview as its start animation; closed before that, it would open again.
        wait_until(lambda: self._overview_active(bus), timeout, "the overview of GNOME Shell's start")
        bus.set(SHELL, SHELL_PATH, SHELL, "OverviewActive", "b", False)
        wait_until(lambda: not self._overview_active(bus), timeout, "the overview to close")

    @staticmethod
    def _overview_active(bus):
        return bus.get(SHELL, SHELL_PATH, SHELL, "OverviewActive")

    def stop(self, timeout=DEFAULT_TIMEOUT):
        """Stops the shell; returns once its names are free (the notification service stays, idle)."""
        self.session.processes.stop("gnome-shell")
        bus = self.session.bus()
        wait_until(lambda: not bus.has_owner(SHELL) and not bus.has_owner(WATCHER), timeout,
                   "GNOME Shell's names to be released")

    def host_pid(self):
        """The pid of the process that draws the tray."""
        return self.session.processes.pid("gnome-shell")


class BareGnomeShell(GnomeShell):
    """GNOME Shell as it comes: no extension, so no StatusNotifier watcher and no tray."""

    name = "gnome-bare"
    extensions = ()
