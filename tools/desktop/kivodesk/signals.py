"""Recording the signals one sender emits, with the size of each message, on a connection of its own."""

import threading
import time
from dataclasses import dataclass

from .bus import Bus, signal_rule

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


class _Listener:
    """Keeps, on a thread of its own, what take(message, fields) makes of each message its connection gets."""

    def __init__(self, bus, name):
        self.bus = bus
        self.kept = []
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, name=name, daemon=True)
        self.thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *_exc):
        self.stop()

    def take(self, message, fields):
        """What to keep of message (None: nothing)."""
        raise NotImplementedError

    def _run(self):
        while not self.stopping.is_set():
            try:
                message = self.bus.receive(timeout=0.2)
            except TimeoutError:
                continue
            except (OSError, ConnectionError, ValueError):
                return
            fields = {field.name: value for field, value in message.header.fields.items()}
            kept = self.take(message, fields)
            if kept is not None:
                with self.lock:
                    self.kept.append(kept)

    def stop(self):
        """Stops listening and closes the connection."""
        self.stopping.set()
        self.thread.join(5)
        self.bus.close()


class SignalRecorder(_Listener):
    """Records every signal that sender (a unique name) emits, until stop(); use as a context manager."""

    def __init__(self, address, sender):
        self.sender = sender
        bus = Bus(address)
        bus.add_match(signal_rule(sender=sender).serialise())
        super().__init__(bus, "signal-recorder")

    def take(self, message, fields):
        if message.header.message_type.name != "signal" or fields.get("sender") != self.sender:
            return None
        return Signal(fields.get("interface", ""), fields.get("member", ""), fields.get("path", ""), message.body,
                      len(message.serialise()))

    def recorded(self, members=TRAY_SIGNALS):
        """The signals recorded so far whose member is one of members."""
        with self.lock:
            return [signal for signal in self.kept if signal.member in members]

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
            self.kept.clear()

@dataclass
class Seen:
    """One message a monitor saw: its type, header fields by name, body, its sender's serial for it (which a
    reply names as reply_serial), and when it was seen (time.monotonic())."""

    type: str
    fields: dict
    body: tuple
    serial: int
    at: float = 0.0


class Monitor(_Listener):
    """Sees every message on the bus that matches one of rules (match rule texts), from its start on."""

    def __init__(self, address, rules):
        bus = Bus(address)
        bus.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
                 "BecomeMonitor", "asu", list(rules), 0)
        super().__init__(bus, "bus-monitor")

    def take(self, message, fields):
        return Seen(message.header.message_type.name, fields, message.body, message.header.serial, time.monotonic())

    def messages(self, predicate=lambda seen: True):
        """The messages seen so far for which predicate holds."""
        with self.lock:
            return [seen for seen in self.kept if predicate(seen)]


def watches_name(monitor, sender, name):
    """Whether sender has asked the bus for signals about name (a match rule that mentions it)."""
    return bool(monitor.messages(lambda seen: seen.fields.get("sender") == sender
                                 and seen.fields.get("member") == "AddMatch"
                                 and name in str(seen.body[0] if seen.body else "")))


def add_match_monitor(address):
    """A Monitor of every AddMatch call, to tell when a client starts watching a name."""
    return Monitor(address, ["type='method_call',interface='org.freedesktop.DBus',member='AddMatch'"])
