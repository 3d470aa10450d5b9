"""What the desktops people run share when the harness brings one up on Xvfb: the screen, the environment
their programs get, and the facts a scenario reads off a host instead of asking which host it is on."""

from ..logs import QT_MESSAGE_PATTERN
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
    """Starts the X server and the bus the host needs in session; returns the host, not yet started."""
    session.start_x(host.x_screen, host.x_extensions)
    session.start_bus(other_users=host.other_users)
    return host
