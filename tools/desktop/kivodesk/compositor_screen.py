"""The screen of a Wayland compositor that a test cannot read as an X screen: pictures come through the
compositor's own screenshot interface on the session bus. Such a screen has no pointer a test can move
(see the hosts that use it)."""

import os

from jeepney import DBusAddress, new_method_call
from jeepney.io.blocking import open_dbus_connection

from .on_screen import Screen
from .pixels import Image, image_from_png

CALL_TIMEOUT = 20.0

GNOME_SCREENSHOT = ("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot", "org.gnome.Shell.Screenshot")
# GNOME Shell takes pictures for a caller that owns this name (the Screenshot app's), and for no other.
GNOME_SCREENSHOT_CALLER = "org.gnome.Screenshot"
KWIN_SCREENSHOT = ("org.kde.KWin.ScreenShot2", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2")
# The QImage formats KWin sends its pictures in: 32-bit pixels, blue first in memory.
KWIN_FORMATS = {4, 5, 6}


class CompositorScreen(Screen):
    """A Screen whose pixels come from capture(rect), a function that returns that part of the screen as an
    Image placed where it is. What a test reads as the whole screen is area, the panel's band: pictures through
    the bus are slow, and the tray is all a test looks at there."""

    def __init__(self, session, capture, area):
        super().__init__(session)
        self.capture = capture
        self.area = area

    def grab(self, rect=None):
        return self.capture(rect or self.area)

    def size(self):
        return (self.area.right, self.area.bottom)

    def park_pointer(self):
        """No pointer to park: a headless compositor has no input device a test could move."""


class GnomeShellCapture:
    """Pictures of GNOME Shell's screen, written by the shell into a folder its user can write to."""

    def __init__(self, bus_address, folder):
        self.connection = open_dbus_connection(bus_address)
        self.folder = folder
        self.count = 0
        reply = self.connection.send_and_get_reply(
            new_method_call(DBusAddress("/org/freedesktop/DBus", "org.freedesktop.DBus", "org.freedesktop.DBus"),
                            "RequestName", "su", (GNOME_SCREENSHOT_CALLER, 4)), timeout=CALL_TIMEOUT)
        if reply.body[0] != 1:
            raise OSError(f"cannot own {GNOME_SCREENSHOT_CALLER} to take screenshots")

    def __call__(self, rect):
        self.count += 1
        path = os.path.join(self.folder, f"screenshot-{self.count}.png")
        call = new_method_call(DBusAddress(GNOME_SCREENSHOT[1], GNOME_SCREENSHOT[0], GNOME_SCREENSHOT[2]),
                               "ScreenshotArea", "iiiibs", (rect.x, rect.y, rect.width, rect.height, False, path))
        reply = self.connection.send_and_get_reply(call, timeout=CALL_TIMEOUT)
        if reply.header.message_type.name == "error" or not reply.body[0]:
            raise OSError(f"GNOME Shell took no screenshot: {reply.body}")
        try:
            with open(reply.body[1], "rb") as picture:
                return image_from_png(picture.read(), (rect.x, rect.y))
        finally:
            os.remove(reply.body[1])

    def close(self):
        """Closes the connection, which gives the name back."""
        self.connection.close()


class KWinCapture:
    """Pictures of KWin's screen through its ScreenShot2 interface, which writes the raw pixels into a pipe."""

    def __init__(self, bus_address):
        self.connection = open_dbus_connection(bus_address, enable_fds=True)

    def __call__(self, rect):
        read_end, write_end = os.pipe()
        try:
            call = new_method_call(DBusAddress(KWIN_SCREENSHOT[1], KWIN_SCREENSHOT[0], KWIN_SCREENSHOT[2]),
                                   "CaptureArea", "iiuua{sv}h",
                                   (rect.x, rect.y, rect.width, rect.height, {"native-resolution": ("b", True)},
                                    write_end))
            reply = self.connection.send_and_get_reply(call, timeout=CALL_TIMEOUT)
        finally:
            os.close(write_end)
        try:
            if reply.header.message_type.name == "error":
                raise OSError(f"KWin took no screenshot: {reply.body}")
            results = {key: value[1] for key, value in reply.body[0].items()}
            data = bytearray()
            while True:
                chunk = os.read(read_end, 1 << 20)
                if not chunk:
                    break
                data += chunk
        finally:
            os.close(read_end)
        if results.get("format") not in KWIN_FORMATS:
            raise OSError(f"KWin sent a picture in a format not read here: {results}")
        return Image.from_bgrx(results["width"], results["height"], bytes(data), results["stride"], (rect.x, rect.y))

    def close(self):
        """Closes the connection."""
        self.connection.close()
