#!/usr/bin/python3
"""A known-good tray item to compare KivoBar with on the same host: libayatana-appindicator with a GTK menu,
as most Linux tray apps are made.

usage: control_item.py [--icons NAME,NAME] [--theme-path DIR]
    (runs until TERM; USR1 swaps its two icons, so that a test can find it on screen; USR2 turns its
    attention state on and off. --icons names the two icons, dialog-information and dialog-warning by
    default; --theme-path is an icon theme folder the host looks in for them, as an app run from its
    build tree names its own)

It prints "ready" once its item is set up and "clicked LABEL" for each row picked, so a test can read
what a host did with it in its log.
"""

import argparse
import signal
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("AyatanaAppIndicator3", "0.1")
from gi.repository import AyatanaAppIndicator3, GLib, Gtk  # noqa: E402

Status = AyatanaAppIndicator3.IndicatorStatus


def say(text):
    print(text, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--icons", default="dialog-information,dialog-warning")
    parser.add_argument("--theme-path")
    args = parser.parse_args()
    icons = args.icons.split(",")[:2]
    indicator = AyatanaAppIndicator3.Indicator.new("kivo-control-item", icons[0],
                                                    AyatanaAppIndicator3.IndicatorCategory.APPLICATION_STATUS)
    if args.theme_path:
        indicator.set_icon_theme_path(args.theme_path)
    indicator.set_title("Control item")
    indicator.set_attention_icon_full("dialog-error", "needs attention")
    menu = Gtk.Menu()
    for label in ("Reachable from your devices", "Pause", "Open the dashboard", "Show the log", None, "Quit"):
        row = Gtk.SeparatorMenuItem() if label is None else Gtk.MenuItem(label=label)
        row.set_sensitive(label != "Reachable from your devices")
        if label is not None:
            row.connect("activate", lambda _row, label=label: say(f"clicked {label}"))
        menu.append(row)
    menu.show_all()
    indicator.set_menu(menu)
    indicator.set_status(Status.ACTIVE)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, Gtk.main_quit)

    def swap_icon():
        icons.reverse()
        indicator.set_icon_full(icons[0], "")
        return GLib.SOURCE_CONTINUE

    def toggle_attention():
        indicator.set_status(Status.ACTIVE if indicator.get_status() == Status.ATTENTION else Status.ATTENTION)
        return GLib.SOURCE_CONTINUE

    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, swap_icon)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR2, toggle_attention)
    say("ready")
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
