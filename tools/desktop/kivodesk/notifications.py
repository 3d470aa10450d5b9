"""A stand-in notification server on a private bus, recording every call as a JSON line.

Run as `python3 -m kivodesk.notifications --log FILE` with DBUS_SESSION_BUS_ADDRESS set; a test
starts it through NotificationServer below and reads what the app asked for. The control
interface io.kivo.Test lets the test make the server emit ActionInvoked from its own connection, as a
real server does when the user clicks.
"""

import argparse
import json
import os
import signal
import sys

from collections import deque

from jeepney import DBusAddress, MatchRule, new_error, new_method_return, new_signal

from .bus import Bus, BusError
from .wait import DEFAULT_TIMEOUT, wait_until

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"
INTERFACE = "org.freedesktop.Notifications"
CONTROL = "io.kivo.Test"
CAPABILITIES = ["actions", "body", "body-markup"]
SERVER_INFORMATION = ("kivo-stand-in-notifications", "kivo", "1.0", "1.2")

# The NotificationClosed reason for a notification closed by a call.
CLOSED_BY_CALL = 3


def jsonable(value):
    """A hint's value as JSON data: variants unwrapped, bytes as lists of numbers."""
    if isinstance(value, tuple) and len(value) == 2 and isinstance(value[0], str):
        return jsonable(value[1])
    if isinstance(value, (bytes, bytearray)):
        return list(value)
    if isinstance(value, (list, tuple)):
        return [jsonable(item) for item in value]
    if isinstance(value, dict):
        return {str(key): jsonable(item) for key, item in value.items()}
    return value


class Server:
    """Answers the notification interface on bus and appends each call to log_path."""

    def __init__(self, bus, log_path):
        self.bus = bus
        self.log_path = log_path
        self.next_id = 1
        self.emitter = DBusAddress(PATH, interface=INTERFACE)

    def record(self, entry):
        """Appends one call to the log, flushed at once so that a test sees it."""
        with open(self.log_path, "a", encoding="utf-8") as log:
            log.write(json.dumps(entry, ensure_ascii=False) + "\n")

    def emit(self, member, signature, *body):
        """Sends a signal of the notification interface from this connection."""
        self.bus.send(new_signal(self.emitter, member, signature, body))

    def handle(self, message):
        """Replies to one method call (anything else is ignored)."""
        if message.header.message_type.name != "method_call":
            return
        fields = {field.name: value for field, value in message.header.fields.items()}
        interface, member = fields.get("interface"), fields.get("member")
        methods = {INTERFACE: ("GetCapabilities", "GetServerInformation", "Notify", "CloseNotification"),
                   CONTROL: ("InvokeAction",)}
        handler = None
        for known, names in methods.items():
            if interface in (known, None) and member in names:
                handler = getattr(self, f"on_{member}")
        if member == "Ping" and interface == "org.freedesktop.DBus.Peer":
            self.bus.send(new_method_return(message))
        elif handler is None:
            self.bus.send(new_error(message, "org.freedesktop.DBus.Error.UnknownMethod", "s", (f"no method {member}",)))
        else:
            signature, reply = handler(*message.body)
            self.bus.send(new_method_return(message, signature, reply))

    def on_GetCapabilities(self):
        self.record({"method": "GetCapabilities"})
        return "as", (CAPABILITIES,)

    def on_GetServerInformation(self):
        self.record({"method": "GetServerInformation"})
        return "ssss", SERVER_INFORMATION

    def on_Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout):
        notification_id = replaces_id or self.next_id
        if not replaces_id:
            self.next_id += 1
        self.record({"method": "Notify", "id": notification_id, "app_name": app_name, "replaces_id": replaces_id,
                     "app_icon": app_icon, "summary": summary, "body": body, "actions": actions,
                     "hints": jsonable(hints), "expire_timeout": expire_timeout})
        return "u", (notification_id,)

    def on_CloseNotification(self, notification_id):
        self.record({"method": "CloseNotification", "id": notification_id})
        self.emit("NotificationClosed", "uu", notification_id, CLOSED_BY_CALL)
        return None, ()

    def on_InvokeAction(self, notification_id, key):
        """Control: the user picked an action (key "default" is a click on the bubble)."""
        self.record({"method": "InvokeAction", "id": notification_id, "key": key})
        self.emit("ActionInvoked", "us", notification_id, key)
        return None, ()

def serve(log_path):
    """Owns the name and answers calls until TERM or INT."""
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(True))
    signal.signal(signal.SIGINT, lambda *_: stopping.append(True))
    bus = Bus(os.environ["DBUS_SESSION_BUS_ADDRESS"])
    # Started by bus activation, the server gets the calls that started it as soon as it owns the name,
    # before the bus answers the request for it: they are kept, not dropped while waiting for that answer.
    early = deque()
    with bus.connection.filter(MatchRule(type="method_call"), queue=early):
        if not bus.request_name(NAME):
            print(f"notifications: {NAME} is taken", file=sys.stderr)
            return 1
    server = Server(bus, log_path)
    while early:
        server.handle(early.popleft())
    while not stopping:
        try:
            server.handle(bus.receive(timeout=0.5))
        except TimeoutError:
            continue
        except InterruptedError:
            continue
        except (OSError, ConnectionError):
            return 1
    return 0


class NotificationServer:
    """The stand-in server as a process of a Session, and what it recorded."""

    def __init__(self, session):
        self.session = session
        self.log_path = session.path("notifications.jsonl")

    def start(self, timeout=DEFAULT_TIMEOUT):
        """Starts the server; returns once it owns the notification name."""
        package_dir = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        self.session.start("notifications", [sys.executable, "-m", "kivodesk.notifications", "--log", self.log_path],
                           env={"PYTHONPATH": package_dir, "PYTHONDONTWRITEBYTECODE": "1"})
        bus = self.session.bus()
        wait_until(lambda: bus.has_owner(NAME), timeout, "the notification server's name")

    def stop(self):
        """Stops the server."""
        self.session.processes.stop("notifications")

    def calls(self, method=None):
        """Every call recorded so far (only those of method, when given), oldest first."""
        try:
            with open(self.log_path, encoding="utf-8") as log:
                entries = [json.loads(line) for line in log if line.strip()]
        except FileNotFoundError:
            return []
        return [entry for entry in entries if method is None or entry["method"] == method]

    def notifications(self):
        """The Notify calls recorded so far."""
        return self.calls("Notify")

    def invoke_action(self, notification_id, key="default"):
        """Makes the server emit ActionInvoked(id, key), as when the user picks that action."""
        self.session.bus().call(NAME, PATH, CONTROL, "InvokeAction", "us", notification_id, key)

def main():
    parser = argparse.ArgumentParser(description="A stand-in notification server that records every call.")
    parser.add_argument("--log", required=True, help="the file that gets one JSON line per call")
    args = parser.parse_args()
    try:
        return serve(args.log)
    except BusError as error:
        print(f"notifications: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
