"""PASS and FAIL lines for an end-to-end scenario, with a time budget for the whole run."""

from .wait import Deadline, attempt, holds_within


class Abort(Exception):
    """A failure that leaves nothing sensible to check after it."""


class Checks:
    """Counts checks, prints one line each, and calls on_fail (for context) after every failure."""

    def __init__(self, name, budget, on_fail=None):
        self.name = name
        self.passed = 0
        self.failed = 0
        self.budget = budget
        self.deadline = Deadline(budget)
        self.on_fail = on_fail

    def report(self, what, ok, detail=""):
        """Prints a PASS or FAIL line; returns ok."""
        if ok:
            self.passed += 1
            print(f"PASS: {what}", flush=True)
        else:
            self.failed += 1
            print(f"FAIL: {what}" + (f" ({detail})" if detail else ""), flush=True)
            if self.on_fail:
                attempt(self.on_fail)
        if self.deadline.passed():
            # When many checks fail each one waits out its deadline: stop well before the runner's timeout.
            raise Abort(f"the run took longer than its {self.budget} s")
        return ok

    def check(self, what, condition, detail=""):
        """PASS when condition (a value, or a function called once) is true."""
        value = attempt(condition) if callable(condition) else condition
        return self.report(what, bool(value), detail)

    def eventually(self, what, predicate, timeout):
        """PASS when predicate becomes true before timeout seconds have passed."""
        return self.report(what, holds_within(predicate, timeout))

    def fail(self, what, detail=""):
        """A FAIL line."""
        return self.report(what, False, detail)

    def summary(self):
        """The closing line."""
        return f"{self.name}: {self.passed} passed, {self.failed} failed"
