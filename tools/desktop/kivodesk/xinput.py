"""Real pointer and keyboard events on the session's X server, through xdotool, as a user makes them."""

import subprocess

XDOTOOL_TIMEOUT = 15


def xdotool(session, *args):
    """Runs xdotool with args on the session's display; raises when it fails."""
    subprocess.run(["xdotool", *map(str, args)], env=session.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=XDOTOOL_TIMEOUT, check=True)


def move(session, point):
    """Moves the pointer to point (x, y)."""
    xdotool(session, "mousemove", *point)


def click(session, point, button=1):
    """Moves the pointer to point and clicks button there (1 left, 3 right)."""
    xdotool(session, "mousemove", *point, "click", button)


def keys(session, *names):
    """Presses and releases each key (X keysym names: Down, Return, Escape) in turn."""
    xdotool(session, "key", *names)
