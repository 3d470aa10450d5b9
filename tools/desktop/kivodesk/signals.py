"""Recording the signals one sender emits, with the size of each message, on a connection of its own."""

import threading
from dataclasses import dataclass

from .bus import Bus, signal_rule
from .wait import DEFAULT_TIMEOUT, wait_until

# What a tray sends when something the panel shows has changed.
TRAY_SIGNALS = ("LayoutUpdated", "ItemsPropertiesUpdated", "NewIcon", "NewStatus", "NewToolTip", "NewTitle")


@dataclass
class Signal:
    """One signal as it crossed the bus."""

    interface: str
    member: str
    path: str
    body: tuple
    size: int


class SignalRecorder:
    """Records every signal that sender (a unique name) emits, until stop(); use as a context manager."""

    def __init__(self, address, sender):
        self.sender = sender
        self.bus = Bus(address)
        self.bus.add_match(signal_rule(sender=sender).serialise())
        self.signals = []
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, name="signal-recorder", daemon=True)
        self.thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *_exc):
        self.stop()

    def _run(self):
        while not self.stopping.is_set():
            try:
                message = self.bus.receive(timeout=0.2)
            except TimeoutError:
                continue
            except (OSError, ConnectionError, ValueError):
                return
            fields = {field.name: value for field, value in message.header.fields.items()}
            if message.header.message_type.name != "signal" or fields.get("sender") != self.sender:
                continue
            size = len(message.serialise())
            with self.lock:
                self.signals.append(Signal(fields.get("interface", ""), fields.get("member", ""), fields.get("path", ""),
                                           message.body, size))

    def stop(self):
        """Stops recording and closes the connection."""
        self.stopping.set()
        self.thread.join(5)
        self.bus.close()

    def recorded(self, members=TRAY_SIGNALS):
        """The signals recorded so far whose member is one of members."""
        with self.lock:
            return [signal for signal in self.signals if signal.member in members]

    def count(self, *members):
        """How many signals with one of these members were recorded (every tray signal without members)."""
        return len(self.recorded(members or TRAY_SIGNALS))

    def bytes(self, *members):
        """The bytes of those signals' messages, added up."""
        return sum(signal.size for signal in self.recorded(members or TRAY_SIGNALS))

    def summary(self):
        """Counts by member, for messages."""
        counts = {}
        for signal in self.recorded():
            counts[signal.member] = counts.get(signal.member, 0) + 1
        return ", ".join(f"{member} {count}" for member, count in sorted(counts.items())) or "none"

    def clear(self):
        """Forgets what was recorded."""
        with self.lock:
            self.signals.clear()

    def wait_count(self, member, count, timeout=DEFAULT_TIMEOUT):
        """Waits until at least count signals of member were recorded; raises Timeout."""
        return wait_until(lambda: self.count(member) >= count, timeout, f"{count} {member} signal(s)")


@dataclass
class Seen:
    """One message a monitor saw: its type, header fields by name, and body."""

    type: str
    fields: dict
    body: tuple


class Monitor:
    """Sees every message on the bus that matches one of rules (match rule texts), from its start on."""

    def __init__(self, address, rules):
        self.bus = Bus(address)
        self.bus.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
                      "BecomeMonitor", "asu", list(rules), 0)
        self.seen = []
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, name="bus-monitor", daemon=True)
        self.thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *_exc):
        self.stop()

    def _run(self):
        while not self.stopping.is_set():
            try:
                message = self.bus.receive(timeout=0.2)
            except TimeoutError:
                continue
            except (OSError, ConnectionError, ValueError):
                return
            fields = {field.name: value for field, value in message.header.fields.items()}
            with self.lock:
                self.seen.append(Seen(message.header.message_type.name, fields, message.body))

    def stop(self):
        """Stops watching and closes the connection."""
        self.stopping.set()
        self.thread.join(5)
        self.bus.close()

    def messages(self, predicate=lambda seen: True):
        """The messages seen so far for which predicate holds."""
        with self.lock:
            return [seen for seen in self.seen if predicate(seen)]


def watches_name(monitor, sender, name):
    """Whether sender has asked the bus for signals about name (a match rule that mentions it)."""
    return bool(monitor.messages(lambda seen: seen.fields.get("sender") == sender
                                 and seen.fields.get("member") == "AddMatch"
                                 and name in str(seen.body[0] if seen.body else "")))


def add_match_monitor(address):
    """A Monitor of every AddMatch call, to tell when a client starts watching a name."""
    return Monitor(address, ["type='method_call',interface='org.freedesktop.DBus',member='AddMatch'"])
