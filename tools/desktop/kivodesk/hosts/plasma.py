"""KDE Plasma 5.27 on X11 as a user meets it: kwin, kded5 with its StatusNotifier watcher, and plasmashell's
default layout, whose system tray is the host and whose notification applet is the notification server.
Plasma runs as the user we are (it has no warning for root); its settings live in a home of its own."""

import os
import shutil
import subprocess

from ..compositor_screen import CompositorScreen, KWinCapture
from ..host_user import HostUser
from ..pixels import Rect
from ..notifications import NAME as NOTIFICATIONS
from ..tray import WATCHER, tray_host_names
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
    programs = ("kwin_x11", "kded5", "plasmashell", ACTIVITY_MANAGER[1][0], "startplasma-x11", "xrdb")
    panel_names = ("plasmashell",)
    session_manager = ("startplasma-x11",)
    tray_words = "System Tray"
    panel_apart_from_watcher = True
    restart_scale = 2

    def __init__(self, session):
        super().__init__(session)
        self.host_user = HostUser(session, "plasma", unprivileged=False)
        self.scale = 1

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

    def start_base(self, timeout=DEFAULT_TIMEOUT):
        """Starts the activity manager, kwin and kded5 with the StatusNotifier watcher: a Plasma session before
        (or without) its panel."""
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

    def start_panel(self, timeout=DEFAULT_TIMEOUT):
        """Starts plasmashell; returns once its tray is a host, its notifications work and the panel is drawn."""
        session = self.session
        bus = session.bus()
        session.start("plasmashell", ["plasmashell", "--no-respawn"], env=self.env())
        wait_until(lambda: tray_host_names(bus), timeout, "Plasma's system tray as a host")
        wait_until(lambda: bus.has_owner(NOTIFICATIONS), timeout, "Plasma's notification server")
        wait_until(self._panel_drawn, timeout, "Plasma's panel on screen")

    def panel_serves(self, bus):
        """Whether plasmashell is on the bus: kded5's watcher stays when the panel goes."""
        return bus.has_owner(PLASMASHELL)

    def set_scale(self, factor):
        """The scale factor the panel is drawn at from its next start on, as the display settings set it on X11:
        the fonts' DPI, in the X resources and in Plasma's font settings, which Plasma scales itself by there."""
        dpi = round(96 * factor)
        subprocess.run(["xrdb", "-merge"], input=f"Xft.dpi: {dpi}\n".encode(), env={**self.session.env},
                       capture_output=True, timeout=SETTINGS_TIMEOUT, check=True)
        self.host_user.write(".config/kcmfonts", f"[General]\nforceFontDPI={dpi}\n")
        self.scale = factor

    def session_manager_env(self):
        """startplasma-x11 starts kwin, kded5, plasmashell and the autostart entries itself, with the settings
        of the session's own folder, where apps record their login items."""
        self._prepare()
        self.session.add_bus_service(*ACTIVITY_MANAGER)
        return self.env({"XDG_CONFIG_HOME": self.session.path("config")})

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



class PlasmaWayland(Plasma):
    """Plasma as Debian's default Plasma session runs it: KWin as the Wayland compositor (here on its virtual
    backend, with Xwayland), kded5 with the StatusNotifier watcher, and plasmashell, all Wayland clients.

    No real pointer reaches it: KWin's virtual backend has no input device, xdotool speaks X11, which reaches
    Xwayland's windows only, never plasmashell's panel, and KWin lets only a privileged Wayland client (one it
    started itself) fake input. So the test reads the menu over D-Bus as the tray does, and sees the icon and
    the bubbles in KWin's screenshots (allowed to any caller by KWIN_SCREENSHOT_NO_PERMISSION_CHECKS)."""

    name = "plasma-wayland"
    needs_x = False
    pointer = False
    wayland_display = "kivo-wayland-0"
    log_names = ("kwin", "kded", "plasmashell")
    programs = ("kwin_wayland", "kded5", "plasmashell", ACTIVITY_MANAGER[1][0], "Xwayland")
    session_manager = ()
    panel_apart_from_watcher = False
    restart_scale = 1
    looks = ("light",)
    # The panel's band at the bottom of the screen, and where a bubble rises above its right end.
    panel_area = Rect(0, 740, 1280, 60)
    bubble_area = Rect(880, 440, 400, 300)

    def __init__(self, session):
        super().__init__(session)
        self._screen = None

    @property
    def socket(self):
        """The compositor's socket, as an absolute path, which every Wayland client takes in WAYLAND_DISPLAY."""
        return os.path.join(self.host_user.runtime, self.wayland_display)

    @property
    def app_env(self):
        return {**super().app_env, "XDG_SESSION_TYPE": "wayland", "WAYLAND_DISPLAY": self.socket,
                "QT_QPA_PLATFORM": "wayland"}

    def env(self, extra=None):
        return super().env({"XDG_SESSION_TYPE": "wayland", "QT_QPA_PLATFORM": "wayland", "WAYLAND_DISPLAY": self.socket,
                            "KWIN_SCREENSHOT_NO_PERMISSION_CHECKS": "1", **(extra or {})})

    def _kwin(self):
        """kwin_wayland, or where its file capability cannot be granted (a container whose bounding set lacks
        cap_sys_resource: exec fails with EPERM) a copy without it, which runs the same program."""
        program = shutil.which("kwin_wayland")
        if _bounding_set_has(CAP_SYS_RESOURCE):
            return program
        copy = self.session.path("kwin_wayland")
        if not os.path.exists(copy):
            shutil.copy(program, copy)
        return copy

    def start_base(self, timeout=DEFAULT_TIMEOUT):
        """Starts KWin as the compositor, then the activity manager and kded5 with the watcher, which find it as
        a session's programs do: through the bus's activation environment, as startplasma sets it."""
        self._prepare()
        session = self.session
        bus = session.bus()
        # The compositor is no client of itself.
        session.start("kwin", [self._kwin(), "--virtual", "--xwayland", "--width", "1280", "--height", "800",
                               "--socket", self.wayland_display],
                      env=self.env({"QT_QPA_PLATFORM": None, "WAYLAND_DISPLAY": None}))
        wait_until(lambda: bus.has_owner(KWIN) and os.path.exists(self.socket), timeout, "KWin on the bus")
        bus.update_activation_environment({key: value for key, value in self.env().items()
                                           if key in ACTIVATION_VARIABLES and value is not None})
        session.add_bus_service(*ACTIVITY_MANAGER)
        bus.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "StartServiceByName", "su",
                 ACTIVITY_MANAGER[0], 0, timeout=timeout)
        session.start("kded", ["kded5"], env=self.env())
        wait_until(lambda: bus.has_owner(KDED), timeout, "kded5 on the bus")
        bus.call(KDED, "/kded", KDED, "loadModule", "s", "statusnotifierwatcher", timeout=timeout)
        wait_until(lambda: bus.has_owner(WATCHER), timeout, "the StatusNotifier watcher in kded5")

    def _panel_drawn(self):
        return not self.screen().grab().flat()

    def screen(self):
        """The panel's band, read through KWin's screenshot interface."""
        if self._screen is None:
            capture = KWinCapture(self.session.bus_address)
            self.session.on_close.append(capture.close)
            self._screen = CompositorScreen(self.session, capture, self.panel_area)
        return self._screen


# What startplasma puts into the bus's activation environment for the programs the bus starts.
ACTIVATION_VARIABLES = ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP",
                        "KDE_FULL_SESSION", "KDE_SESSION_VERSION", "XDG_RUNTIME_DIR", "HOME", "XDG_CONFIG_HOME",
                        "XDG_DATA_HOME", "XDG_CACHE_HOME")
CAP_SYS_RESOURCE = 24


def _bounding_set_has(capability):
    """Whether this process's capability bounding set holds capability (its number)."""
    try:
        with open("/proc/self/status", encoding="ascii") as status:
            for line in status:
                if line.startswith("CapBnd:"):
                    return bool(int(line.split()[1], 16) >> capability & 1)
    except OSError:
        pass
    return False
