"""Runs one end-to-end scenario on a private desktop session and turns its checks into an exit status."""

import os
import shutil

from .processes import Interrupted, ignore_signals, interrupt_on_signals
from .session import Session


def run_in_session(name, tools, scenario):
    """Calls scenario(session), which returns its Checks, in a new Session named name; returns 0 or 1.

    Whatever happens, Ctrl+C or an unforeseen error included, the session and all it started are
    closed; the session's logs are printed only when something failed.
    """
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        print(f"FAIL: not installed: {', '.join(missing)} (scripts/setup.sh --for test installs them)")
        return 1

    interrupt_on_signals()
    session = Session(name, keep=os.environ.get("DESKTOP_KEEP") == "1")
    checks = None
    try:
        checks = scenario(session)
        failed = checks.failed > 0
    except (Interrupted, Exception) as error:  # noqa: BLE001 - anything unforeseen still cleans up and reports
        print(f"FAIL: the run stopped: {type(error).__name__}: {error}", flush=True)
        failed = True
    finally:
        ignore_signals()
        logs = session.logs()
        session.close()
    if failed:
        print("--- logs\n" + logs, flush=True)
    if checks is not None:
        print(checks.summary(), flush=True)
    return 1 if failed else 0
