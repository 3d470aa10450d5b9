"""A tray item as a user meets it on an X screen: where the host draws it, and what a click on it opens.

Nothing here knows a host: an item is found by changing its icon and seeing where the screen changed, and
a menu, tooltip or bubble is a window that was not mapped before, or else the part of the screen that
changed (hosts that draw them inside their own window).
"""

import time
from dataclasses import dataclass

from . import xscreen
from .pixels import Rect, bounding_rect
from .tray import watcher_items
from .wait import DEFAULT_TIMEOUT, Timeout, wait_until
from .xinput import click, keys, move

POLL = 0.02
# The screen counts as drawn once it stayed the same this long.
QUIET = 0.4
# Smaller windows are the toolkits' own helpers (GTK maps a 10x10 one off screen with each menu); smaller
# changes are a clock's digits.
MIN_POPUP = (40, 20)
# What toolkits call a menu window.
MENU_KINDS = ("popup_menu", "dropdown_menu", "menu")
# How far around the pointer an item's hover and pressed look may reach.
HOVER_REACH = 16
# An icon in a panel is at most this big; a change around it that is bigger is something else.
MAX_ICON = 96
# Besides the icon, a clock may tick or a bubble go while the icon changes; more than this is too much to sift.
MAX_CHANGE = 400 * 400
# How long the screen must stay the same before a change of an item's icon counts as all shown: KivoBar
# shows what changed in its agent at its next 3-second refresh, and a clock ticking before then is not it.
ICON_SHOWN = 3.5


def is_menu(window):
    """Whether the window says it is a menu."""
    return any(kind in MENU_KINDS for kind in window.kinds)


def is_tooltip(window):
    """Whether the window says it is a tooltip."""
    return "tooltip" in window.kinds


@dataclass
class Snapshot:
    """The mapped windows and the pixels of the screen at a monotonic time."""

    windows: set
    image: object
    taken: float


@dataclass
class Popup:
    """Something a click or a hover opened: its place, how long it took to appear, and its window (0: none)."""

    rect: Rect
    seconds: float
    window: int


class Screen:
    """The session's X screen: its pixels and its mapped windows."""

    def __init__(self, session):
        self.session = session
        self._size = None

    @property
    def display(self):
        """The X display name."""
        return self.session.display

    def grab(self, rect=None):
        """The pixels of rect (the whole screen by default) now, as far as rect is on the screen."""
        if rect is not None:
            rect = rect.clipped(Rect(0, 0, *self.size()))
        image = xscreen.grab(self.display, rect)
        if image is None:
            raise OSError(f"the X server gave no picture of {rect or 'the screen'}")
        return image

    def settled(self, rect=None, timeout=DEFAULT_TIMEOUT, quiet=QUIET):
        """The pixels of rect once they have stopped changing for quiet seconds."""
        last = [self.grab(rect), time.monotonic()]

        def still():
            now = self.grab(rect)
            if not now.same_pixels(last[0]):
                last[:] = [now, time.monotonic()]
            return time.monotonic() - last[1] >= quiet

        wait_until(still, timeout, "the screen to settle", interval=0.1)
        return last[0]

    def park_pointer(self):
        """Moves the pointer where it hovers nothing of a panel: the middle of the screen."""
        width, height = self.size()
        move(self.session, (width // 2, height // 2))

    def come_to_rest(self, popup, timeout=DEFAULT_TIMEOUT):
        """The popup where its window stays: a host may slide it in from where it mapped it (Plasma's
        bubbles rise from the panel). A popup without a window of its own is where it was found."""
        if not popup.window:
            return popup
        places = []

        def resting():
            place = next((w.rect for w in xscreen.mapped_windows(self.display) if w.id == popup.window), None)
            places.append(place)
            # Where it was at each look over QUIET seconds.
            return place is not None and len(places) > 4 and places[-5:] == [place] * 5

        wait_until(resting, timeout, "the popup to come to rest", interval=QUIET / 4)
        return Popup(places[-1], popup.seconds, popup.window)

    def panels(self):
        """Where the panels are that have windows of their own (docks)."""
        return [window.rect for window in xscreen.mapped_windows(self.display) if "dock" in window.kinds]

    def windows_at(self, point):
        """The mapped windows that cover point, bottom to top."""
        return [window for window in xscreen.mapped_windows(self.display) if window.rect.contains(point)]

    def window_ids(self):
        """The ids of the windows mapped now."""
        return {window.id for window in xscreen.mapped_windows(self.display)}

    def new_windows(self, before):
        """The windows mapped now that were not in before (ids) and are big enough to be seen, on the screen."""
        screen = Rect(0, 0, *self.size())
        return [window for window in xscreen.mapped_windows(self.display)
                if window.id not in before and window.rect.width >= MIN_POPUP[0]
                and window.rect.height >= MIN_POPUP[1] and window.rect.clipped(screen).width > 0]

    def size(self):
        """(width, height) of the screen."""
        if self._size is None:
            whole = self.grab()
            self._size = (whole.width, whole.height)
        return self._size

    def snapshot(self):
        """The windows and pixels of the screen now, to see later what opened since."""
        return Snapshot(self.window_ids(), self.grab(), time.monotonic())

    def wait_popup(self, wanted, since, avoid=(), timeout=5.0, or_change=True):
        """The first window for which wanted (a function of an xscreen.Window) holds, mapped since the
        snapshot since; or else, with or_change, the first change of the screen outside avoid (Rects) and the
        other new windows, for hosts that draw popups inside their own window; None when nothing came within
        timeout seconds of the snapshot."""
        deadline = since.taken + timeout
        while time.monotonic() < deadline:
            windows = self.new_windows(since.windows)
            found = [window for window in windows if wanted(window)]
            if found:
                return Popup(found[-1].rect, time.monotonic() - since.taken, found[-1].id)
            if not or_change:
                time.sleep(POLL)
                continue
            ignored = [window.rect for window in windows] + list(avoid)
            changed = since.image.masked(ignored).changed_rect(self.grab().masked(ignored))
            if changed is not None and changed.width >= MIN_POPUP[0] and changed.height >= MIN_POPUP[1]:
                return Popup(changed, time.monotonic() - since.taken, 0)
            time.sleep(POLL)
        return None

    def open_by_click(self, point, button, wanted=is_menu, timeout=5.0):
        """Clicks point with button and waits for what opens (a menu by default): a Popup, or None."""
        since = self.snapshot()
        click(self.session, point, button)
        return self.wait_popup(wanted, since, [_around(point)], timeout)

    def open_by_hover(self, point, wanted=is_tooltip, timeout=5.0):
        """Rests the pointer on point and waits for what opens (a tooltip by default): a Popup, or None."""
        since = self.snapshot()
        # Toolkits start their tooltip timer on motion inside a widget, not on the pointer's arrival.
        move(self.session, (point[0] - 2, point[1]))
        move(self.session, point)
        return self.wait_popup(wanted, since, [_around(point)], timeout)

    def close_popup(self, popup, timeout=DEFAULT_TIMEOUT):
        """Presses Escape and waits until the popup's window is unmapped (or its place stops changing)."""
        keys(self.session, "Escape")
        if popup.window:
            wait_until(lambda: popup.window not in self.window_ids(), timeout, "the popup to close")
        else:
            self.settled(popup.rect, timeout)


def _around(point):
    return Rect(point[0] - HOVER_REACH, point[1] - HOVER_REACH, 2 * HOVER_REACH, 2 * HOVER_REACH)


class ItemOnScreen:
    """Where one item's icon is drawn: found by changing its icon and back, and found again whenever the
    host's list of items changed (a new item can push it along)."""

    def __init__(self, screen, bus, change, undo, name):
        self.screen = screen
        self.bus = bus
        self.change = change
        self.undo = undo
        self.name = name
        self.glyph = None
        # The screen when the icon was found, and before it changed: a host may draw an icon differently
        # once it has been told of a new one.
        self.picture = None
        self.first_picture = None
        self.items = None

    def rect(self, timeout=DEFAULT_TIMEOUT):
        """The rectangle of the icon's glyph; raises Timeout when it cannot be found."""
        if self.glyph is None or watcher_items(self.bus) != self.items:
            self.locate(timeout)
        return self.glyph

    def point(self):
        """The middle of the icon, where a user clicks."""
        return self.rect().center()

    def locate(self, timeout=DEFAULT_TIMEOUT):
        """Finds the icon again, and returns the rectangle of its glyph; raises Timeout when it cannot."""
        try:
            return self._look_for(timeout)
        except Timeout:
            # Once more: the host may have added an item of its own while we looked.
            return self._look_for(timeout)

    def _look_for(self, timeout):
        """The place that changes when the icon changes, and again when it changes back (a clock's digits
        change once)."""
        self.items = watcher_items(self.bus)
        # A tooltip would change with the icon.
        self.screen.park_pointer()
        before = self.screen.settled(timeout=timeout)
        self.change()
        wait_until(lambda: not self.screen.grab().same_pixels(before), timeout, f"{self.name}'s icon to change")
        during = self.screen.settled(timeout=timeout, quiet=ICON_SHOWN)
        self.undo()
        first = before.changed_rect(during)
        if first is None or first.width * first.height > MAX_CHANGE:
            raise Timeout(f"{self.name}'s icon: the screen changed in {first}, not in an icon's place")
        wait_until(lambda: not self.screen.grab(first).same_pixels(during.crop(first)), timeout,
                   f"{self.name}'s icon to change back")
        after = self.screen.settled(timeout=timeout)
        if watcher_items(self.bus) != self.items:
            raise Timeout(f"{self.name}'s icon: the host's items changed while it was looked for")
        both = set(before.changed(during, first)) & set(during.changed(after, first))
        if not both:
            raise Timeout(f"{self.name}'s icon: nothing changed twice in {first}")
        changed = bounding_rect(both)
        if changed.width > MAX_ICON or changed.height > MAX_ICON:
            raise Timeout(f"{self.name}'s icon: the screen changed twice in {changed}, bigger than an icon")
        # The glyph reaches beyond what differs between its two looks; the panel around it is one colour.
        around = changed.grown(4)
        background = after.commonest(around)
        drawn = [rect for rect in (after.drawn_rect(around, background), during.drawn_rect(around, background))
                 if rect is not None]
        self.glyph = drawn[0].union(drawn[-1]) if drawn else changed
        self.first_picture, self.picture = before, after
        return self.glyph
