"""A panel's questions to a tray's menu, asked all along, to see that the menu keeps answering."""

import threading
import time

from .bus import Bus
from .tray import MENU_INTERFACE


class MenuProbe(threading.Thread):
    """Asks the tray's menu for its layout four times a second on a connection of its own, as a panel
    does while a menu is open; keeps the slowest answer and every failure. tick() runs after each question."""

    def __init__(self, address, item, name="menu-probe"):
        super().__init__(name=name, daemon=True)
        self.bus = Bus(address)
        self.item = item
        self.slowest = 0.0
        self.unanswered = []
        self.stopping = threading.Event()

    def tick(self, asked):
        """Runs after each question, asked at `asked` (monotonic seconds); nothing by default."""

    def run(self):
        while not self.stopping.wait(0.25):
            asked = time.monotonic()
            try:
                self.bus.call(self.item.name, self.item.menu, MENU_INTERFACE, "GetLayout", "iias", 0, -1, [],
                              timeout=10)
            except Exception as error:  # noqa: BLE001 - a menu that does not answer is the finding
                self.unanswered.append(str(error))
            self.slowest = max(self.slowest, time.monotonic() - asked)
            self.tick(asked)

    def stop(self):
        self.stopping.set()
        self.join(15)
        self.bus.close()

    def answered_within(self, limit):
        """Every question was answered, none slower than `limit` seconds."""
        return not self.unanswered and self.slowest < limit

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *_exc):
        self.stop()
