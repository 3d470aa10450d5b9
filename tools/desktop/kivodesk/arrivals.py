"""When a panel takes up a tray item, as the bus shows it: the first time the panel reads the item's
properties, which it does before it draws the icon, and when a name got an owner. Read off a Monitor that
runs with RULES among its match rules."""

from .bus import BusError

# The property reads of every item, and who owns which name when.
RULES = ["type='method_call',interface='org.freedesktop.DBus.Properties'",
         "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged'"]

ITEM_INTERFACE = "org.kde.StatusNotifierItem"


def names_of(bus, pid):
    """Every name process pid has on the bus: its connections' unique names and the names they own."""
    unique = set(bus.connections_of(pid))
    owned = set()
    for name in bus.names():
        if name.startswith(":"):
            continue
        try:
            if bus.owner(name) in unique:
                owned.add(name)
        except BusError:
            continue
    return unique | owned


def first_read(monitor, names, since, not_by=()):
    """When the item's properties were first read after since (a time.monotonic() value) at one of names,
    by anyone but the item itself and the connections not_by (a test's own); None when they were not."""
    reads = monitor.messages(lambda seen: seen.type == "method_call" and seen.at >= since
                             and seen.fields.get("destination") in names
                             and seen.fields.get("sender") not in names
                             and seen.fields.get("sender") not in not_by
                             and seen.body and seen.body[0] == ITEM_INTERFACE)
    return reads[0].at if reads else None


def owner_came(monitor, name, since):
    """When name first got a new owner after since; None when it did not."""
    changes = monitor.messages(lambda seen: seen.type == "signal" and seen.at >= since
                               and seen.fields.get("member") == "NameOwnerChanged"
                               and seen.body and seen.body[0] == name and seen.body[2])
    return changes[0].at if changes else None
