"""What the desktops people run share when the harness brings one up on Xvfb: the screen, the environment
their programs get, and the facts a scenario reads off a host instead of asking which host it is on."""

from ..logs import QT_MESSAGE_PATTERN
from ..on_screen import Screen
from ..tray import WATCHER, host_registered
from ..wait import DEFAULT_TIMEOUT, wait_until
from ..xscreen import grab, window_manager_running

# Real sessions run with a UTF-8 locale and Mesa's software renderer on a virtual screen.
DESKTOP_ENV = {"LANG": "C.UTF-8", "LIBGL_ALWAYS_SOFTWARE": "1", "XDG_SESSION_TYPE": "x11",
               "QT_MESSAGE_PATTERN": QT_MESSAGE_PATTERN}


class X11Desktop:
    """A desktop session on the session's X server; subclasses start its panel, window manager and servers.

    Facts a scenario reads (data, not code paths):
      x_screen, x_extensions  what Xvfb is started with
      app_env                 what an app started in that session gets (XDG_CURRENT_DESKTOP, ...)
      log_names               the session's processes the host starts, in order; their logs hold its warnings
      notification_server     the name its notification server gives in GetServerInformation
      has_tray                whether the desktop shows tray items at all
      left_click_opens_menu   whether a left click on an item opens its menu (else it calls Activate only)
      menu_button             the pointer button that opens an item's menu
      draws_tooltips          whether hovering an item shows its ToolTip
      default_action_is_button  whether the notification server draws the "default" action as a button
      open_button_offset      where, from a bubble's bottom right corner, its only action button sits (dx, dy)
      bubbles_have_windows    whether each notification bubble is a window of the notification server's own;
                              else the host draws them inside a window of its own, where only what changes
                              on the screen shows them
      panel_area              where the panel is, for hosts that draw popups in their own window: what changes
                              there (a clock) is not taken for a popup; None otherwise
      looks                   the panel's looks a test can switch between cheaply (set_look), the session's own
                              first
      programs                what must be installed
      panel_names             the processes that make the panel (started by start_panel, stopped by stop_panel)
      session_manager         how the desktop's own session manager is started at login (argv), or () for none
      tray_words              words an app's notice of a missing tray should use on this desktop
      panel_apart_from_watcher  whether the StatusNotifier watcher runs without the panel (Plasma's kded5)
      race_at_grace           whether a late panel can come just as an app gives up waiting for one and finds the
                              same desktop's XEmbed tray (GNOME's extension is both)
      restart_outage_notice   whether a scenario keeps the panel away long enough for an app's notice, on restart
                              (one host is enough: one whose notification server runs apart from the panel)
      restart_scale           the scale factor the panel comes back at after a restart (set_scale)
      tray_extension          the extension that is the tray, switched off and on with set_extension; None
      pointer                 whether a test can move a real pointer on it (xdotool on the X screen)
      bubble_area             where the notification server shows a new bubble, for hosts without a pointer

    A session starts in two parts, so that a test can start apps between them as a login may: start_base
    (the window manager, the servers that are not the panel) and start_panel (the tray's host).
    """

    name = ""
    needs_x = True
    other_users = ()
    x_screen = "1280x800x24"
    x_extensions = ("GLX", "RANDR", "COMPOSITE")
    desktop_names = ""
    log_names = ()
    notification_server = ""
    has_tray = True
    left_click_opens_menu = True
    menu_button = 1
    draws_tooltips = True
    default_action_is_button = False
    open_button_offset = None
    bubbles_have_windows = True
    panel_area = None
    looks = ("default",)
    programs = ()
    panel_names = ()
    session_manager = ()
    tray_words = ""
    panel_apart_from_watcher = False
    race_at_grace = False
    restart_outage_notice = False
    restart_scale = 1
    tray_extension = None
    pointer = True
    bubble_area = None

    def __init__(self, session):
        self.session = session
        self.look = self.looks[0]

    @property
    def app_env(self):
        """What an app started in this session gets besides the session's environment."""
        return {"XDG_CURRENT_DESKTOP": self.desktop_names}

    def env(self, extra=None):
        """The environment of the session's own programs."""
        return {**DESKTOP_ENV, "XDG_CURRENT_DESKTOP": self.desktop_names, **(extra or {})}

    def screen(self):
        """The screen a test reads the desktop on."""
        return Screen(self.session)

    def start(self, timeout=DEFAULT_TIMEOUT):
        """Starts the whole desktop; returns once its tray and notifications serve."""
        self.start_base(timeout)
        self.start_panel(timeout)

    def start_base(self, timeout=DEFAULT_TIMEOUT):
        """Starts what comes before the panel; nothing by default."""

    def start_panel(self, timeout=DEFAULT_TIMEOUT):
        """Starts the panel; returns once it shows tray items."""
        raise NotImplementedError

    def stop_panel(self, timeout=DEFAULT_TIMEOUT):
        """Stops the panel (panel_names, the last first); returns once the tray's names are free."""
        for name in reversed(self.panel_names):
            self.session.processes.stop(name)
        bus = self.session.bus()
        wait_until(lambda: not self.panel_serves(bus), timeout, f"{self.name}'s panel to go")

    def panel_serves(self, bus):
        """Whether the panel's tray is on the bus: its watcher, by default."""
        return bus.has_owner(WATCHER)

    def session_manager_env(self):
        """The environment the session manager starts with, on top of the session's."""
        return self.env()

    def start_session_manager(self, timeout=DEFAULT_TIMEOUT, wrap=()):
        """Starts the desktop as a login does, by its own session manager (wrapped in wrap, an argv prefix);
        returns once the panel shows tray items."""
        self.session.start("session-manager", [*wrap, *self.session_manager], env=self.session_manager_env())
        bus = self.session.bus()
        wait_until(lambda: self.panel_serves(bus) and host_registered(bus), timeout,
                   f"{self.name}'s panel started by {self.session_manager[0]}")

    def start_window_manager(self, argv, timeout=DEFAULT_TIMEOUT):
        """Starts the window manager; returns once it has taken the screen."""
        self.session.start("window-manager", argv, env=self.env())
        wait_until(lambda: window_manager_running(self.session.display), timeout, f"the window manager {argv[0]}")

    def set_look(self, look, timeout=DEFAULT_TIMEOUT):
        """Switches the panel to one of looks; returns once the screen shows it."""
        if look not in self.looks:
            raise ValueError(f"{self.name} has no look {look}")
        if look == self.look:
            return
        before = grab(self.session.display)
        self.apply_look(look)
        wait_until(lambda: not grab(self.session.display).same_pixels(before), timeout,
                   f"the {look} look on the screen")
        self.look = look

    def apply_look(self, look):
        """Asks the desktop for one of looks, as its settings do; the default desktop has only one."""
        raise NotImplementedError(f"{self.name} has one look")

    def stop(self, timeout=DEFAULT_TIMEOUT):
        """Stops what start() started (log_names), the last first."""
        for name in reversed(self.log_names):
            self.session.processes.stop(name)


def open_x11_desktop(session, host):
    """Starts the X server (for a host that needs one) and the bus the host needs in session; returns the host,
    not yet started."""
    if host.needs_x:
        session.start_x(host.x_screen, host.x_extensions)
    session.start_bus(other_users=host.other_users)
    return host
