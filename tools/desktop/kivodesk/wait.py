"""Bounded waits: every wait in the harness has a deadline and says what it waited for."""

import time

DEFAULT_TIMEOUT = 20.0
POLL_INTERVAL = 0.1


class Timeout(Exception):
    """A condition did not hold before its deadline."""


class Deadline:
    """A point in monotonic time, with how much of the wait is left."""

    def __init__(self, seconds):
        self.seconds = seconds
        self.end = time.monotonic() + seconds

    def left(self):
        """Seconds until the deadline, never below zero."""
        return max(0.0, self.end - time.monotonic())

    def passed(self):
        """Whether the deadline is behind us."""
        return time.monotonic() >= self.end


def attempt(predicate):
    """The predicate's value, or None when it raised: a condition that cannot be read yet is false."""
    try:
        return predicate()
    except Exception:  # noqa: BLE001 - a bus call on a process that is going away, a file half written
        return None


def wait_until(predicate, timeout=DEFAULT_TIMEOUT, what="a condition", interval=POLL_INTERVAL):
    """Polls predicate until it returns a true value, and returns that value; raises Timeout."""
    deadline = Deadline(timeout)
    while True:
        value = attempt(predicate)
        if value:
            return value
        if deadline.passed():
            raise Timeout(f"{what} did not happen within {timeout:g} s")
        time.sleep(min(interval, deadline.left()) or 0)


def holds_within(predicate, timeout=DEFAULT_TIMEOUT, interval=POLL_INTERVAL):
    """Whether predicate becomes true before the deadline; never raises."""
    try:
        wait_until(predicate, timeout, interval=interval)
        return True
    except Timeout:
        return False
