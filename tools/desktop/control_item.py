#!/usr/bin/python3
"""A known-good tray item to hold KivoBar up against on a real host: libayatana-appindicator with a GTK menu.

It prints one line per thing that happens to it ("ready", "clicked LABEL"), so a test can read its log.
SIGUSR1 toggles the attention state, SIGUSR2 changes the icon; TERM or "Quit" ends it.

usage: control_item.py [--icon NAME] [--attention-icon NAME] [--title TEXT]
"""

import argparse
import signal
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("AyatanaAppIndicator3", "0.1")
from gi.repository import AyatanaAppIndicator3 as AppIndicator  # noqa: E402
from gi.repository import GLib, Gtk  # noqa: E402

ROWS = ("Control first row", "Control second row", "Control third row")
SECOND_ICON = "emblem-important"


def say(text):
    print(text, flush=True)


def build_menu():
    menu = Gtk.Menu()
    for label in ROWS:
        item = Gtk.MenuItem(label=label)
        item.connect("activate", lambda _item, label=label: say(f"clicked {label}"))
        menu.append(item)
    check = Gtk.CheckMenuItem(label="Control check")
    check.connect("toggled", lambda item: say(f"clicked Control check {'on' if item.get_active() else 'off'}"))
    menu.append(check)
    menu.append(Gtk.SeparatorMenuItem())
    quit_item = Gtk.MenuItem(label="Quit control item")
    quit_item.connect("activate", lambda _item: (say("clicked quit"), Gtk.main_quit()))
    menu.append(quit_item)
    menu.show_all()
    return menu


def main():
    parser = argparse.ArgumentParser(description="A known-good libayatana-appindicator tray item.")
    parser.add_argument("--icon", default="applications-science", help="a theme icon name")
    parser.add_argument("--attention-icon", default="dialog-warning", help="the icon shown while it needs attention")
    parser.add_argument("--title", default="Control item")
    args = parser.parse_args()

    indicator = AppIndicator.Indicator.new("kivo-control-item", args.icon,
                                           AppIndicator.IndicatorCategory.APPLICATION_STATUS)
    indicator.set_title(args.title)
    indicator.set_attention_icon_full(args.attention_icon, "needs attention")
    indicator.set_status(AppIndicator.IndicatorStatus.ACTIVE)
    indicator.set_menu(build_menu())
    icons = [args.icon, SECOND_ICON]

    def toggle_attention():
        attention = indicator.get_status() != AppIndicator.IndicatorStatus.ATTENTION
        status = AppIndicator.IndicatorStatus
        indicator.set_status(status.ATTENTION if attention else status.ACTIVE)
        say(f"status {'attention' if attention else 'active'}")
        return GLib.SOURCE_CONTINUE

    def next_icon():
        icons.reverse()
        indicator.set_icon_full(icons[0], "control icon")
        say(f"icon {icons[0]}")
        return GLib.SOURCE_CONTINUE

    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, toggle_attention)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR2, next_icon)
    for signum in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signum, lambda: (Gtk.main_quit(), GLib.SOURCE_REMOVE)[1])
    say("ready")
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
