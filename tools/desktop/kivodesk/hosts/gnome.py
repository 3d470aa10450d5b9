"""GNOME Shell 43 on X11 as a user meets it: with the AppIndicator extension as its tray, or bare, with no tray
at all. Its own notification service (a gjs program) is started by the bus when the shell asks for it.

gnome-shell runs as the user a desktop runs as, never as root: as root it covers the top of the screen with
a "privileged user" banner that stays until the pointer moves. Its settings are a keyfile in a home of its
own, so nothing needs dconf.
"""

import os

from ..host_user import HostUser
from ..notifications import NAME as NOTIFICATIONS
from ..pixels import Rect
from ..tray import WATCHER, host_registered
from ..wait import DEFAULT_TIMEOUT, wait_until
from ..compositor_screen import CompositorScreen, GnomeShellCapture
from .x11_desktop import X11Desktop

SHELL = ("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell")
SHELL_EXTENSIONS = "org.gnome.Shell.Extensions"
# The gjs program that owns the notification name for the shell, which asks the bus for it at start.
NOTIFICATIONS_SERVICE = ("org.gnome.Shell.Notifications", ["gjs", "/usr/share/gnome-shell/org.gnome.Shell.Notifications"])
APPINDICATOR = "ubuntu-appindicators@ubuntu.com"
# An extension of ours that is only a stylesheet: the top bar in light colours while it is enabled.
LIGHT_PANEL = "light-panel@kivo.io"
LIGHT_PANEL_FILES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gnome_light_panel")

# A fresh home would show the welcome tour; the lock-screen warning is kept off by its marker file.
SETTINGS = """[org/gnome/shell]
disable-user-extensions=false
enabled-extensions={extensions}
welcome-dialog-last-shown-version='999'
"""


class GnomeShell(X11Desktop):
    """gnome-shell --x11 with the AppIndicator extension, which is the StatusNotifier watcher and host."""

    name = "gnome"
    desktop_names = "GNOME"
    log_names = ("gnome-shell",)
    notification_server = "gnome-shell"
    # A left click opens the menu; once an item answered Activate with success, only after the double-click
    # time (a double click calls Activate).
    left_click_opens_menu = True
    menu_button = 1
    draws_tooltips = False
    # GNOME draws the buttons of a bubble only while the pointer is on it; a click on the bubble's text is
    # the "default" action, which is where this points.
    open_button_offset = (-100, -40)
    looks = ("dark", "light")
    programs = ("gnome-shell", "gjs", "gnome-session")
    panel_names = ("gnome-shell",)
    session_manager = ("gnome-session", "--builtin", "--session=gnome")
    tray_words = "gnome-shell-extension-appindicator"
    race_at_grace = True
    tray_extension = APPINDICATOR
    # The shell draws its bubbles, as its top bar, in its own stage window.
    bubbles_have_windows = False
    # The top bar on the default screen.
    panel_area = Rect(0, 0, 1280, 32)
    extensions = (APPINDICATOR,)

    def __init__(self, session):
        super().__init__(session)
        self.host_user = HostUser(session, "gnome")
        self.other_users = self.host_user.uids

    def _prepare(self):
        if os.path.isdir(self.host_user.dir):
            return
        extensions = ".local/share/gnome-shell/extensions"
        self.host_user.prepare([".config/glib-2.0/settings", extensions, ".cache"])
        self.host_user.write(".config/glib-2.0/settings/keyfile", SETTINGS.format(extensions=list(self.extensions)))
        self.host_user.write(".local/share/gnome-shell/lock-warning-shown", "")
        if "light" in self.looks:
            self.host_user.copy_folder(LIGHT_PANEL_FILES, os.path.join(extensions, LIGHT_PANEL))

    def env(self, extra=None):
        """The environment of the shell."""
        return super().env({
            **self.host_user.env(),
            "GSETTINGS_BACKEND": "keyfile",
            # What the AppIndicator extension reads from each item, and what it makes of it.
            "G_MESSAGES_DEBUG": "Ubuntu-AppIndicators",
            **(extra or {}),
        })

    def start_base(self, timeout=DEFAULT_TIMEOUT):
        """What the shell needs before it starts: its settings, a system bus, its notification service."""
        self._prepare()
        session = self.session
        if not session.system_bus_address:
            session.start_system_bus(other_users=self.other_users)
        if not os.path.exists(session.path("bus-services", f"{NOTIFICATIONS_SERVICE[0]}.service")):
            session.add_bus_service(*NOTIFICATIONS_SERVICE)

    def start_panel(self, timeout=DEFAULT_TIMEOUT):
        """Starts the shell; returns once its tray has a host, the overview is closed, the notification service
        runs and the top bar is on screen."""
        self.start_base(timeout)
        session = self.session
        session.start("gnome-shell", ["gnome-shell", "--x11", "--replace"], env=self.env(), user=self.host_user.user)
        self._wait_ready(timeout)

    def _wait_ready(self, timeout):
        """Waits until the shell serves: on the bus, its tray, the overview closed, notifications, the top bar."""
        session = self.session
        bus = session.bus()
        wait_until(lambda: bus.has_owner(SHELL[0]), timeout, "GNOME Shell on the bus")
        if self.extensions:
            wait_until(lambda: host_registered(bus), timeout, "the AppIndicator extension as a tray host")
        self._close_overview(bus, timeout)
        wait_until(lambda: bus.has_owner(NOTIFICATIONS), timeout, "GNOME's notification service")
        wait_until(lambda: not self.screen().grab(self.panel_area).flat(), timeout, "GNOME's top bar on screen")

    def set_extension(self, uuid, enabled):
        """Switches an extension on or off, as Extensions does."""
        method = "EnableExtension" if enabled else "DisableExtension"
        self.session.bus().call(SHELL[0], SHELL[1], SHELL_EXTENSIONS, method, "s", uuid)

    def session_manager_env(self):
        """gnome-session runs as we do, in the home where the app's login item is: the shell's settings (the
        extension enabled) go there too. As root the shell shows its banner, which no check here looks at."""
        config = self.session.path("config")
        settings = os.path.join(config, "glib-2.0", "settings")
        os.makedirs(settings, exist_ok=True)
        with open(os.path.join(settings, "keyfile"), "w", encoding="utf-8") as keyfile:
            keyfile.write(SETTINGS.format(extensions=list(self.extensions)))
        return super().env({"GSETTINGS_BACKEND": "keyfile", "G_MESSAGES_DEBUG": "Ubuntu-AppIndicators",
                            "XDG_SESSION_CLASS": "user", "XDG_SESSION_DESKTOP": "gnome"})

    def _close_overview(self, bus, timeout):
        # The shell opens the overview as its start animation; closed before that, it would open again.
        wait_until(lambda: bus.get(*SHELL, "OverviewActive"), timeout, "the overview of GNOME Shell's start")
        bus.set(*SHELL, "OverviewActive", "b", False)
        wait_until(lambda: not bus.get(*SHELL, "OverviewActive"), timeout, "the overview to close")

    def apply_look(self, look):
        """Dark (the shell's own) or light: the light-panel extension, enabled or disabled as Extensions does."""
        method = "EnableExtension" if look == "light" else "DisableExtension"
        self.session.bus().call(SHELL[0], SHELL[1], SHELL_EXTENSIONS, method, "s", LIGHT_PANEL)

    def stop(self, timeout=DEFAULT_TIMEOUT):
        """Stops the shell; returns once its names are free (the notification service stays, idle)."""
        self.stop_panel(timeout)

    def panel_serves(self, bus):
        """Whether the shell is on the bus, and its extension's watcher where it has one."""
        return bus.has_owner(SHELL[0]) or bus.has_owner(WATCHER)

    def host_pid(self):
        """The pid of the process that draws the tray."""
        return self.session.processes.pid("gnome-shell")


class BareGnomeShell(GnomeShell):
    """GNOME Shell as it comes: no extension, so no StatusNotifier watcher and no tray."""

    name = "gnome-bare"
    has_tray = False
    looks = ("dark",)
    extensions = ()
    race_at_grace = False
    tray_extension = None


class GnomeShellWayland(GnomeShell):
    """GNOME Shell as Debian's default GNOME session runs it: the Wayland compositor itself, here headless on a
    virtual monitor, with the AppIndicator extension as on X11. Xwayland starts when an X client needs it.

    No real pointer reaches it: the headless shell has no input device at all, and xdotool speaks X11, which
    reaches Xwayland's windows only, never the shell's own top bar. Mutter's RemoteDesktop interface could
    move a pointer, but only inside a screen-cast session, which needs PipeWire and a portal. So the test reads
    the menu over D-Bus as the extension does, and sees the icon and the bubbles in the shell's screenshots."""

    name = "gnome-wayland"
    needs_x = False
    pointer = False
    wayland_display = "kivo-wayland-0"
    looks = ("dark",)
    programs = ("gnome-shell", "gjs", "Xwayland")
    session_manager = ()
    race_at_grace = False
    tray_extension = None
    # GNOME shows a new banner at the top, under the top bar.
    bubble_area = Rect(340, 32, 600, 160)

    def __init__(self, session):
        super().__init__(session)
        self._screen = None

    @property
    def app_env(self):
        """What an app of the session gets: the compositor's socket, for the few that need a display."""
        return {"XDG_CURRENT_DESKTOP": self.desktop_names, "XDG_SESSION_TYPE": "wayland",
                "WAYLAND_DISPLAY": os.path.join(self.host_user.runtime, self.wayland_display)}

    def env(self, extra=None):
        return super().env({"XDG_SESSION_TYPE": "wayland", **(extra or {})})

    def start_panel(self, timeout=DEFAULT_TIMEOUT):
        """Starts the shell as a headless Wayland compositor; returns once its tray has a host, the overview is
        closed, the notification service runs and the top bar is on screen."""
        self.start_base(timeout)
        self.session.start("gnome-shell", ["gnome-shell", "--wayland", "--headless", "--virtual-monitor", "1280x800",
                                           "--wayland-display", self.wayland_display],
                           env=self.env(), user=self.host_user.user)
        self._wait_ready(timeout)

    def screen(self):
        """The shell's top bar, read through its screenshot interface."""
        if self._screen is None:
            capture = GnomeShellCapture(self.session.bus_address, self.host_user.runtime)
            self.session.on_close.append(capture.close)
            self._screen = CompositorScreen(self.session, capture, self.panel_area)
        return self._screen
