"""Whole desktops as tray hosts: each starts the shell a user logs in to, with its own tray and notifications.

Besides what every panel has (name, needs_x, other_users, start, stop, host_pid), a desktop says which
X screen and extensions it wants (x_screen, x_extensions), what an app started in it gets in its
environment (app_env), which of the session's logs are its own (log_names) and the name its
notification server gives in GetServerInformation (notification_server, None when it has none).
"""

from .gnome import BareGnomeShell, GnomeShell
from .plasma import Plasma

HOSTS = {host.name: host for host in (GnomeShell, BareGnomeShell, Plasma)}
