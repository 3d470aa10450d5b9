"""Blocking calls on a D-Bus connection, with every value returned as Python data (byte-exact text)."""

from jeepney import DBusAddress, DBusErrorResponse, MatchRule, new_method_call
from jeepney.bus_messages import message_bus
from jeepney.io.blocking import Proxy, open_dbus_connection

CALL_TIMEOUT = 10.0


class BusError(Exception):
    """A call failed: an error reply, no reply in time, or a lost connection."""


def unvariant(variant):
    """The value of a variant, which jeepney gives as (signature, value)."""
    return variant[1]


def unvariant_dict(values):
    """An a{sv} dict with each variant replaced by its value."""
    return {key: unvariant(value) for key, value in values.items()}


class Bus:
    """One connection to a bus, given by its address (unix:path=...)."""

    def __init__(self, address):
        self.address = address
        try:
            self.connection = open_dbus_connection(address, auth_timeout=CALL_TIMEOUT)
        except (OSError, ValueError) as error:
            raise BusError(f"cannot connect to {address}: {error}") from error
        self.unique_name = self.connection.unique_name
        self.driver = Proxy(message_bus, self.connection, timeout=CALL_TIMEOUT)

    def close(self):
        """Closes the connection."""
        self.connection.close()

    def call(self, dest, path, interface, method, signature=None, *args, timeout=CALL_TIMEOUT):
        """Calls a method and returns the reply's body as a tuple; raises BusError."""
        message = new_method_call(DBusAddress(path, bus_name=dest, interface=interface), method, signature, args)
        try:
            reply = self.connection.send_and_get_reply(message, timeout=timeout)
        except (TimeoutError, OSError, ConnectionError) as error:
            raise BusError(f"{interface}.{method} on {dest}{path}: {error or 'no reply'}") from error
        if reply.header.message_type.name == "error":
            raise BusError(f"{interface}.{method} on {dest}{path}: {DBusErrorResponse(reply)}")
        return reply.body

    def get(self, dest, path, interface, name):
        """One property's value."""
        return unvariant(self.call(dest, path, "org.freedesktop.DBus.Properties", "Get", "ss", interface, name)[0])

    def set(self, dest, path, interface, name, signature, value):
        """Sets one property to value, of D-Bus type signature."""
        self.call(dest, path, "org.freedesktop.DBus.Properties", "Set", "ssv", interface, name, (signature, value))

    def _driver(self, method, *args):
        try:
            return getattr(self.driver, method)(*args)
        except DBusErrorResponse as error:
            raise BusError(f"{method}: {error}") from error
        except (TimeoutError, OSError, ConnectionError) as error:
            raise BusError(f"{method}: {error or 'no reply'}") from error

    def names(self):
        """Every name on the bus, unique ones included."""
        return self._driver("ListNames")[0]

    def has_owner(self, name):
        """Whether some connection owns the name."""
        return bool(self._driver("NameHasOwner", name)[0])

    def owner(self, name):
        """The unique name that owns name, or None."""
        try:
            return self._driver("GetNameOwner", name)[0]
        except BusError:
            return None

    def name_pid(self, name):
        """The process id of the connection that owns name, or None."""
        try:
            return self._driver("GetConnectionUnixProcessID", name)[0]
        except BusError:
            return None

    def connections_of(self, pid):
        """The unique names of every connection that process pid holds."""
        return [name for name in self.names() if name.startswith(":") and self.name_pid(name) == pid]

    def request_name(self, name):
        """Takes a well-known name for this connection; True when it became the primary owner."""
        return self._driver("RequestName", name, 4)[0] == 1  # 4: do not queue

    def reload_config(self):
        """Makes the bus read its configuration and service folders again."""
        self._driver("ReloadConfig")

    def update_activation_environment(self, values):
        """Adds values (a dict of environment variables) to what the programs the bus starts get."""
        self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "UpdateActivationEnvironment", "a{ss}", values)

    def add_match(self, rule):
        """Asks the bus to deliver messages matching a MatchRule to this connection."""
        self._driver("AddMatch", rule)

    def receive(self, timeout):
        """The next message on this connection; raises TimeoutError."""
        return self.connection.receive(timeout=timeout)

    def send(self, message):
        """Sends a message without waiting for anything."""
        self.connection.send(message)


def signal_rule(sender=None, interface=None, member=None, path=None):
    """A MatchRule for signals."""
    return MatchRule(type="signal", sender=sender, interface=interface, member=member, path=path)
