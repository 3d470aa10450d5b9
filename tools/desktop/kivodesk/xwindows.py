"""The windows on a session's X server and what the screen shows, read with xdotool, xwininfo, xprop and import."""

import subprocess

TOOL_TIMEOUT = 15


def x_tool(session, argv, timeout=TOOL_TIMEOUT):
    """Runs an X tool on the session's display; its standard output, or None when it failed."""
    result = subprocess.run(argv, env=session.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout,
                            check=False)
    return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else None


def visible_windows(session, pid):
    """The mapped windows of process pid."""
    return (x_tool(session, ["xdotool", "search", "--onlyvisible", "--pid", str(pid)]) or "").split()


def geometry(session, window):
    """(width, height, x, y) of a mapped window, or None."""
    info = x_tool(session, ["xwininfo", "-id", window]) or ""
    values = {}
    for line in info.splitlines():
        key, _, value = line.strip().partition(":")
        values[key] = value.strip()
    if values.get("Map State") != "IsViewable":
        return None
    try:
        return (int(values["Width"]), int(values["Height"]), int(values["Absolute upper-left X"]),
                int(values["Absolute upper-left Y"]))
    except (KeyError, ValueError):
        return None


def window_types(session, window):
    """The _NET_WM_WINDOW_TYPE atoms of a window, e.g. ["_NET_WM_WINDOW_TYPE_DOCK"]."""
    text = x_tool(session, ["xprop", "-id", window, "_NET_WM_WINDOW_TYPE"]) or ""
    _, _, atoms = text.partition("=")
    return [atom.strip() for atom in atoms.split(",") if atom.strip()]


def docks(session, pid):
    """The mapped dock windows (panels) of process pid."""
    return [window for window in visible_windows(session, pid)
            if "_NET_WM_WINDOW_TYPE_DOCK" in window_types(session, window)]


def area_drawn(session, area):
    """Whether the screen shows anything but one flat colour in area (x, y, width, height)."""
    x, y, width, height = area
    return _spread(session, ["-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "+repage"]) > 0


def window_drawn(session, window):
    """Whether a window's own content is more than one flat colour: its program has drawn it.

    Under a compositing window manager a window is mapped some frames before its program draws it, and the
    screen shows it one frame of the compositor's later.
    """
    return _spread(session, ["-window", window]) > 0


def _spread(session, source):
    text = x_tool(session, ["import", *source, "-format", "%[fx:standard_deviation]", "info:"])
    try:
        return float(text)
    except (TypeError, ValueError):
        return 0.0
