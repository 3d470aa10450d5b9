"""KDE Plasma 5.27 on X11 as a user meets it: kwin, kded5 with its StatusNotifier watcher, and plasmashell's
default layout, whose system tray is the host and whose notification applet is the notification server.
Plasma runs as the user we are (it has no warning for root); its settings live in a home of its own."""

import os
import subprocess

from ..host_user import HostUser
from ..notifications import NAME as NOTIFICATIONS
from ..tray import WATCHER, host_registered
from ..wait import DEFAULT_TIMEOUT, wait_until
from ..xscreen import mapped_windows, window_content
from .x11_desktop import X11Desktop

KDED = "org.kde.kded5"
KWIN = "org.kde.KWin"
PLASMASHELL = "org.kde.plasmashell"
# plasmashell refuses to load its shell without the activity manager, which a session has running.
ACTIVITY_MANAGER = ("org.kde.ActivityManager", ["/usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd"])

# What the tray, its item data and its menu importer log: the host's view of each item.
LOGGING_RULES = "kde.systemtray.debug=true;kde.dataengine.sni.debug=true;org.kde.libdbusmenuqt.debug=true"

# A bubble stays 30 s instead of 5, so that a test on a busy machine can still click its buttons.
NOTIFY_SETTINGS = "[Notifications]\nPopupTimeout=30000\n"

SETTINGS_TIMEOUT = 30

# Each look as the Breeze and Breeze Dark global themes set it: the Plasma theme draws the panel, and the
# colour scheme recolours the tray's symbolic icons.
LOOKS = {"light": ("default", "BreezeLight"), "dark": ("breeze-dark", "BreezeDark")}


class Plasma(X11Desktop):
    """kwin_x11, kded5 and plasmashell with its default layout: one panel at the bottom, the tray at its right."""

    name = "plasma"
    desktop_names = "KDE"
    log_names = ("kwin", "kded", "plasmashell")
    notification_server = "Plasma"
    # A left click calls Activate, and opens the menu only when Activate answers with an error.
    left_click_opens_menu = True
    menu_button = 1
    draws_tooltips = True
    # The "Open" button of a bubble with one action.
    open_button_offset = (-38, -28)
    looks = ("light", "dark")
    programs = ("kwin_x11", "kded5", "plasmashell", ACTIVITY_MANAGER[1][0])

    def __init__(self, session):
        super().__init__(session)
        self.host_user = HostUser(session, "plasma", unprivileged=False)

    @property
    def app_env(self):
        """What Plasma's session gives every app: Qt picks its KDE platform theme by these."""
        return {"XDG_CURRENT_DESKTOP": self.desktop_names, "KDE_FULL_SESSION": "true", "KDE_SESSION_VERSION": "5"}

    def env(self, extra=None):
        """The environment of the session's own programs."""
        return super().env({**self.host_user.env(), **self.app_env, "QT_QPA_PLATFORM": "xcb",
                            "QT_LOGGING_RULES": LOGGING_RULES, **(extra or {})})

    def _prepare(self):
        if os.path.isdir(self.host_user.dir):
            return
        self.host_user.prepare([".config"])
        self.host_user.write(".config/plasmanotifyrc", NOTIFY_SETTINGS)

    def start(self, timeout=DEFAULT_TIMEOUT):
        """Starts kwin, kded5 with the watcher, then plasmashell; returns once the tray and notifications work
        and the panel is drawn."""
        self._prepare()
        session = self.session
        bus = session.bus()
        session.add_bus_service(*ACTIVITY_MANAGER)
        # Started first, as a session does: kded's configuration updates wait for it, and hang on without.
        bus.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "StartServiceByName", "su",
                 ACTIVITY_MANAGER[0], 0, timeout=timeout)
        session.start("kwin", ["kwin_x11", "--replace"], env=self.env())
        wait_until(lambda: bus.has_owner(KWIN), timeout, "KWin on the bus")
        session.start("kded", ["kded5"], env=self.env())
        wait_until(lambda: bus.has_owner(KDED), timeout, "kded5 on the bus")
        # A session asks kded for the watcher; kded started alone loads no such module.
        bus.call(KDED, "/kded", KDED, "loadModule", "s", "statusnotifierwatcher", timeout=timeout)
        wait_until(lambda: bus.has_owner(WATCHER), timeout, "the StatusNotifier watcher in kded5")
        session.start("plasmashell", ["plasmashell", "--no-respawn"], env=self.env())
        wait_until(lambda: host_registered(bus), timeout, "Plasma's system tray as a host")
        wait_until(lambda: bus.has_owner(NOTIFICATIONS), timeout, "Plasma's notification server")
        wait_until(self._panel_drawn, timeout, "Plasma's panel on screen")

    def _panel_drawn(self):
        # The panel maps its window some frames before it has drawn anything in it.
        display = self.session.display
        for window in mapped_windows(display):
            if window.pid == self.host_pid() and "dock" in window.kinds:
                content = window_content(display, window.id)
                if content is not None and not content.flat():
                    return True
        return False

    def apply_look(self, look):
        """Light or dark, as System Settings applies them: the Plasma theme and the colour scheme, which
        plasmashell follows as they change."""
        theme, colours = LOOKS[look]
        env = {**self.session.env, **self.env()}
        for argv in (["plasma-apply-desktoptheme", theme], ["plasma-apply-colorscheme", colours]):
            subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=SETTINGS_TIMEOUT,
                           check=True)

    def stop(self, timeout=DEFAULT_TIMEOUT):
        """Stops plasmashell, kded5 and kwin; returns once their names are free."""
        super().stop(timeout)
        bus = self.session.bus()
        wait_until(lambda: not any(bus.has_owner(name) for name in (PLASMASHELL, WATCHER, KDED, KWIN)), timeout,
                   "Plasma's names to be released")

    def host_pid(self):
        """The pid of the process that draws the tray."""
        return self.session.processes.pid("plasmashell")

