#!/usr/bin/python3
"""Runs the real kivobar on a desktop people run (XFCE, LXQt, ...) and meets it as a user does, from the
first seconds of a login to a day of use, with a known-good item (the control) beside it all along.

The login: kivobar and the control start well before the panel, as autostart may have them (15 s, past
the app's grace for a panel, or --late seconds); once the panel comes, kivobar shows as the panel protocol's
item within a second of the control, and no notice of a missing tray is left. On GNOME the shell then comes
again, a few times (--race-runs), just as the app's grace for a panel ends, the moment it once took for
an XEmbed-only desktop; on Plasma the panel comes after a while with kwin and kded5 alone, which gets the
notice, worded for Plasma (unless --late is given).

Then its icon on screen and how it stands out from the panel, the menu opened with the pointer
and timed against the control, a row picked with the keyboard, attention, the tooltip and a notification
of the host's own server.

A day of use: the panel or shell restarted (XFCE after an outage long enough for the notice, which then
goes; Plasma at scale factor 2, where the icon must be as sharp as the control showing the same icon by
name), on GNOME the extension switched off and on: kivobar is back within a second of the control, and its
menu then looks as a freshly started app's does, pixel for pixel. The host's logs must not warn about our
item. Last, "Open at login" picked in the menu, and the desktop's own session manager started in that home:
it starts kivobar for the agent home it was picked for.

On GNOME Shell and Plasma as Wayland compositors (gnome-wayland, plasma-wayland), which no pointer of a
test reaches (the hosts' modules say why), the item registers beside the control's, its menu reads right
over D-Bus, the compositor's screenshots show its icon standing out from the panel, and a notification
reaches the host's own server and shows as a bubble.

All in one session of the host.

usage: hosts_test.py --build BUILD_DIR --source SOURCE_DIR --host NAME [--shots DIR] [--late SECONDS]
                     [--race-runs N]

With --shots, the open menu while a session waits, and the notification bubble, are saved there as
NAME.png and NAME-notification.png. Prints a PASS or FAIL line per check, the figures measured, and a
summary; exits 1 when any check failed.
"""

import argparse
import os
import signal
import statistics
import sys

sys.dont_write_bytecode = True
DESKTOP_TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop")
sys.path.insert(0, DESKTOP_TOOLS)

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import RecordingTerminal, build_for_others, start_kivobar  # noqa: E402
from kivodesk.arrivals import RULES as ARRIVAL_RULES  # noqa: E402
from kivodesk.checks import Abort, Checks  # noqa: E402
from kivodesk.hosts import HOSTS, open_host  # noqa: E402
from kivodesk.logs import warnings_naming  # noqa: E402
from kivodesk.notifications import INTERFACE as NOTIFICATIONS, NAME as NOTIFICATIONS_NAME, PATH as NOTIFICATIONS_PATH  # noqa: E402,E501
from kivodesk.on_screen import ItemOnScreen  # noqa: E402
from kivodesk.pixels import Rect, glyph_contrast  # noqa: E402
from kivodesk.processes import pid_alive  # noqa: E402
from kivodesk.scenario import run_in_session  # noqa: E402
from kivodesk.signals import Monitor  # noqa: E402
from kivodesk.tray import MENU_INTERFACE, find_item, wait_item  # noqa: E402
from kivodesk.wait import Timeout, holds_within  # noqa: E402
from kivodesk.xinput import click, keys  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from host_values import NO_TRAY, ONLINE, OPEN_AT_LOGIN, PAUSED, STARTUP, WAIT, WAITING, WAITING_SUMMARY  # noqa: E402
from login_day import LATE, RACE_RUNS, LoginAndDayOfUse, NOTICE_WAIT  # noqa: E402

BUDGET = 600
# How far below a panel the pixels under an open item's button may change with it.
PANEL_EDGE = 4
# How long a click that opens nothing is watched: well past the app's own wait for a menu to open.
NOTHING_OPENS = 3
TIMED_OPENINGS = 3
MIN_CONTRAST = 3.0

OPENS_SESSION = "agent --on this watch kivo-7"
OUR_WORDS = ("io.kivo.KivoBar", "Kivo Bar", "kivobar")
# Rows every menu of an online agent home offers, below its headline.
WAYLAND_ROWS = ("Pause Kivo", "Open the dashboard", "Show the log", "Notify me", OPEN_AT_LOGIN, "Quit Kivo Bar")

BUS_RULES = ["type='method_call',interface='org.freedesktop.Notifications',member='Notify'",
             "type='method_call',interface='org.freedesktop.Notifications',member='CloseNotification'",
             "type='signal',interface='org.freedesktop.Notifications'",
             "type='method_call',interface='com.canonical.dbusmenu'"] + ARRIVAL_RULES

TOOLS = ["Xvfb", "dbus-daemon", "unshare", "xdotool"]


class HostScenario(LoginAndDayOfUse):
    """kivobar and a control item on one host, in one session of it, one phase per method."""

    def __init__(self, args, session):
        self.args = args
        self.session = session
        self.host = open_host(session, args.host)
        # The app as a desktop that runs as another user (GNOME Shell, as root) can read its icons.
        self.build = build_for_others(session, args.build) if self.host.other_users else args.build
        self.screen = self.host.screen()
        self.bus = session.bus()
        self.terminal = RecordingTerminal(session)
        self.agent = StandInAgent(args.source, session.path("agent-home"), session.processes.log_path("kivo-tool"))
        self.checks = Checks(f"host end-to-end on {args.host}", BUDGET)
        self.figures = []
        self.our_bus_names = set()
        self.app = None
        self.item = None
        self.place = None
        self.monitor = None
        self.control = None
        self.control_times = []
        self.first_agent = None
        self.apps_started = 0.0
        # How long the panel took from its start until its watcher was on the bus, last time.
        self.watcher_delay = None

    # ------------------------------------------------------------ helpers

    def figure(self, text):
        """A measurement worth reporting whatever the checks say."""
        self.figures.append(text)
        print(f"FIGURE: {text}", flush=True)

    def save_shot(self, image, suffix=""):
        """Keeps a picture in the --shots folder, when there is one."""
        if self.args.shots:
            os.makedirs(self.args.shots, exist_ok=True)
            image.save(os.path.join(self.args.shots, f"{self.host.name}{suffix}.png"))

    def start_app(self, registered=True):
        """Starts kivobar as the desktop starts an app; with registered, returns once its item is registered and
        reads online."""
        self.app = start_kivobar(self.session, self.build, self.agent.home,
                                 env={**self.host.app_env, "TERMINAL": self.terminal.path})
        if not registered:
            return
        try:
            self.item = wait_item(self.bus, self.app.pid, WAIT)
        except Timeout as error:
            raise Abort(f"kivobar registers a tray item on {self.host.name}: {error}") from error
        self.our_bus_names.update(self.bus.connections_of(self.app.pid))
        if not holds_within(lambda: self.item.headline() == ONLINE, WAIT):
            raise Abort(f'kivobar\'s menu reads "{ONLINE}" (it reads "{self.item.headline()}")')

    def our_notifications(self, since=0):
        """The Notify calls kivobar made, after the first since of them: (summary, body, actions) each."""
        calls = self.monitor.messages(lambda seen: seen.type == "method_call" and seen.fields.get("member") == "Notify"
                                      and seen.fields.get("sender") in self.our_bus_names)
        return [(call.body[3], call.body[4], call.body[5]) for call in calls][since:]

    def states_shown(self, since):
        """Whether kivobar showed the state as a notification after its first since notifications."""
        return any(ONLINE in summary + body for summary, body, _ in self.our_notifications(since))

    def menu_asked_since(self, count):
        """Whether the host asked our menu to show (AboutToShow, or an "opened" event) after the first count
        dbusmenu calls to us."""
        calls = self.menu_calls()[count:]
        return any(call.fields.get("member") in ("AboutToShow", "AboutToShowGroup")
                   or (call.fields.get("member") == "Event" and call.body[1] == "opened") for call in calls)

    def menu_calls(self):
        """The dbusmenu calls made to kivobar so far."""
        return self.monitor.messages(lambda seen: seen.type == "method_call"
                                     and seen.fields.get("interface") == MENU_INTERFACE
                                     and seen.fields.get("destination") in self.our_bus_names)

    def time_menu(self, place, who):
        """Opens the item's menu with the host's menu button a few times; returns (times, the last menu, left open)."""
        times, popup = [], None
        for attempt in range(TIMED_OPENINGS):
            if popup is not None:
                self.screen.close_popup(popup)
            popup = self.screen.open_by_click(place.point(), self.host.menu_button)
            if popup is None:
                self.checks.fail(f"a click with button {self.host.menu_button} on {who} opens its menu "
                                 f"(attempt {attempt + 1})")
                return times, None
            times.append(popup.seconds)
        self.figure(f"click to menu, {who}: median {statistics.median(times):.3f} s "
                    f"({', '.join(f'{seconds:.3f}' for seconds in times)})")
        return times, popup

    def menu_picture(self):
        """Opens our menu, and returns the picture of it once drawn, and the menu, still open."""
        area = self.host.panel_area
        before = self.screen.grab() if area else None
        popup = self.screen.open_by_click(self.place.point(), self.host.menu_button)
        if popup is None:
            return None, None
        rect = popup.rect
        if before is not None:
            # A host that draws the menu in its own window changes its panel's button too (and the panel's edge
            # under it), beside items placed by when they came: the menu is what changed clear of the panel.
            below = Rect(0, area.bottom + PANEL_EDGE, before.width, before.height - area.bottom - PANEL_EDGE)
            rect = before.changed_rect(self.screen.settled(), below) or rect
        return self.screen.settled(rect), popup

    # ------------------------------------------------------------ phases

    def desktop(self):
        """The host comes up as a session does; the agent runs; a monitor records the bus from here on."""
        try:
            self.host.start(STARTUP)
        except Timeout as error:
            raise Abort(f"{self.host.name} did not come up: {error}") from error
        self.watch_bus()
        self.check_notification_server()

    def watch_bus(self):
        """The monitor of the bus, and the agent, running."""
        self.monitor = Monitor(self.session.bus_address, BUS_RULES)
        self.session.on_close.append(self.monitor.stop)
        self.agent.make()
        self.session.on_close.append(self.agent.down)
        self.first_agent = self.agent.up()

    def check_notification_server(self):
        """The notification server is the host's own."""
        name = self.bus.call(NOTIFICATIONS_NAME, NOTIFICATIONS_PATH, NOTIFICATIONS, "GetServerInformation")[0]
        self.checks.check(f"the notification server is the host's own ({name})", name == self.host.notification_server)
        self.screen.park_pointer()

    def wait_online(self):
        """kivobar's item is registered and its menu reads online."""
        try:
            self.item = wait_item(self.bus, self.app.pid, WAIT)
        except Timeout as error:
            raise Abort(f"kivobar registers a tray item on {self.host.name}: {error}") from error
        if not holds_within(lambda: self.item.headline() == ONLINE, WAIT):
            raise Abort(f'kivobar\'s menu reads "{ONLINE}" (it reads "{self.item.headline()}")')

    def control_item(self):
        """The known-good item on the same host: what a click does to it, and how soon its menu opens."""
        control = self.control
        try:
            wait_item(self.bus, control.pid, WAIT)
            place = ItemOnScreen(self.screen, self.bus, lambda: control.send_signal(signal.SIGUSR1),
                                 lambda: control.send_signal(signal.SIGUSR1), "the control item")
            place.locate()
        except Timeout as error:
            self.checks.fail(f"the control item shows on {self.host.name}", str(error))
            return
        self.figure(f"contrast, control item: {glyph_contrast(place.picture, place.glyph)}")
        if not self.host.left_click_opens_menu:
            popup = self.screen.open_by_click(place.point(), 1, timeout=NOTHING_OPENS)
            self.checks.check(f"{self.host.name} opens no menu on a left click, even for the control item", popup is None)
            if popup is not None:
                self.screen.close_popup(popup)
        self.control_times, popup = self.time_menu(place, "control item")
        if popup is not None:
            self.screen.close_popup(popup)
        self.screen.park_pointer()

    def contrast(self):
        """Our icon on each of the host's panel looks, the session's own last: found on screen, then measured."""
        # The icon changes when the agent has no relay (connecting), and back.
        self.place = ItemOnScreen(self.screen, self.bus, lambda: self.agent.set_relays([]),
                                  lambda: self.agent.set_relays(["eu-1"]), "kivobar")
        for look in reversed(self.host.looks):
            self.host.set_look(look)
            try:
                glyph = self.place.locate()
            except Timeout as error:
                self.checks.fail(f"kivobar's icon is found on the {look} panel", str(error))
                continue
            measured = glyph_contrast(self.place.picture, glyph)
            # As the host drew it before the icon changed: right after the switch, a host may still show the
            # icon as it drew it for the other look.
            first = glyph_contrast(self.place.first_picture, glyph)
            self.figure(f"contrast, kivobar on the {look} panel: {measured} at {glyph}; as drawn before its "
                        f"icon changed: {first}")
            self.checks.check(f"kivobar's icon stands out from the {look} panel ({measured}, at least {MIN_CONTRAST:g}:1)",
                              measured.ratio >= MIN_CONTRAST)

    def left_click(self):
        """Where a left click opens no menu (LXQt), it shows the state as a notification instead."""
        if self.host.left_click_opens_menu:
            return
        notes, asked = len(self.our_notifications()), len(self.menu_calls())
        popup = self.screen.open_by_click(self.place.point(), 1, timeout=NOTHING_OPENS)
        shown = holds_within(lambda: self.states_shown(notes), WAIT)
        self.checks.check("a left click shows the state as a notification", shown, str(self.our_notifications(notes)))
        self.checks.check("and opens no menu, as for the control item",
                          popup is None and not self.menu_asked_since(asked))
        if popup is not None:
            self.screen.close_popup(popup)
        self.screen.park_pointer()

    def menu_by_pointer(self):
        """The menu opens with a real click, no slower than the control's; returns the open menu."""
        notes = len(self.our_notifications())
        times, popup = self.time_menu(self.place, "kivobar")
        if not times or not self.control_times:
            return popup
        ours, theirs = statistics.median(times), statistics.median(self.control_times)
        # Generous: two busy cores make single openings wobble by a tenth of a second.
        self.checks.check(f"kivobar's menu opens no slower than the control item's ({ours:.3f} s against "
                          f"{theirs:.3f} s, medians of {TIMED_OPENINGS})", ours <= 2 * theirs + 0.1)
        self.checks.check("opening the menu shows no status notification as well (the host said it opened the menu)",
                          not self.states_shown(notes),
                          str(self.our_notifications(notes)))
        return popup

    def pause_by_keyboard(self, popup):
        """In the open menu, the arrow keys and Return pick "Pause Kivo", and the agent pauses."""
        rows = [row for row in self.item.visible_rows() if row.parent == 0 and row.type != "separator" and row.enabled]
        labels = [row.label for row in rows]
        if popup is None or "Pause Kivo" not in labels:
            self.checks.fail('picking "Pause Kivo" in the open menu', f"menu open: {popup is not None}, rows {labels}")
            return
        # Menus of GTK and Qt alike start on the first row that can be picked and skip the others.
        keys(self.session, *["Down"] * (labels.index("Pause Kivo") + 1), "Return")
        self.checks.eventually('picking "Pause Kivo" with the keyboard pauses the agent',
                               lambda: not pid_alive(self.first_agent), 15)
        self.checks.check(f'the menu then reads "{PAUSED}"', holds_within(lambda: self.item.headline() == PAUSED, WAIT))
        self.screen.park_pointer()

    def session_waits(self):
        """A session waits: attention, the host's bubble with one Open that opens it, the tooltip, the menu."""
        notes = len(self.our_notifications())
        since = self.screen.snapshot()
        online_icon = self.place.picture.crop(self.place.rect().grown(2))
        self.agent.set_needs_you(WAITING)
        self.agent.up()
        self.checks.check("the item asks for attention while the session waits",
                          holds_within(lambda: self.item.prop("Status") == "NeedsAttention", WAIT))
        self.checks.check(f"{self.host.name} draws the item differently then",
                          holds_within(lambda: not self.screen.grab(online_icon.rect).same_pixels(online_icon), WAIT))
        announced = holds_within(lambda: [n for n in self.our_notifications(notes) if n[0] == WAITING_SUMMARY], WAIT)
        waiting = [n for n in self.our_notifications(notes) if n[0] == WAITING_SUMMARY]
        actions = list(zip(waiting[0][2][::2], waiting[0][2][1::2])) if waiting else []
        # What the server draws as buttons: every action, or all but the click on the bubble.
        buttons = [label for key, label in actions if self.host.default_action_is_button or key != "default"]
        self.checks.check(f"a notification says the session waits, with exactly one visible Open (sent {actions})",
                          announced and buttons.count("Open") == 1)
        server = self.bus.name_pid(NOTIFICATIONS_NAME)
        # The panels change meanwhile (our icon asks for attention, a clock turns), and so does the panel of a
        # host that draws its bubbles inside its own window: neither is the bubble.
        panels = self.screen.panels() + ([self.host.panel_area] if self.host.panel_area else [])
        bubble = self.screen.wait_popup(lambda window: window.pid == server, since, avoid=panels,
                                        timeout=WAIT, or_change=not self.host.bubbles_have_windows)
        if not self.checks.check(f"{self.host.notification_server} shows it as a bubble", bubble is not None):
            return
        bubble = self.screen.come_to_rest(bubble)
        # Plasma draws a countdown on its bubbles: they never hold still.
        self.save_shot(self.screen.grab(bubble.rect), "-notification")
        # The tooltip and the menu before the bubble goes: hosts that keep unattended notifications may add
        # an item of their own then, which moves ours.
        if self.host.draws_tooltips:
            tooltip = self.screen.open_by_hover(self.place.point())
            self.checks.check("hovering the icon shows its tooltip", tooltip is not None)
            self.screen.park_pointer()
        picture, popup = self.menu_picture()
        if self.checks.check("the menu opens while the session waits", popup is not None):
            # The menu and the panel's band with the icon, no wider: the bubble may be beside the menu.
            icon = self.place.rect()
            self.save_shot(self.screen.grab(popup.rect.union(Rect(icon.x, icon.y - 4, icon.width, icon.height + 8))))
            self.screen.close_popup(popup)
        if self.host.open_button_offset is not None:
            # Where the bubble is now: when a bubble shown before it closes, the host slides it into that place.
            try:
                bubble = self.screen.come_to_rest(bubble, WAIT)
            except Timeout:
                self.checks.fail("its Open button opens the waiting session in a terminal",
                                 f"the bubble went before it could be clicked ({bubble})")
                return
            dx, dy = self.host.open_button_offset
            button = (bubble.rect.right + dx, bubble.rect.bottom + dy)
            click(self.session, button)
            opened = holds_within(lambda: OPENS_SESSION in self.terminal.ran(), WAIT)
            under = []
            if not opened:
                under = [(window.kinds, window.pid) for window in self.screen.windows_at(button)]
                self.save_shot(self.screen.grab(), "-open-unanswered")
            self.checks.check("its Open button opens the waiting session in a terminal", opened,
                              f"ran {self.terminal.ran()}; clicked {button} on the bubble {bubble}; under the "
                              f"pointer, topmost last: {under}")
        self.screen.park_pointer()

    def live_against_fresh(self):
        """After online, paused, a session waiting, a day of use and online again, the menu looks as a fresh app's
        does."""
        live, popup = self.menu_picture()
        if popup is None:
            self.checks.fail("the live app's menu opens")
            return
        self.screen.close_popup(popup)
        self.session.processes.stop("kivobar")
        self.start_app()
        fresh, popup = self.menu_picture()
        if popup is None:
            self.checks.fail("the fresh app's menu opens")
            return
        self.screen.close_popup(popup)
        self.screen.park_pointer()
        # Where the host puts the menu depends on where the icon sits, which a restart of the panel or of the app
        # may change, and a host that draws the menu in its own window blends its rounded edges into the
        # wallpaper, where the picture of it may take in more of the wallpaper: the rows must match, pixel for
        # pixel.
        live, fresh = live.trimmed(), fresh.trimmed()
        same = live.same_inside(fresh)
        if not same:
            self.save_shot(live, "-menu-live")
            self.save_shot(fresh, "-menu-fresh")
        self.checks.check(f"the live menu's rows match a fresh app's pixel for pixel ({live.width}x{live.height} "
                          f"against {fresh.width}x{fresh.height})", same)

    def host_logs(self):
        """The host's own logs hold no warning about our item."""
        found = []
        for name in self.host.log_names:
            found += [f"{name}: {line}" for line in warnings_naming(self.session.processes.output(name), OUR_WORDS,
                                                                    self.our_bus_names)]
        self.checks.check(f"{self.host.name}'s logs ({', '.join(self.host.log_names)}) warn about nothing of ours",
                          not found, "; ".join(found[:5]))

    def without_a_tray(self):
        """A desktop with no tray at all (GNOME as it comes): kivobar keeps running, says once that no tray
        is there, shows the state when it is started again, as a launcher does, and acts on the command line."""
        self.app = start_kivobar(self.session, self.build, self.agent.home,
                                 env={**self.host.app_env, "TERMINAL": self.terminal.path})
        self.checks.check("kivobar keeps running with no tray", holds_within(lambda: self.app.poll() is None
                          and self.bus.connections_of(self.app.pid), WAIT))
        self.our_bus_names.update(self.bus.connections_of(self.app.pid))
        # Meanwhile the session grows old enough for the notice, which comes last.
        kivobar = os.path.join(self.build, "app", "kivobar")
        notes = len(self.our_notifications())
        again = self.session.start("again", [kivobar], env={"KIVO_HOME": self.agent.home, **self.host.app_env})
        self.checks.check("started again, as from the launcher, it shows the state as a notification",
                          self.session.processes.wait_exit("again", WAIT) and again.returncode == 0
                          and holds_within(lambda: self.states_shown(notes), WAIT))
        act = self.session.start("act", [kivobar, "pause"], env={"KIVO_HOME": self.agent.home, **self.host.app_env})
        self.checks.check("kivobar pause on the command line pauses the agent through it",
                          self.session.processes.wait_exit("act", WAIT * 2) and act.returncode == 0
                          and holds_within(lambda: not pid_alive(self.first_agent), WAIT))
        said = holds_within(lambda: self.tray_notices(), NOTICE_WAIT)
        bodies = [body for _, _, body in self.tray_notices()]
        self.checks.check(f'a notification of {self.host.notification_server} says "{NO_TRAY}", worded for {self.host.name}',
                          said and self.host.tray_words in bodies[0], str(bodies))

    def on_wayland(self):
        """A Wayland session as Debian starts it by default, where no pointer of a test reaches the panel: the item
        registers beside the control's, its menu reads right over D-Bus, the panel draws the icon where it stands
        out, and a notification reaches the host's own server and shows as a bubble."""
        self.desktop()
        self.start_both()
        self.wait_online()
        self.checks.check("the control item registers too", holds_within(lambda: find_item(self.bus, self.control.pid), WAIT))
        rows = [row.label for row in self.item.visible_rows() if row.parent == 0 and row.type != "separator"]
        self.checks.check(f"the menu reads right over D-Bus ({rows})",
                          rows[:1] == [ONLINE] and all(label in rows for label in WAYLAND_ROWS))
        self.contrast()
        if self.place.glyph is not None:
            # The panel's band, as the compositor's screenshot gave it.
            self.save_shot(self.place.picture, "-panel")
        answers = Monitor(self.session.bus_address, [f"type='method_return',destination='{name}'"
                                                     for name in sorted(self.our_bus_names)])
        self.session.on_close.append(answers.stop)
        server = self.bus.owner(NOTIFICATIONS_NAME)
        before = self.screen.grab(self.host.bubble_area)
        notes = len(self.our_notifications())
        self.agent.set_needs_you(WAITING)

        def answered():
            calls = self.monitor.messages(lambda seen: seen.type == "method_call" and seen.fields.get("member") == "Notify"
                                          and seen.fields.get("sender") in self.our_bus_names
                                          and seen.body[3] == WAITING_SUMMARY)
            serials = {call.serial for call in calls}
            return answers.messages(lambda seen: seen.fields.get("sender") == server
                                    and seen.fields.get("reply_serial") in serials and seen.body and seen.body[0])

        self.checks.check(f"a notification that a session waits reaches {self.host.notification_server}'s server, "
                          "which gives it an id", holds_within(answered, WAIT), str(self.our_notifications(notes)))
        shown = holds_within(lambda: not self.screen.grab(self.host.bubble_area).same_pixels(before), WAIT)
        self.checks.check(f"and shows it as a bubble ({self.host.bubble_area})", shown)
        if shown:
            self.save_shot(self.screen.grab(self.host.bubble_area), "-notification")

    def run(self):
        """Every phase in order; an Abort ends the run with a FAIL line."""
        try:
            if not self.host.has_tray:
                self.desktop()
                self.without_a_tray()
                self.host_logs()
                return self.checks
            if not self.host.pointer:
                self.on_wayland()
                self.host_logs()
                return self.checks
            self.login()
            self.race()
            self.control_item()
            self.contrast()
            popup = self.menu_by_pointer()
            self.pause_by_keyboard(popup)
            self.session_waits()
            self.day_of_use()
            self.live_against_fresh()
            # Last: its bubble would stand in the way of the one a waiting session brings.
            self.left_click()
            self.host_logs()
            # Last of all: it ends the session's desktop, and starts it again as a login does.
            self.login_by_session_manager()
        except (Abort, Timeout) as error:
            self.checks.fail(str(error))
        if self.figures:
            print("figures:\n" + "\n".join(f"  {figure}" for figure in self.figures), flush=True)
        return self.checks


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the build folder (holds app/kivobar)")
    parser.add_argument("--source", required=True, help="the source folder (holds tools/stand-in-agent)")
    parser.add_argument("--host", choices=sorted(HOSTS), required=True, help="the desktop to run on")
    parser.add_argument("--shots", help="a folder for the pictures of the menu and the notification")
    parser.add_argument("--late", type=float, help=f"how long after the apps the panel starts at login: by default "
                        f"{LATE:g} s, and on a host whose watcher runs without the panel (Plasma), once the app has "
                        "said that no tray is there")
    parser.add_argument("--race-runs", type=int, default=RACE_RUNS,
                        help="how often GNOME's shell comes as the app's grace for a panel ends")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.source = os.path.abspath(args.source)

    if not os.access(os.path.join(args.build, "app", "kivobar"), os.X_OK):
        print(f"FAIL: no {args.build}/app/kivobar: build the kivobar target first")
        return 1
    return run_in_session(f"kivo-hosts-{args.host}", TOOLS + list(HOSTS[args.host].programs),
                          lambda session: HostScenario(args, session).run())


if __name__ == "__main__":
    sys.exit(main())
