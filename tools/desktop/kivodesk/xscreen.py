"""The session's X screen read through Xlib: who owns a selection, which windows are mapped, and its pixels.

Each call opens a connection of its own and closes it, so nothing outlives the X server.
"""

import ctypes
import ctypes.util
from contextlib import contextmanager
from dataclasses import dataclass
from functools import lru_cache

from .pixels import Image, Rect

IS_VIEWABLE = 2
Z_PIXMAP = 2
ALL_PLANES = 0xFFFFFFFF
XA_ATOM = 4
XA_CARDINAL = 6
MAX_VALUES = 16
WINDOW_TYPE_PREFIX = "_NET_WM_WINDOW_TYPE_"


@dataclass(frozen=True)
class Window:
    """A child of the root window as it is now: its id, where it is, what its program says it is (the
    _NET_WM_WINDOW_TYPE atoms without their prefix, in lower case: popup_menu, tooltip, notification, ...),
    and the program's pid (0 when it does not say)."""

    id: int
    rect: Rect
    kinds: tuple
    pid: int


class _WindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


@lru_cache(maxsize=None)
def _xlib():
    library = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    functions = {
        "XOpenDisplay": (ctypes.c_void_p, [ctypes.c_char_p]),
        "XCloseDisplay": (ctypes.c_int, [ctypes.c_void_p]),
        "XDefaultRootWindow": (ctypes.c_ulong, [ctypes.c_void_p]),
        "XInternAtom": (ctypes.c_ulong, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]),
        "XGetSelectionOwner": (ctypes.c_ulong, [ctypes.c_void_p, ctypes.c_ulong]),
        "XQueryTree": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                      ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                      ctypes.POINTER(ctypes.c_uint)]),
        "XGetWindowAttributes": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(_WindowAttributes)]),
        "XGetImage": (ctypes.POINTER(_XImage), [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                                ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]),
        "XDestroyImage": (ctypes.c_int, [ctypes.POINTER(_XImage)]),
        "XFree": (ctypes.c_int, [ctypes.c_void_p]),
        "XGetWindowProperty": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                              ctypes.c_long, ctypes.c_int, ctypes.c_ulong,
                                              ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
                                              ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                              ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte))]),
        "XGetAtomName": (ctypes.c_void_p, [ctypes.c_void_p, ctypes.c_ulong]),
        "XSetErrorHandler": (ctypes.c_void_p, [_ERROR_HANDLER]),
    }
    for name, (restype, argtypes) in functions.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    # Xlib's default handler ends the process on the first error; a window that went away between two
    # requests is ordinary here, and the request that met it simply reports failure.
    library.XSetErrorHandler(_IGNORE_ERRORS)
    return library


_IGNORE_ERRORS = _ERROR_HANDLER(lambda _display, _event: 0)


@contextmanager
def _connection(display):
    xlib = _xlib()
    handle = xlib.XOpenDisplay(display.encode())
    if not handle:
        raise OSError(f"cannot open the X display {display}")
    try:
        yield xlib, handle
    finally:
        xlib.XCloseDisplay(handle)


def selection_owner(display, selection):
    """The window that owns the X selection on display (0 when none, or when there is no display)."""
    try:
        with _connection(display) as (xlib, handle):
            return xlib.XGetSelectionOwner(handle, xlib.XInternAtom(handle, selection.encode(), False))
    except OSError:
        return 0


def tray_selection_owner(display, screen=0):
    """The window that owns _NET_SYSTEM_TRAY_Sn on display (0 when none): the XEmbed tray manager."""
    return selection_owner(display, f"_NET_SYSTEM_TRAY_S{screen}")


def window_manager_running(display, screen=0):
    """Whether a window manager has taken the screen (owns WM_Sn, as ICCCM asks)."""
    return selection_owner(display, f"WM_S{screen}") != 0


def mapped_windows(display):
    """The root window's children that are mapped now, bottom first (the window manager's frames among them)."""
    windows = []
    with _connection(display) as (xlib, handle):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not xlib.XQueryTree(handle, xlib.XDefaultRootWindow(handle), ctypes.byref(root), ctypes.byref(parent),
                               ctypes.byref(children), ctypes.byref(count)):
            return windows
        try:
            for index in range(count.value):
                attributes = _WindowAttributes()
                if not xlib.XGetWindowAttributes(handle, children[index], ctypes.byref(attributes)):
                    continue
                if attributes.map_state == IS_VIEWABLE:
                    rect = Rect(attributes.x, attributes.y, attributes.width, attributes.height)
                    client = _client_of(xlib, handle, children[index])
                    types = _property(xlib, handle, client, "_NET_WM_WINDOW_TYPE", XA_ATOM)
                    kinds = tuple(_window_type(xlib, handle, atom) for atom in types)
                    pid = _property(xlib, handle, client, "_NET_WM_PID", XA_CARDINAL)
                    windows.append(Window(children[index], rect, kinds, pid[0] if pid else 0))
        finally:
            if children:
                xlib.XFree(children)
    return windows


def _client_of(xlib, handle, window, depth=2):
    """The window that says what it is (its pid or type): window itself, or the client inside a window
    manager's frame (KWin frames docks and popups too), looked for this many levels down."""
    if _property(xlib, handle, window, "_NET_WM_PID", XA_CARDINAL) or depth == 0:
        return window
    root, parent = ctypes.c_ulong(), ctypes.c_ulong()
    children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    if not xlib.XQueryTree(handle, window, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(children),
                           ctypes.byref(count)):
        return window
    try:
        for index in range(count.value):
            client = _client_of(xlib, handle, children[index], depth - 1)
            if _property(xlib, handle, client, "_NET_WM_PID", XA_CARDINAL):
                return client
    finally:
        if children:
            xlib.XFree(children)
    return window


def _property(xlib, handle, window, name, kind):
    """The 32-bit values of a window's property of type kind (atoms, cardinals); empty when it has none."""
    actual_type, actual_format = ctypes.c_ulong(), ctypes.c_int()
    count, after = ctypes.c_ulong(), ctypes.c_ulong()
    data = ctypes.POINTER(ctypes.c_ubyte)()
    if xlib.XGetWindowProperty(handle, window, xlib.XInternAtom(handle, name.encode(), False), 0, MAX_VALUES,
                               False, kind, ctypes.byref(actual_type), ctypes.byref(actual_format),
                               ctypes.byref(count), ctypes.byref(after), ctypes.byref(data)) != 0:
        return []
    try:
        if actual_type.value != kind or actual_format.value != 32:
            return []
        # Xlib hands 32-bit values over as longs.
        return list(ctypes.cast(data, ctypes.POINTER(ctypes.c_ulong))[:count.value])
    finally:
        if data:
            xlib.XFree(data)


def _window_type(xlib, handle, atom):
    name_pointer = xlib.XGetAtomName(handle, atom)
    if not name_pointer:
        return ""
    try:
        name = ctypes.string_at(name_pointer).decode("ascii", "replace")
    finally:
        xlib.XFree(name_pointer)
    return name.removeprefix(WINDOW_TYPE_PREFIX).lower()


def grab(display, rect=None):
    """The pixels of rect on the screen (all of it by default) as an Image; None when the server refused."""
    with _connection(display) as (xlib, handle):
        return _image(xlib, handle, xlib.XDefaultRootWindow(handle), rect)


def window_content(display, window):
    """What a window's program has drawn in it, as an Image placed where the window is; None when the window
    is gone. Under a compositing window manager this is the window's own picture, which the screen shows a
    frame of the compositor's later."""
    with _connection(display) as (xlib, handle):
        attributes = _WindowAttributes()
        if not xlib.XGetWindowAttributes(handle, window, ctypes.byref(attributes)):
            return None
        image = _image(xlib, handle, window, Rect(0, 0, attributes.width, attributes.height))
    if image is not None:
        image.origin = (attributes.x, attributes.y)
    return image


def _image(xlib, handle, drawable, rect):
    if rect is None:
        attributes = _WindowAttributes()
        xlib.XGetWindowAttributes(handle, drawable, ctypes.byref(attributes))
        rect = Rect(0, 0, attributes.width, attributes.height)
    image = xlib.XGetImage(handle, drawable, rect.x, rect.y, rect.width, rect.height, ALL_PLANES, Z_PIXMAP)
    if not image:
        return None
    try:
        shape = image.contents
        if shape.bits_per_pixel != 32:
            raise OSError(f"a screen of {shape.bits_per_pixel} bits per pixel; the harness reads 32")
        raw = ctypes.string_at(shape.data, shape.bytes_per_line * shape.height)
    finally:
        xlib.XDestroyImage(image)
    return Image.from_bgrx(rect.width, rect.height, raw, shape.bytes_per_line, (rect.x, rect.y))
