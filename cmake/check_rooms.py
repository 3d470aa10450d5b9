#!/usr/bin/python3
"""Fails the build when a file includes a header of a room it may not use.

usage: check_rooms.py SOURCE_DIR ROOM_GRAPH STAMP_FILE

ROOM_GRAPH is what the build wrote (cmake/rooms.cmake): each target, the room (folder) it is built from, its sources,
what it links and what it passes on to whoever links it. A source file may include the headers of its own room and of
every room whose targets its own targets link, directly or passed on by those; a header, what the libraries of its
room may (a program's headers, what the program may). Headers are named by the path they are written with ("view/menu_row.h" for app/view, "service/status.h" for
service); any system or Qt header is fine. One rule
besides: what the user sees (app/view, app/panel) is computed from the model's plain values, so those rooms take
from service/ only its value headers, and nothing from platform/. Tests, benchmarks and fuzz targets may include
anything.
"""

import json
import os
import re
import sys

VIEWS = {"app/view", "app/panel"}
SERVICE_VALUES = {"service/reach.h", "service/status.h", "service/release_manifest.h", "service/steps.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
PASSED_ONLY_TO_LINKING = re.compile(r"^\$<LINK_ONLY:(.*)>$")


def include_prefix(room):
    """How a room's headers are written in an include: app's rooms without "app/"."""
    return room[len("app/"):] if room.startswith("app/") else room


def reaches(graph, target):
    """The rooms a target's code may use: its own, and those of what it links and what those pass on."""
    found = set()

    def follow(item):
        if item in graph and item not in found:
            found.add(item)
            for passed in graph[item]["passes_on"]:
                if not PASSED_ONLY_TO_LINKING.match(passed):
                    follow(passed)

    for item in graph[target]["links"]:
        follow(item)
    return {graph[target]["room"]} | {graph[t]["room"] for t in found}


def allowances(graph, source):
    """(room -> what its headers may use, source file -> what it may use), both as sets of rooms."""
    rooms, files = {}, {}
    has_library = {entry["room"] for entry in graph.values() if entry["type"] != "EXECUTABLE"}
    for target, entry in graph.items():
        allowed = reaches(graph, target)
        if entry["type"] != "EXECUTABLE" or entry["room"] not in has_library:
            rooms.setdefault(entry["room"], set()).update(allowed)
        for path in entry["sources"]:
            relative = os.path.relpath(os.path.join(source, entry["room"], path), source)
            files.setdefault(relative, set()).update(allowed)
    return rooms, files


def room_of(path, rooms):
    """The room a file or include path belongs to, the longest folder that matches; None for none."""
    matches = [room for room in rooms if path.startswith(room + "/")]
    return max(matches, key=len) if matches else None


def problem(room, included, allowed, prefixes):
    """Why a file of `room` that may use the rooms `allowed` may not include `included`; None when it may."""
    prefix = room_of(included, prefixes)
    if prefix is None:
        return "which is no room's header"
    used = prefixes[prefix]
    if used not in allowed:
        return f"from {used}/, which its target does not link"
    if room in VIEWS and used in ("service", "platform") and included not in SERVICE_VALUES:
        return f"which is not one of the model's value headers ({', '.join(sorted(SERVICE_VALUES))})"
    return None


def main():
    source, graph_path, stamp = sys.argv[1:4]
    with open(graph_path, encoding="utf-8") as graph_file:
        graph = json.load(graph_file)
    rooms, files = allowances(graph, source)
    prefixes = {include_prefix(room): room for room in rooms}
    wrong = []
    for room in sorted(rooms):
        for folder, _, names in os.walk(os.path.join(source, room)):
            for name in sorted(names):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(folder, name), source)
                if room_of(path, rooms) != room:
                    continue
                allowed = files.get(path, rooms[room])
                with open(os.path.join(source, path), encoding="utf-8") as text:
                    for included in INCLUDE.findall(text.read()):
                        # moc's output for the Q_OBJECT classes of the file itself.
                        if included == os.path.splitext(name)[0] + ".moc":
                            continue
                        why = problem(room, included, allowed, prefixes)
                        if why:
                            wrong.append(f'{path}: includes "{included}", {why}')
    if wrong:
        print("\n".join(wrong), file=sys.stderr)
        return 1
    with open(stamp, "w", encoding="utf-8") as out:
        out.write("ok\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
