"""The desktops people run, brought up in a Session for end-to-end tests: one module per desktop, each a
host with the panel interface (start, stop, host_pid) and the facts a scenario reads off it."""

from .gnome import BareGnomeShell, GnomeShell, GnomeShellWayland
from .lxqt import LxqtDesktop
from .plasma import Plasma, PlasmaWayland
from .x11_desktop import open_x11_desktop
from .xfce import XfceDesktop

HOSTS = {host.name: host for host in (XfceDesktop, LxqtDesktop, GnomeShell, BareGnomeShell, Plasma, GnomeShellWayland,
                                      PlasmaWayland)}


def open_host(session, name):
    """Starts the X server (where the desktop has one) and the bus the named desktop needs in session; returns
    it, not yet started."""
    return open_x11_desktop(session, HOSTS[name](session))
