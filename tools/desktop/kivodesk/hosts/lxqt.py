"""LXQt 1.2 as a user meets it: openbox, lxqt-panel with its default layout (the Status Notifier plugin is
the watcher and the host) and lxqt-notificationd, in the environment startlxqt gives a session."""

import os

from ..notifications import NAME as NOTIFICATIONS
from ..tray import host_registered
from ..wait import DEFAULT_TIMEOUT, wait_until
from .x11_desktop import X11Desktop

# What startlxqt exports for everything in the session; the panel's default layout is in /usr/share/lxqt.
SESSION_ENV = {"XDG_CONFIG_DIRS": "/etc/xdg:/usr/share", "QT_QPA_PLATFORMTHEME": "lxqt", "XDG_MENU_PREFIX": "lxqt-"}

# The session's own theme (light grey) and LXQt's dark one, chosen in the user's lxqt.conf as the settings do.
THEMES = {"light": "Clearlooks", "dark": "dark"}


class LxqtDesktop(X11Desktop):
    """openbox, lxqt-notificationd and lxqt-panel."""

    name = "lxqt"
    desktop_names = "LXQt"
    log_names = ("window-manager", "notificationd", "panel")
    notification_server = "lxqt-notificationd"
    # A left click calls Activate and never opens an item's menu, whatever Activate answers.
    left_click_opens_menu = False
    menu_button = 3
    default_action_is_button = True
    # The bubble's one button is as wide as the text.
    open_button_offset = (-100, -40)
    looks = ("light", "dark")
    programs = ("openbox", "lxqt-panel", "lxqt-notificationd", "startlxqt")
    panel_names = ("panel",)
    session_manager = ("startlxqt",)
    tray_words = "Status Notifier"

    @property
    def app_env(self):
        return {**SESSION_ENV, "XDG_CURRENT_DESKTOP": self.desktop_names}

    def env(self, extra=None):
        return super().env({**SESSION_ENV, **(extra or {})})

    def start_base(self, timeout=DEFAULT_TIMEOUT):
        """Starts the window manager and the notification server; returns once both serve."""
        bus = self.session.bus()
        self.start_window_manager(["openbox"], timeout)
        self.session.start("notificationd", ["lxqt-notificationd"], env=self.env())
        wait_until(lambda: bus.has_owner(NOTIFICATIONS), timeout, "lxqt-notificationd on the bus")

    def start_panel(self, timeout=DEFAULT_TIMEOUT):
        """Starts the panel; returns once its Status Notifier plugin is a host."""
        self.session.start("panel", ["lxqt-panel"], env=self.env())
        bus = self.session.bus()
        wait_until(lambda: host_registered(bus), timeout, "lxqt-panel's Status Notifier plugin as a host")

    def session_manager_env(self):
        """lxqt-session starts the window manager the user chose (asked once, in a dialog, at the first login),
        the panel, the notification server and the autostart entries."""
        folder = self.session.path("config", "lxqt")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "session.conf"), "w", encoding="utf-8") as config:
            config.write("[General]\nwindow_manager=openbox\n")
        return self.env()

    def apply_look(self, look):
        """Light or dark: the LXQt theme in the user's lxqt.conf, which the panel follows as the file changes."""
        folder = self.session.path("config", "lxqt")
        os.makedirs(folder, exist_ok=True)
        temporary = os.path.join(folder, "lxqt.conf.new")
        with open(temporary, "w", encoding="utf-8") as config:
            config.write(f"[General]\ntheme={THEMES[look]}\n")
        os.replace(temporary, os.path.join(folder, "lxqt.conf"))

    def host_pid(self):
        """The pid of the process that draws the tray."""
        return self.session.processes.pid("panel")
