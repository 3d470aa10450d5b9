"""XFCE 4.18 as a user meets it: xfwm4, the top panel of XFCE's default layout with its status tray, and
xfce4-notifyd, with xfconfd started by the bus as in a real session."""

import os

from ..notifications import NAME as NOTIFICATIONS
from ..tray import host_registered
from ..wait import DEFAULT_TIMEOUT, wait_until
from .x11_desktop import X11Desktop

XFCONFD = "/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd"
NOTIFYD = "/usr/lib/x86_64-linux-gnu/xfce4/notifyd/xfce4-notifyd"
XFCONF = ("org.xfce.Xfconf", "/org/xfce/Xfconf", "org.xfce.Xfconf")

# The first panel of /etc/xdg/xfce4/panel/default.xml, without the plugins of packages a bare install lacks
# (sound, power, notification centre): XFCE asks about each missing plugin in a dialog of its own.
PANEL_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="true"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="size" type="uint" value="26"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
        <value type="int" value="3"/>
        <value type="int" value="4"/>
        <value type="int" value="5"/>
        <value type="int" value="6"/>
        <value type="int" value="11"/>
        <value type="int" value="12"/>
        <value type="int" value="13"/>
        <value type="int" value="14"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="applicationsmenu"/>
    <property name="plugin-2" type="string" value="tasklist">
      <property name="grouping" type="uint" value="1"/>
    </property>
    <property name="plugin-3" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-4" type="string" value="pager"/>
    <property name="plugin-5" type="string" value="separator">
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-6" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
    <property name="plugin-11" type="string" value="separator">
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-12" type="string" value="clock"/>
    <property name="plugin-13" type="string" value="separator">
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-14" type="string" value="actions"/>
  </property>
</channel>
"""


class XfceDesktop(X11Desktop):
    """xfwm4 without its compositor, xfce4-panel (its systray plugin is the watcher and the host) and xfce4-notifyd."""

    name = "xfce"
    desktop_names = "XFCE"
    log_names = ("window-manager", "notifyd", "panel")
    notification_server = "Xfce Notify Daemon"
    default_action_is_button = True
    open_button_offset = (-57, -32)
    programs = ("xfwm4", "xfce4-panel", XFCONFD, NOTIFYD, "xfce4-session")
    panel_names = ("panel",)
    session_manager = ("xfce4-session",)
    tray_words = "Status Tray"
    restart_outage_notice = True
    # XFCE's default panel is dark.
    looks = ("dark", "light")

    def __init__(self, session):
        super().__init__(session)
        self.configured = False

    def _configure(self):
        if self.configured:
            return
        folder = self.session.path("config", "xfce4", "xfconf", "xfce-perchannel-xml")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "xfce4-panel.xml"), "w", encoding="utf-8") as config:
            config.write(PANEL_CONFIG)
        self.session.add_bus_service(XFCONF[0], [XFCONFD])
        self.configured = True

    def start_base(self, timeout=DEFAULT_TIMEOUT):
        """Starts the window manager and the notification server; returns once both serve."""
        self._configure()
        bus = self.session.bus()
        self.start_window_manager(["xfwm4", "--compositor=off"], timeout)
        self.session.start("notifyd", [NOTIFYD], env=self.env())
        wait_until(lambda: bus.has_owner(NOTIFICATIONS), timeout, "xfce4-notifyd on the bus")

    def start_panel(self, timeout=DEFAULT_TIMEOUT):
        """Starts the panel; returns once its status tray is a host."""
        self._configure()
        # The tray says what it makes of each item.
        self.session.start("panel", ["xfce4-panel"], env=self.env({"PANEL_DEBUG": "systray"}))
        bus = self.session.bus()
        wait_until(lambda: host_registered(bus), timeout, "the XFCE panel's status tray as a host")

    def session_manager_env(self):
        """xfce4-session starts the panel, the window manager and the autostart entries itself."""
        self._configure()
        return self.env({"PANEL_DEBUG": "systray"})

    def apply_look(self, look):
        """Dark or light: the panel's own dark-mode switch, which it follows at once."""
        self.session.bus().call(*XFCONF, "SetProperty", "ssv", "xfce4-panel", "/panels/dark-mode",
                                ("b", look == "dark"))

    def host_pid(self):
        """The pid of the process that draws the tray."""
        return self.session.processes.pid("panel")
