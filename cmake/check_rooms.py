#!/usr/bin/python3
"""Fails the build when a file includes a header of a room it may not use.

usage: check_rooms.py SOURCE_DIR STAMP_FILE

Each room is a folder; its files may include the headers listed for it below, by the room-qualified
path they are written with ("view/menu_row.h"), and any system or Qt header. Tests, benchmarks and
fuzz targets may include anything.
"""

import os
import re
import sys

# The service's plain values, which what the user sees may be computed from without the model itself.
SERVICE_VALUES = ["service/reach.h", "service/status.h", "service/release_manifest.h", "service/steps.h"]

# room folder -> include prefixes it may use
ROOMS = {
    "service": ["service/", "platform/"],
    "platform": ["platform/"],
    "app/view": ["view/"] + SERVICE_VALUES,
    "app/panel": ["panel/", "view/"] + SERVICE_VALUES,
    # kivobar prints the state as the tray words it (view/), as the tray reads the model, and with what the
    # running tray publishes: the parts of tray/ that need no bus.
    "app/cli": ["cli/", "service/", "platform/", "view/", "tray/read_tray_state.h", "tray/tray_activity.h",
                "tray/user_folder.h"],
    "app/fetch": ["fetch/", "service/http_client.h"],
    "app/tray": ["tray/", "panel/", "view/", "fetch/", "service/", "platform/"],
    # kivobar-act reaches the running tray as its client, or acts as the tray would when none runs.
    "app/act": ["act/", "tray/", "view/", "fetch/", "service/", "platform/"],
    "app/xembed": ["xembed/", "tray/", "view/", "service/", "platform/"],
    "app/icons": [],
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def room_of(path):
    """The room a source file belongs to, the longest folder that matches."""
    matches = [room for room in ROOMS if path == room or path.startswith(room + "/")]
    return max(matches, key=len) if matches else None


def main():
    source, stamp = sys.argv[1], sys.argv[2]
    wrong = []
    for room in ROOMS:
        for folder, _, files in os.walk(os.path.join(source, room)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(folder, name), source)
                if room_of(path) != room:
                    continue
                with open(os.path.join(source, path), encoding="utf-8") as text:
                    for included in INCLUDE.findall(text.read()):
                        # moc's output for the Q_OBJECT classes of the file itself.
                        if included == os.path.splitext(name)[0] + ".moc":
                            continue
                        if not any(included == allowed or (allowed.endswith("/") and included.startswith(allowed))
                                   for allowed in ROOMS[room]):
                            wrong.append(f"{path}: includes \"{included}\", which {room}/ may not use")
    if wrong:
        print("\n".join(wrong), file=sys.stderr)
        return 1
    with open(stamp, "w", encoding="utf-8") as out:
        out.write("ok\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
