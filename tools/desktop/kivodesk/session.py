"""A private desktop session: a temporary folder, an X server and a session bus of its own."""

import os
import select
import shutil
import tempfile

from .bus import Bus
from .processes import Processes, processes_marked, stop_pids
from .wait import DEFAULT_TIMEOUT, wait_until

# Panels draw text with GTK or Qt, which want a UTF-8 locale; the app gets none, as on a fresh machine.
PANEL_LOCALE = {"LANG": "C.UTF-8"}

# The unprivileged user that runs what refuses to run as root (sway); nobody on Debian.
NOBODY = (65534, 65534)

# The environment variable that marks every process of a session.
SESSION_MARK = "KIVODESK_SESSION"

# Where a desktop's own session services are described, for the few a host needs activated.
SYSTEM_SERVICES = "/usr/share/dbus-1/services"

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>{kind}</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  {service_dir}
  <policy context="default">
    {users}
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def base_environment(extra=None):
    """A small, known environment: nothing of the caller's desktop, locale or bus leaks in (no LANG, as on a fresh root)."""
    env = {
        "PATH": os.environ.get("PATH") or "/usr/sbin:/usr/bin:/sbin:/bin",
        "HOME": os.environ.get("HOME") or "/",
        # GTK would otherwise start the accessibility bus and a settings daemon that outlive us.
        "NO_AT_BRIDGE": "1",
        "GSETTINGS_BACKEND": "memory",
    }
    # A sanitizer build's programs keep the options the test runner gave them.
    env.update({key: value for key, value in os.environ.items() if key.endswith("SAN_OPTIONS")})
    if extra:
        env.update(extra)
    return env


class Session:
    """Temporary XDG folders, an optional Xvfb, a private session bus and, for hosts that want one, a private
    system bus; undone by close()."""

    def __init__(self, name="kivo-desktop", keep=False):
        self.dir = tempfile.mkdtemp(prefix=f"{name}.")
        self.keep = keep
        self.processes = Processes(self.dir)
        self.display = None
        self.bus_address = None
        self.system_bus_address = None
        self._bus = None
        self.on_close = []
        for sub in ("runtime", "config", "cache", "data"):
            os.mkdir(self.path(sub), 0o700)
        self.env = base_environment({
            # Whatever our processes start inherits this, the bus's activated services too: so close() finds
            # what a desktop left running, as a session manager would.
            SESSION_MARK: self.dir,
            "XDG_RUNTIME_DIR": self.path("runtime"),
            "XDG_CONFIG_HOME": self.path("config"),
            "XDG_CACHE_HOME": self.path("cache"),
            "XDG_DATA_HOME": self.path("data"),
        })

    def __enter__(self):
        return self

    def __exit__(self, *_exc):
        self.close()

    def path(self, *parts):
        """A path inside the session's folder."""
        return os.path.join(self.dir, *parts)

    def start(self, name, argv, env=None, user=None, pass_fds=()):
        """Starts a tracked process with the session's environment, plus env (a None value unsets)."""
        merged = dict(self.env)
        merged.update(env or {})
        merged = {key: value for key, value in merged.items() if value is not None}
        return self.processes.start(name, argv, env=merged, user=user, pass_fds=pass_fds)

    def start_x(self, screen="1024x768x24", extensions=(), timeout=DEFAULT_TIMEOUT):
        """Starts Xvfb on a display number it picks itself, with extensions (GLX, ...) turned on; sets DISPLAY."""
        read_end, write_end = os.pipe()
        switches = [arg for extension in extensions for arg in ("+extension", extension)]
        try:
            process = self.start("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen,
                                          "-nolisten", "tcp", "-noreset", *switches], pass_fds=(write_end,))
        finally:
            os.close(write_end)
        try:
            # -displayfd writes the number once the server accepts clients.
            text = _read_line(read_end, timeout, lambda: process.poll() is None)
        finally:
            os.close(read_end)
        if not text.strip().isdigit():
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + text.strip()
        self.env["DISPLAY"] = self.display
        return self.display

    def start_bus(self, other_users=(), timeout=DEFAULT_TIMEOUT):
        """Starts the session bus; only the services passed to add_bus_service are activatable on it.

        other_users (uids) may connect too.
        """
        os.mkdir(self.path("services"), 0o755)
        service_dir = f"<servicedir>{self.path('services')}</servicedir>"
        self.bus_address = self._start_daemon("bus", "session", service_dir, other_users, timeout)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        return self.bus_address

    def start_system_bus(self, other_users=(), timeout=DEFAULT_TIMEOUT):
        """Starts a private, permissive system bus with no services; sets DBUS_SYSTEM_BUS_ADDRESS.

        Desktop shells want one to watch logind, accounts and the like; all they find there is that
        nothing runs, as in a container.
        """
        self.system_bus_address = self._start_daemon("system-bus", "system", "", other_users, timeout)
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.system_bus_address
        # What the session bus starts must reach it too.
        if self.bus_address:
            self.bus().call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                            "UpdateActivationEnvironment", "a{ss}",
                            {"DBUS_SYSTEM_BUS_ADDRESS": self.system_bus_address})
        return self.system_bus_address

    def add_bus_service(self, name):
        """Makes the desktop's own session service NAME (its .service file in SYSTEM_SERVICES) activatable."""
        link = os.path.join(self.path("services"), f"{name}.service")
        if not os.path.lexists(link):
            os.symlink(os.path.join(SYSTEM_SERVICES, f"{name}.service"), link)
        self.bus().call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReloadConfig")

    def _start_daemon(self, name, kind, service_dir, other_users, timeout):
        socket = self.path(name)
        users = "".join(f'<allow user="{uid}"/>' for uid in other_users)
        if other_users:
            users += f'<allow user="{os.getuid()}"/>'
            # The other user must reach the socket inside our private folder.
            os.chmod(self.dir, 0o711)
        config = self.path(f"{name}.conf")
        with open(config, "w", encoding="utf-8") as conf:
            conf.write(BUS_CONFIG.format(kind=kind, socket=socket, service_dir=service_dir, users=users))
        read_end, write_end = os.pipe()
        try:
            process = self.start(name, ["dbus-daemon", f"--config-file={config}", "--nofork",
                                        f"--print-address={write_end}"], pass_fds=(write_end,))
        finally:
            os.close(write_end)
        try:
            address = _read_line(read_end, timeout, lambda: process.poll() is None).strip()
        finally:
            os.close(read_end)
        if not address.startswith("unix:"):
            raise RuntimeError(f"dbus-daemon ({kind}) did not start")
        return address

    def bus(self):
        """The harness's own connection to the session bus, opened on first use."""
        if self._bus is None:
            self._bus = Bus(self.bus_address)
        return self._bus

    def logs(self):
        """The tail of every process's log."""
        return self.processes.logs()

    def close(self):
        """Runs the on_close callbacks (last first), stops every process and removes the folder."""
        for callback in reversed(self.on_close):
            try:
                callback()
            except Exception as error:  # noqa: BLE001 - one failing clean-up must not stop the others
                print(f"desktop: clean-up failed: {error}", flush=True)
        self.on_close = []
        if self._bus is not None:
            self._bus.close()
            self._bus = None
        self.processes.stop_all()
        stop_pids(processes_marked(f"{SESSION_MARK}={self.dir}"))
        if self.keep:
            print(f"desktop: kept {self.dir}", flush=True)
        else:
            shutil.rmtree(self.dir, ignore_errors=True)


def _read_line(fd, timeout, still_starting):
    """Reads what a starting program writes to fd, until a newline or the deadline."""
    data = b""
    wait_until(lambda: _ready_or_ended(fd, still_starting), timeout, "the start of a program")
    while not data.endswith(b"\n"):
        readable, _, _ = select.select([fd], [], [], 0)
        if not readable:
            break
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        data += chunk
    return data.decode("utf-8", "replace")


def _ready_or_ended(fd, still_starting):
    readable, _, _ = select.select([fd], [], [], 0)
    return bool(readable) or not still_starting()
