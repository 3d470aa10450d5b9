"""A tray item and its menu as a panel reads them: found through the watcher, menu rows as plain values."""

from dataclasses import dataclass, field

from .bus import BusError, unvariant, unvariant_dict
from .wait import DEFAULT_TIMEOUT, wait_until

WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
ITEM_INTERFACE = "org.kde.StatusNotifierItem"
MENU_INTERFACE = "com.canonical.dbusmenu"
DEFAULT_ITEM_PATH = "/StatusNotifierItem"
HOST_PREFIX = "org.kde.StatusNotifierHost-"


def shown_label(label):
    """The label as a panel shows it: "_" before a character marks a mnemonic and goes; "__" is one "_"."""
    shown = []
    i = 0
    while i < len(label):
        if label[i] == "_" and i + 1 < len(label):
            shown.append(label[i + 1])
            i += 2
        else:
            shown.append(label[i])
            i += 1
    return "".join(shown)


@dataclass
class Row:
    """One item of an exported menu, with dbusmenu's defaults for what the item leaves out."""

    id: int
    parent: int
    type: str = "standard"
    visible: bool = True
    enabled: bool = True
    label: str = ""
    raw_label: str = ""
    toggle_type: str = ""
    toggle_state: int = None
    shortcut: list = field(default_factory=list)
    children_display: str = ""

    def text(self):
        """The row as a person reads it, for messages."""
        if self.type == "separator":
            return "----"
        extras = []
        if self.toggle_type:
            extras.append(f"{self.toggle_type} {'on' if self.toggle_state == 1 else 'off'}")
        if not self.enabled:
            extras.append("disabled")
        if self.shortcut:
            extras.append("+".join(self.shortcut[0]))
        return self.label + "".join(f" ({extra})" for extra in extras)


def layout_rows(layout, parent=-1):
    """The rows of a GetLayout tree (id, properties, children), parents before their children."""
    item_id, properties, children = layout
    values = unvariant_dict(properties)
    raw = values.get("label", "")
    rows = [Row(id=item_id, parent=parent, type=values.get("type", "standard"), visible=values.get("visible", True),
                enabled=values.get("enabled", True), label=shown_label(raw), raw_label=raw,
                toggle_type=values.get("toggle-type", ""), toggle_state=values.get("toggle-state"),
                shortcut=values.get("shortcut", []), children_display=values.get("children-display", ""))]
    for child in children:
        rows.extend(layout_rows(unvariant(child), item_id))
    return rows


def watcher_items(bus):
    """(bus name, object path) of every item the watcher lists."""
    entries = bus.get(WATCHER, WATCHER_PATH, WATCHER, "RegisteredStatusNotifierItems")
    items = []
    paths = None
    for entry in entries:
        if "/" in entry and not entry.startswith("/"):
            # BUSNAME/PATH, or BUSNAME@/PATH from GNOME's AppIndicator extension.
            name, path = entry.split("/", 1)
            items.append((name.removesuffix("@"), "/" + path))
            continue
        # Some watchers list bare bus names and keep the paths in a property of their own.
        if paths is None:
            paths = _sni_entry_paths(bus)
        items.append((entry, paths.get(entry, DEFAULT_ITEM_PATH)))
    return items


def _sni_entry_paths(bus):
    try:
        pairs = bus.get(WATCHER, WATCHER_PATH, WATCHER, "RegisteredSNIEntries")
    except BusError:
        return {}
    return {name: path for name, path in pairs}


def tray_host_names(bus):
    """The names hosts that registered with the watcher own (org.kde.StatusNotifierHost-...). Hosts that are
    the watcher themselves (GNOME's extension, XFCE's panel) own none."""
    return [name for name in bus.names() if name.startswith(HOST_PREFIX)]


def host_registered(bus):
    """Whether a watcher runs and reports a registered host."""
    try:
        return bool(bus.get(WATCHER, WATCHER_PATH, WATCHER, "IsStatusNotifierHostRegistered"))
    except BusError:
        return False


class TrayItem:
    """One StatusNotifierItem and its dbusmenu, read and clicked over the bus."""

    def __init__(self, bus, name, path, menu):
        self.bus = bus
        self.name = name
        self.path = path
        self.menu = menu

    def __repr__(self):
        return f"{self.name} {self.path}, menu {self.menu}"

    def owner(self):
        """The unique name of the connection that exports the item."""
        return self.bus.owner(self.name) if not self.name.startswith(":") else self.name

    def prop(self, name):
        """One property of the item (IconName, Status, Menu, ToolTip, ...)."""
        return self.bus.get(self.name, self.path, ITEM_INTERFACE, name)

    def layout(self, parent=0, depth=-1):
        """(revision, rows) of the menu, read with GetLayout."""
        revision, tree = self.bus.call(self.name, self.menu, MENU_INTERFACE, "GetLayout", "iias", parent, depth, [])
        return revision, layout_rows(tree)

    def revision(self):
        """The menu's layout revision: it goes up when rows come or go."""
        return self.layout(0, 0)[0]

    def rows(self):
        """Every row of the menu, the root (id 0) first."""
        return self.layout()[1]

    def visible_rows(self):
        """The rows under the root that a panel shows."""
        return [row for row in self.rows() if row.parent != -1 and row.visible]

    def row(self, label):
        """The visible row with that label as shown, or None."""
        return next((row for row in self.visible_rows() if row.label == label), None)

    def has_row(self, label):
        """Whether a visible row has that label."""
        return self.row(label) is not None

    def row_id(self, label):
        """The id of the visible row with that label, or None."""
        row = self.row(label)
        return row.id if row else None

    def first_row(self):
        """The first visible row under the root: the headline."""
        return next((row for row in self.visible_rows() if row.parent == 0), None)

    def headline(self):
        """The label of the first visible row, or None."""
        row = self.first_row()
        return row.label if row else None

    def click(self, item_id):
        """Picks a row as a panel does."""
        self.bus.call(self.name, self.menu, MENU_INTERFACE, "Event", "isvu", item_id, "clicked", ("i", 0), 0)

    def click_label(self, label):
        """Picks the visible row with that label; False when there is none."""
        item_id = self.row_id(label)
        if item_id is None:
            return False
        self.click(item_id)
        return True

    def menu_text(self, indent="    "):
        """The visible rows as a person reads them, one a line."""
        return "\n".join(f"{indent}{row.text()}" for row in self.visible_rows())


def find_item(bus, pid=None):
    """The item that process pid registered with the watcher (any item without pid), or None."""
    try:
        items = watcher_items(bus)
    except BusError:
        return None
    for name, path in items:
        if pid is not None and bus.name_pid(name) != pid:
            continue
        try:
            menu = bus.get(name, path, ITEM_INTERFACE, "Menu")
        except BusError:
            continue
        if menu:
            return TrayItem(bus, name, path, menu)
    return None


def find_item_of_process(bus, pid):
    """The item exported at the usual path by any connection of process pid, with or without a watcher."""
    for name in bus.connections_of(pid):
        try:
            menu = bus.get(name, DEFAULT_ITEM_PATH, ITEM_INTERFACE, "Menu")
        except BusError:
            continue
        if menu:
            return TrayItem(bus, name, DEFAULT_ITEM_PATH, menu)
    return None


def wait_item(bus, pid, timeout=DEFAULT_TIMEOUT):
    """Waits until process pid has an item registered with the watcher; raises Timeout."""
    return wait_until(lambda: find_item(bus, pid), timeout, f"a tray item of process {pid}")
