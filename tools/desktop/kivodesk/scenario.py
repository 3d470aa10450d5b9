"""Runs one end-to-end scenario on a private desktop session and turns its checks into an exit status."""

import argparse
import os
import shutil
import sys

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


def parse_arguments(doc, extend=None):
    """The --build and --source arguments every end-to-end test takes, made absolute; extend(parser) adds a
    test's own. Ends the program with a FAIL line when the build holds no kivobar."""
    parser = argparse.ArgumentParser(description=doc.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the build folder (holds app/kivobar)")
    parser.add_argument("--source", required=True, help="the source folder (holds tools/stand-in-agent)")
    if extend:
        extend(parser)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.source = os.path.abspath(args.source)
    if not os.access(os.path.join(args.build, "app", "kivobar"), os.X_OK):
        print(f"FAIL: no {args.build}/app/kivobar: build the kivobar target first")
        sys.exit(1)
    return args
