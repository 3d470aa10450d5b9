#!/usr/bin/python3
"""Checks the desktop fixtures that later end-to-end tests stand on: the stand-in notification server
answers, records and emits as a real one does, the XEmbed tray (trayer) takes and gives back the
X tray selection, the contrast of an icon is measured as WCAG defines it, an edge smeared over more pixels
measures less sharp, and a compositor's PNG screenshot reads back as written, whatever filters it uses. Each
starts, answers and stops on a private X server and session bus.

usage: fixtures_test.py
"""

import os
import shutil
import struct
import sys
import zlib

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop"))

from kivodesk.checks import Abort, Checks  # noqa: E402
from kivodesk.notifications import INTERFACE, NAME, PATH, NotificationServer  # noqa: E402
from kivodesk.panels import XEmbedPanel, tray_selection_owner  # noqa: E402
from kivodesk.pixels import Image, Rect, contrast_ratio, edge_sharpness, glyph_contrast, image_from_png  # noqa: E402
from kivodesk.processes import Interrupted, ignore_signals, interrupt_on_signals  # noqa: E402
from kivodesk.session import Session  # noqa: E402
from kivodesk.signals import SignalRecorder  # noqa: E402
from kivodesk.tray import WATCHER  # noqa: E402
from kivodesk.wait import holds_within  # noqa: E402

TOOLS = ["Xvfb", "dbus-daemon", "trayer"]
SUMMARY = "coder · ~/src/kivo"
BODY = "Wants to run the tests — & <b>more</b>"


def notify(bus, summary, body, hints):
    """A Notify call as the app makes it; returns the id."""
    return bus.call(NAME, PATH, INTERFACE, "Notify", "susssasa{sv}i", "Kivo Bar", 0, "io.kivo.KivoBar", summary, body,
                    ["default", "Open", "open", "Open"], hints, -1)[0]


def notification_server(session, checks):
    """The stand-in server: capabilities, ids, the record of calls, and the signals it emits."""
    server = NotificationServer(session)
    server.start()
    bus = session.bus()
    capabilities = bus.call(NAME, PATH, INTERFACE, "GetCapabilities")[0]
    checks.check(f"the notification server offers actions, body and markup ({capabilities})",
                 {"actions", "body", "body-markup"} <= set(capabilities))
    checks.check("it names itself", bus.call(NAME, PATH, INTERFACE, "GetServerInformation")[0] != "")
    first = notify(bus, SUMMARY, BODY, {"desktop-entry": ("s", "io.kivo.KivoBar"), "urgency": ("y", 1)})
    second = notify(bus, "second", "", {})
    checks.check(f"Notify returns increasing ids ({first}, {second})", 0 < first < second)
    recorded = server.notifications()
    checks.check("every Notify is recorded with its texts, actions and hints, byte for byte",
                 len(recorded) == 2 and recorded[0]["summary"] == SUMMARY and recorded[0]["body"] == BODY
                 and recorded[0]["actions"] == ["default", "Open", "open", "Open"]
                 and recorded[0]["hints"] == {"desktop-entry": "io.kivo.KivoBar", "urgency": 1}
                 and recorded[0]["id"] == first, detail=str(recorded))

    with SignalRecorder(session.bus_address, bus.owner(NAME)) as recorder:
        bus.call(NAME, PATH, INTERFACE, "CloseNotification", "u", first)
        server.invoke_action(second, "open")
        closed = holds_within(lambda: recorder.recorded(("NotificationClosed",)), 10)
        invoked = holds_within(lambda: recorder.recorded(("ActionInvoked",)), 10)
        checks.check("CloseNotification emits NotificationClosed(id, 3) from the server",
                     closed and recorder.recorded(("NotificationClosed",))[0].body == (first, 3))
        checks.check("the test makes the server emit ActionInvoked(id, key) from its own connection",
                     invoked and recorder.recorded(("ActionInvoked",))[0].body == (second, "open"))
    checks.check("the calls are recorded in order",
                 [call["method"] for call in server.calls()] ==
                 ["GetCapabilities", "GetServerInformation", "Notify", "Notify", "CloseNotification", "InvokeAction"],
                 detail=str([call["method"] for call in server.calls()]))
    server.stop()
    checks.check("the server gives its name back when stopped", holds_within(lambda: not bus.has_owner(NAME), 10))


def xembed_tray(session, checks):
    """trayer: an X tray manager with no StatusNotifier watcher."""
    panel = XEmbedPanel(session)
    panel.start()
    checks.check("trayer owns the X tray selection", tray_selection_owner(session.display) != 0)
    checks.check("no StatusNotifier watcher runs beside it", not session.bus().has_owner(WATCHER))
    panel.stop()
    checks.check("the selection is free once trayer stopped", tray_selection_owner(session.display) == 0)


def contrast(checks):
    """WCAG 2 contrast, and an icon's glyph told from its antialiased edge and the panel around it."""
    cases = [((0, 0, 0), (255, 255, 255), 21.0), ((0x77, 0x77, 0x77), (255, 255, 255), 4.48),
             ((0xbe, 0xbe, 0xbe), (0xed, 0xec, 0xeb), 1.58), ((0x35, 0x35, 0x35), (0x35, 0x35, 0x35), 1.0)]
    for first, second, expected in cases:
        measured = contrast_ratio(first, second)
        checks.check(f"#{bytes(first).hex()} against #{bytes(second).hex()} is {expected}:1 ({measured:.2f}:1)",
                     abs(measured - expected) < 0.01 and contrast_ratio(second, first) == measured)
    # A thin 4x4 light glyph with a one-pixel grey edge, which has more pixels, on a 16x16 dark panel.
    panel, edge, glyph = (0x35, 0x35, 0x35), (0x90, 0x90, 0x90), (0xee, 0xee, 0xec)
    pixels = [glyph if 6 <= x < 10 and 6 <= y < 10 else edge if 5 <= x < 11 and 5 <= y < 11 else panel
              for y in range(16) for x in range(16)]
    image = Image(16, 16, b"".join(bytes(pixel) for pixel in pixels), (100, 50))
    measured = glyph_contrast(image, Rect(104, 54, 8, 8))
    checks.check(f"an icon's contrast is its glyph's against the panel around it, not its edge's ({measured})",
                 measured.background == panel and measured.glyph == glyph
                 and measured.ratio == contrast_ratio(glyph, panel))


def filtered_png(image):
    """image as an RGBA PNG whose rows use each of the five filters in turn, as an encoder may choose them."""
    width, channels = image.width, 4
    rows, previous = b"", bytearray(width * channels)
    for y in range(image.height):
        rgb = image.rgb[y * width * 3:(y + 1) * width * 3]
        line = bytearray(b"".join(rgb[x * 3:x * 3 + 3] + bytes([255]) for x in range(width)))
        kind, out = y % 5, bytearray(len(line))
        for x, value in enumerate(line):
            left = line[x - channels] if x >= channels else 0
            up, corner = previous[x], previous[x - channels] if x >= channels else 0
            guess = left + up - corner
            paeth = min((abs(guess - left), 0, left), (abs(guess - up), 1, up), (abs(guess - corner), 2, corner))[2]
            out[x] = (value - (0, left, up, (left + up) // 2, paeth)[kind]) & 0xFF
        rows += bytes([kind]) + bytes(out)
        previous = line

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, image.height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def pictures(checks):
    """Sharpness of an edge, screenshots read back, and pictures of one thing taken in two places."""
    panel, glyph = (0xcf, 0xd3, 0xd4), (0x23, 0x26, 0x29)

    def square(size, ramp):
        # A dark square on the panel, its edges going from panel to glyph over ramp pixels.
        def mix(distance):
            share = min(1.0, max(0.0, (distance + 0.5) / ramp)) if ramp > 1 else (1.0 if distance >= 0 else 0.0)
            return bytes(round(p + (g - p) * share) for p, g in zip(panel, glyph))
        inset = 4
        return Image(size, size, b"".join(mix(min(x - inset, y - inset, size - 1 - inset - x, size - 1 - inset - y))
                                          for y in range(size) for x in range(size)))

    crisp, smeared = square(24, 1), square(24, 2)
    icon = Rect(2, 2, 20, 20)
    sharp, soft = edge_sharpness(crisp, icon), edge_sharpness(smeared, icon)
    checks.check(f"a crisp edge measures 1 and one smeared over two pixels about half ({sharp:.2f}, {soft:.2f})",
                 abs(sharp - 1.0) < 0.01 and 0.35 < soft < 0.65)
    back = image_from_png(filtered_png(smeared), (7, 9))
    checks.check("a PNG screenshot with every row filter reads back pixel for pixel, where it was taken",
                 back.same_pixels(smeared) and back.origin == (7, 9))
    checks.check("and so does one of our own", image_from_png(crisp.png()).same_pixels(crisp))

    # A menu of rows on a plain wallpaper: cut a little wider and taller, or with more of the wallpaper below, its
    # rows a pixel or two further in, it is the same inside; with one pixel of one row changed, or a row more, not.
    def menu(width, height, left, top, rows=50, changed=False):
        def pixel(x, y):
            inside_x, inside_y = x - left, y - top
            if 0 <= inside_x < 60 and 0 <= inside_y < rows:
                lit = ((inside_x * 7 + inside_y * 13) % 5 == 0) != (changed and (inside_x, inside_y) == (30, 25))
                return b"\xee\xee\xee" if lit else b"\x30\x30\x30"
            # A wallpaper of nearly one colour, as a desktop's gradient is over a few hundred pixels.
            return bytes((0, 0x3a + (x + y) % 3, 0x8c))
        return Image(width, height, b"".join(pixel(x, y) for y in range(height) for x in range(width)))

    fresh = menu(80, 70, 10, 10)
    checks.check("a picture cut a little wider and taller, its inside shifted, is the same inside",
                 menu(83, 71, 12, 11).same_inside(fresh) and not menu(83, 71, 12, 11).same_pixels(fresh))
    checks.check("and so is one cut with much of the wallpaper below it, trimmed",
                 menu(80, 200, 10, 10).trimmed().same_inside(fresh.trimmed()))
    checks.check("one that differs in one pixel inside is not", not menu(83, 71, 12, 11, changed=True).same_inside(fresh))
    checks.check("nor one with a row more below", not menu(80, 90, 10, 10, rows=62).trimmed().same_inside(fresh.trimmed()))


def main():
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print(f"FAIL: not installed: {', '.join(missing)} (scripts/setup.sh --for test installs them)")
        return 1
    interrupt_on_signals()
    checks = Checks("desktop fixtures", 120)
    session = Session("kivo-fixtures-test")
    try:
        session.start_x()
        session.start_bus()
        notification_server(session, checks)
        xembed_tray(session, checks)
        contrast(checks)
        pictures(checks)
    except (Abort, Interrupted, Exception) as error:  # noqa: BLE001 - anything unforeseen still cleans up
        checks.fail(f"the run stopped: {type(error).__name__}: {error}")
    finally:
        ignore_signals()
        logs = session.logs()
        session.close()
    if checks.failed:
        print("--- logs\n" + logs)
    print(checks.summary())
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
