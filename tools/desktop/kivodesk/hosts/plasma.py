"""KDE Plasma 5.27 on X11: kwin, kded5 with its StatusNotifier watcher, and plasmashell's panel, whose system
tray is the host and whose notification applet is the notification server."""

import os

from ..host_user import HostUser
from ..session import PANEL_LOCALE
from ..tray import WATCHER, host_registered
from ..wait import DEFAULT_TIMEOUT, wait_until
from ..xwindows import docks, window_drawn

KDED = "org.kde.kded5"
KWIN = "org.kde.KWin"
PLASMASHELL = "org.kde.plasmashell"
NOTIFICATIONS = "org.freedesktop.Notifications"
# plasmashell refuses to load its shell without the activity manager, which the bus starts for it.
ACTIVITY_MANAGER = "org.kde.ActivityManager"

# What the tray, its item data and its menu importer log: the host's view of each item.
LOGGING_RULES = "kde.systemtray.debug=true;kde.dataengine.sni.debug=true;org.kde.libdbusmenuqt.debug=true"

# A bubble stays 30 s instead of 5, so that a test on a busy machine can still click its buttons.
NOTIFY_SETTINGS = "[Notifications]\nPopupTimeout=30000\n"

# Breeze (light) is Plasma's default. Dark takes two settings, as the Breeze Dark global theme sets them: the
# Plasma theme draws the panel, and the colour scheme in kdeglobals recolours the tray's symbolic icons.
PLASMA_THEMES = {"light": "default", "dark": "breeze-dark"}
DARK_COLOURS = "/usr/share/color-schemes/BreezeDark.colors"


class Plasma:
    """kwin_x11, kded5 and plasmashell with their default layout: one panel at the bottom, the tray at its right.

    Plasma runs as the user we are (it has no warning for root); its settings live in a home of its own.
    """

    name = "plasma"
    needs_x = True
    x_screen = "1280x800x24"
    x_extensions = ("GLX", "RANDR", "COMPOSITE")
    # What a Plasma session gives the apps it starts.
    app_env = {"XDG_CURRENT_DESKTOP": "KDE", "KDE_FULL_SESSION": "true", "KDE_SESSION_VERSION": "5",
               "XDG_SESSION_DESKTOP": "KDE", "DESKTOP_SESSION": "plasma", "XDG_SESSION_TYPE": "x11"}
    # Where the default layout puts the panel on that screen: (x, y, width, height).
    panel_area = (0, 756, 1280, 44)
    log_names = ("kwin", "kded", "plasmashell")
    notification_server = "Plasma"

    def __init__(self, session, panel="light"):
        """panel: "light" (Breeze, Plasma's own default) or "dark" (Breeze Dark)."""
        if panel not in PLASMA_THEMES:
            raise ValueError(f"no {panel} panel on Plasma")
        self.session = session
        self.panel = panel
        self.host_user = HostUser(session, "plasma", unprivileged=False)
        self.other_users = ()

    def _prepare(self):
        if os.path.isdir(self.host_user.dir):
            return
        self.host_user.prepare([".config"])
        self.host_user.write(".config/plasmanotifyrc", NOTIFY_SETTINGS)
        self.host_user.write(".config/plasmarc", f"[Theme]\nname={PLASMA_THEMES[self.panel]}\n")
        if self.panel == "dark":
            with open(DARK_COLOURS, encoding="utf-8") as colours:
                self.host_user.write(".config/kdeglobals", colours.read() + "\n[General]\nColorScheme=BreezeDark\n")

    def env(self):
        """The environment of the session's own processes."""
        return {
            **PANEL_LOCALE,
            **self.host_user.env(),
            **self.app_env,
            "LIBGL_ALWAYS_SOFTWARE": "1",
            "QT_QPA_PLATFORM": "xcb",
            # The tray's view of each item and of its menu.
            "QT_LOGGING_RULES": LOGGING_RULES,
        }

    def start(self, timeout=DEFAULT_TIMEOUT):
        """Starts kwin, kded5 with the watcher, then plasmashell; returns once the tray and notifications work."""
        self._prepare()
        session = self.session
        bus = session.bus()
        env = self.env()
        session.add_bus_service(ACTIVITY_MANAGER)
        # Started first, as a session does: kded's configuration updates wait for it and would hang on.
        bus.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "StartServiceByName", "su",
                 ACTIVITY_MANAGER, 0, timeout=timeout)
        session.start("kwin", ["kwin_x11", "--replace"], env=env)
        wait_until(lambda: bus.has_owner(KWIN), timeout, "KWin on the bus")
        session.start("kded", ["kded5"], env=env)
        wait_until(lambda: bus.has_owner(KDED), timeout, "kded5 on the bus")
        # A session asks kded for the watcher; kded started alone loads no module.
        bus.call(KDED, "/kded", KDED, "loadModule", "s", "statusnotifierwatcher", timeout=timeout)
        wait_until(lambda: bus.has_owner(WATCHER), timeout, "the StatusNotifier watcher in kded5")
        session.start("plasmashell", ["plasmashell", "--no-respawn"], env=env)
        wait_until(lambda: host_registered(bus), timeout, "Plasma's system tray as a host")
        wait_until(lambda: bus.has_owner(NOTIFICATIONS), timeout, "Plasma's notification server")
        wait_until(lambda: any(window_drawn(session, dock) for dock in docks(session, self.host_pid())), timeout,
                   "Plasma's panel on screen")

    def stop(self, timeout=DEFAULT_TIMEOUT):
        """Stops plasmashell, kded5 and kwin; returns once their names are free."""
        for name in ("plasmashell", "kded", "kwin"):
            self.session.processes.stop(name)
        bus = self.session.bus()
        wait_until(lambda: not any(bus.has_owner(name) for name in (PLASMASHELL, WATCHER, KDED, KWIN)), timeout,
                   "Plasma's names to be released")

    def host_pid(self):
        """The pid of the process that draws the tray."""
        return self.session.processes.pid("plasmashell")
