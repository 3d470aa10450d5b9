"""A private desktop session: a temporary folder, an X server and a session bus of its own, and for the desktops
that want one a system bus of its own."""

import os
import select
import shlex
import shutil
import tempfile

from .bus import Bus
from .processes import Processes, processes_marked, stop_pid
from .wait import DEFAULT_TIMEOUT, wait_until

# The unprivileged user that runs what refuses to run as root (sway); nobody on Debian.
NOBODY = (65534, 65534)

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>{kind}</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    {users}
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
  {services}
  {limits}
</busconfig>
"""

# The environment variable that marks every process of a session, with the session's folder as its value.
SESSION_MARK = "KIVODESK_SESSION"

# What a bus-activated program is told to run: the Exec line of its .service file.
SERVICE_FILE = "[D-BUS Service]\nName={name}\nExec={command}\n"


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
    """Temporary XDG folders, an optional Xvfb and a private dbus-daemon; undone by close()."""

    def __init__(self, name="kivo-desktop", keep=False):
        self.dir = tempfile.mkdtemp(prefix=f"{name}.")
        self.keep = keep
        self.processes = Processes(self.dir)
        self.display = None
        self.bus_address = None
        self.system_bus_address = None
        self._bus = None
        self.on_close = []
        for sub in ("runtime", "config", "cache", "data", "bus-services"):
            os.mkdir(self.path(sub), 0o700)
        self.env = base_environment({
            # Whatever our processes start inherits this, the bus's activated programs too: close() finds by
            # it what a desktop left running, as a session manager would.
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
        """Starts Xvfb on a display number it picks itself, with the named extensions turned on; sets DISPLAY."""
        read_end, write_end = os.pipe()
        switches = [argument for extension in extensions for argument in ("+extension", extension)]
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

    def start_bus(self, other_users=(), max_message_size=None, timeout=DEFAULT_TIMEOUT):
        """Starts a session bus that activates only what add_bus_service put in the session's own service
        folder, none of the system's; other_users (uids) may connect too. A bus given max_message_size (bytes)
        drops any connection that sends a larger message, as every bus does beyond its own limit.

        Activated programs get the bus's environment: the session's as it is now, DISPLAY included."""
        limits = f'<limit name="max_message_size">{max_message_size}</limit>' if max_message_size else ""
        services = f"<servicedir>{self.path('bus-services')}</servicedir>"
        self.bus_address = self._start_daemon("bus", "session", services, limits, other_users, timeout)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        return self.bus_address

    def start_system_bus(self, other_users=(), timeout=DEFAULT_TIMEOUT):
        """Starts a system bus of the session's own, that lets anyone own any name and activates nothing; sets
        DBUS_SYSTEM_BUS_ADDRESS, for what the session bus starts too.

        Desktop shells want one to watch logind, accounts and the like; all they find there is that nothing
        runs, as in a container."""
        self.system_bus_address = self._start_daemon("system-bus", "system", "", "", other_users, timeout)
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.system_bus_address
        if self.bus_address is not None:
            self.bus().update_activation_environment({"DBUS_SYSTEM_BUS_ADDRESS": self.system_bus_address})
        return self.system_bus_address

    def _start_daemon(self, name, kind, services, limits, other_users, timeout):
        """Starts a dbus-daemon of kind (session, system) as the process NAME; returns its address."""
        socket = self.path(name)
        users = "".join(f'<allow user="{uid}"/>' for uid in other_users)
        if other_users:
            users += f'<allow user="{os.getuid()}"/>'
            # The other user must reach the socket inside our private folder.
            os.chmod(self.dir, 0o711)
        config = self.path(f"{name}.conf")
        with open(config, "w", encoding="utf-8") as conf:
            conf.write(BUS_CONFIG.format(kind=kind, socket=socket, users=users, services=services, limits=limits))
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

    def add_bus_service(self, name, argv):
        """Makes the bus start argv when someone calls name while nobody owns it, as a desktop's services are.

        Works before and after start_bus. What the bus started is stopped with the session."""
        # The bus runs the program without searching PATH, and splits the Exec line as a shell would,
        # without expansions.
        argv = [shutil.which(argv[0]) or argv[0], *argv[1:]]
        command = " ".join(shlex.quote(argument) for argument in argv)
        with open(self.path("bus-services", f"{name}.service"), "w", encoding="utf-8") as service:
            service.write(SERVICE_FILE.format(name=name, command=command))
        if self.bus_address is not None:
            self.bus().reload_config()
        self.on_close.append(lambda: self._stop_activated(name))

    def _stop_activated(self, name):
        # The bus's child, not ours: found by the name it owns, stopped before the bus goes.
        if self.bus_address is None or not self.processes.alive("bus"):
            return
        pid = self.bus().name_pid(name)
        if pid:
            stop_pid(pid)

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
        # What our processes started and left behind, the helpers a desktop's daemons spawn among them.
        for pid in processes_marked(f"{SESSION_MARK}={self.dir}"):
            stop_pid(pid)
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
