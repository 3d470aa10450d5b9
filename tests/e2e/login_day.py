"""The first minute of a login and a day of use, as phases of a host scenario (hosts_test.py): kivobar and
the known-good item started before the panel, the panel or shell restarted, GNOME's tray extension switched
off and on, and a login by the desktop's own session manager. When a panel takes up an item is read off the
bus: its first read of the item's properties."""

import os
import signal
import sys
import time

from host_values import NO_TRAY, ONLINE, OPEN_AT_LOGIN, PAUSED, STARTUP, WAIT
from kivodesk.app import can_isolate_network
from kivodesk.arrivals import first_read, names_of, owner_came
from kivodesk.checks import Abort
from kivodesk.notifications import NAME as NOTIFICATIONS_NAME, NotificationServer
from kivodesk.on_screen import ItemOnScreen
from kivodesk.pixels import edge_sharpness
from kivodesk.tray import WATCHER, find_item, host_registered, watcher_items
from kivodesk.wait import Timeout, holds_within, wait_until

# The app gives a panel this long before it looks for a tray of the older kind.
GRACE = 10.0
# How long after the panel started the control item (which registers as soon as the watcher is there) the app's
# item may show: the known-good item is the yardstick for every host.
WITHIN = 1.0
# The panel is this late by default: past the app's grace.
LATE = 15.0
# On GNOME, where the shell's watcher arrives in the app's grace, as a share of a second after it ends: the
# XEmbed probe that starts then takes about that long.
RACE_WINDOW = (0.1, 0.8)
RACE_RUNS = 2
# A notice of a missing tray may take until the session is 30 s old (the app's own rule), then the grace.
NOTICE_WAIT = 45
# Our icon on a panel at scale 2 is at least this share of the control's sharpness, the same icon by name (which
# wobbles by a few hundredths between runs); images stretched from a smaller size reach about 0.6 of it.
SHARPNESS_SHARE = 0.85
# The control shows our own two icons, by name from our icon folder, as an app run from its build tree does:
# what a host makes of the same icon by name is the yardstick for ours.
CONTROL_ICONS = "kivobar-online-symbolic,kivobar-offline-symbolic"
DESKTOP_TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "desktop")


def program_of(pid):
    """The file the process runs now (exec keeps the pid)."""
    try:
        return os.path.basename(os.readlink(f"/proc/{pid}/exe"))
    except OSError:
        return None


def environment_of(pid):
    """The environment the process started with."""
    try:
        with open(f"/proc/{pid}/environ", "rb") as environ:
            pairs = [entry.split(b"=", 1) for entry in environ.read().split(b"\0") if b"=" in entry]
    except OSError:
        return {}
    return {key.decode(errors="replace"): value.decode(errors="replace") for key, value in pairs}


class LoginAndDayOfUse:
    """The phases of a login and a day of use, for a scenario that has the session, host, bus, monitor, agent,
    checks, screen and args, starts kivobar with start_app and checks it is online with wait_online."""

    def start_control(self):
        """Starts the known-good item; returns it (it registers once a watcher is there)."""
        self.control = self.session.start("control", [sys.executable, os.path.join(DESKTOP_TOOLS, "control_item.py"),
                                                      "--icons", CONTROL_ICONS, "--theme-path",
                                                      os.path.join(self.build, "share", "icons")],
                                          env=self.host.app_env)
        return self.control

    def start_both(self):
        """The control and kivobar, started as autostart does, before or without a panel."""
        self.start_control()
        self.start_app(registered=False)
        self.our_bus_names.update(wait_until(lambda: self.bus.connections_of(self.app.pid), WAIT,
                                             "kivobar on the bus"))

    def stop_both(self):
        """Stops kivobar and the control."""
        self.session.processes.stop("kivobar")
        self.session.processes.stop("control")

    def tray_notices(self):
        """Our notices of a missing tray: (when, summary, body) each."""
        calls = self.monitor.messages(lambda seen: seen.type == "method_call" and seen.fields.get("member") == "Notify"
                                      and seen.fields.get("sender") in self.our_bus_names and seen.body[3] == NO_TRAY)
        return [(call.at, call.body[3], call.body[4]) for call in calls]

    def notice_left(self):
        """Whether a notice of a missing tray of ours is left showing: sent, and neither a CloseNotification of
        ours since nor the server that showed it gone."""
        notices = self.tray_notices()
        if not notices:
            return False
        since = notices[-1][0]
        closed = self.monitor.messages(lambda seen: seen.type == "method_call"
                                       and seen.fields.get("member") == "CloseNotification"
                                       and seen.fields.get("sender") in self.our_bus_names and seen.at >= since)
        return not closed and owner_came(self.monitor, NOTIFICATIONS_NAME, since) is None

    def shown_after(self, since, what):
        """When the panel took up kivobar's item and the control's after since (time.monotonic()), and the
        checks that kivobar showed within WITHIN of the control, as the panel protocol's item."""
        ours_names, control_names = names_of(self.bus, self.app.pid), names_of(self.bus, self.control.pid)
        self.our_bus_names.update(name for name in ours_names if name.startswith(":"))
        not_by = {self.bus.unique_name}
        both = holds_within(lambda: first_read(self.monitor, ours_names, since, not_by)
                            and first_read(self.monitor, control_names, since, not_by), WAIT)
        ours = first_read(self.monitor, ours_names, since, not_by)
        theirs = first_read(self.monitor, control_names, since, not_by)
        if not self.checks.check(f"{what}: the panel takes up kivobar's item and the control's", both,
                                 f"kivobar {ours}, control {theirs}"):
            return
        self.figure(f"{what}: the panel took up the control {theirs - since:.2f} s after it started, "
                    f"kivobar {ours - since:.2f} s ({ours - theirs:+.2f} s)")
        self.checks.check(f"{what}: kivobar shows within {WITHIN:g} s of the control ({ours - theirs:+.2f} s)",
                          ours - theirs <= WITHIN)
        # Judged once the app has had its say: its grace for a panel over, and no XEmbed probe of its running.
        holds_within(lambda: time.monotonic() - self.apps_started >= GRACE and not self.probing(), WAIT)
        self.checks.check(f"{what}: as the panel protocol's item, from the resident tray",
                          program_of(self.app.pid) == "kivobar-tray" and find_item(self.bus, self.app.pid),
                          f"it runs {program_of(self.app.pid)}")
        self.checks.check(f"{what}: no notice of a missing tray is left", not self.notice_left(),
                          str(self.tray_notices()))

    def probing(self):
        """Whether the app is asking kivobar-xembed whether an XEmbed tray is there."""
        try:
            with open(f"/proc/{self.app.pid}/task/{self.app.pid}/children", encoding="ascii") as children:
                return any(program_of(int(child)) == "kivobar-xembed" for child in children.read().split())
        except OSError:
            return False

    def panel_comes(self, what, start):
        """Starts the panel with start() and checks that both items show; remembers how long the watcher took."""
        since = time.monotonic()
        try:
            start()
        except Timeout as error:
            raise Abort(f"{what}: the panel did not come up: {error}") from error
        came = owner_came(self.monitor, WATCHER, since)
        if came is not None:
            self.watcher_delay = came - since
        self.shown_after(since, what)
        return since

    def login(self):
        """The apps first, as autostart may start them, and the panel --late seconds after them (on Plasma, after
        the app said that no tray is there)."""
        try:
            self.host.start_base(STARTUP)
        except Timeout as error:
            raise Abort(f"{self.host.name} did not come up: {error}") from error
        self.watch_bus()
        if self.host.panel_apart_from_watcher and self.args.late is None:
            self.without_panel()
        else:
            self.start_both()
            self.wait_late(LATE if self.args.late is None else self.args.late)
        self.panel_comes(f"the panel {self.late_text()} after the apps", lambda: self.host.start_panel(STARTUP))
        self.check_notification_server()
        self.wait_online()

    def late_text(self):
        """How late the panel came after the apps, in words."""
        return f"{time.monotonic() - self.apps_started:.1f} s"

    def wait_late(self, seconds):
        """Lets seconds pass since the apps started: the panel is that late on purpose."""
        self.apps_started = time.monotonic()
        time.sleep(max(0.0, self.apps_started + seconds - time.monotonic()))

    def without_panel(self):
        """A session whose watcher runs without a panel (Plasma's kded5 without plasmashell): kivobar tells that
        no tray is there, in the desktop's words, through whatever notification server runs (a stand-in here, as
        Plasma's own is its panel), and stays the panel protocol's item."""
        server = NotificationServer(self.session)
        server.start()
        self.start_both()
        self.apps_started = time.monotonic()
        said = holds_within(lambda: self.tray_notices(), NOTICE_WAIT)
        notices = self.tray_notices()
        if self.checks.check(f"a {self.host.name} session without a panel gets the notice that no tray is running",
                             said, self.session.processes.output("kivobar")[-500:]):
            when, _, body = notices[0]
            self.figure(f"the notice came {when - self.apps_started:.1f} s after the app started")
            self.checks.check(f"worded for {self.host.name} ({body!r})", self.host.tray_words in body
                              and "gnome" not in body.lower())
        self.checks.check("and the app stays the resident tray", program_of(self.app.pid) == "kivobar-tray")
        # The panel brings the desktop's own server; the notice went with the stand-in.
        server.stop()
        wait_until(lambda: not self.bus.has_owner(NOTIFICATIONS_NAME), WAIT, "the stand-in server to go")

    def race(self):
        """GNOME's shell arrives again, --race-runs times, just as kivobar's grace for a panel ends, when it
        once looked for an XEmbed tray and found the shell's: a fresh kivobar and control each time."""
        if not self.host.race_at_grace or not self.args.race_runs or self.watcher_delay is None:
            return
        first, last = RACE_WINDOW
        for run in range(self.args.race_runs):
            at = GRACE + first + (last - first) * (run / max(1, self.args.race_runs - 1))
            self.host.stop_panel(STARTUP)
            self.stop_both()
            self.start_both()
            self.wait_late(max(0.0, at - self.watcher_delay))
            self.panel_comes(f"race {run + 1}: the shell {self.late_text()} after the apps, aimed to be on the "
                             f"bus {at:.1f} s after them", lambda: self.host.start_panel(STARTUP))
        self.wait_online()

    def day_of_use(self):
        """The panel or shell restarted, as users and updates do: kivobar is back within a second of the control.
        Where the host says so, the panel stays away long enough for the notice first (which then goes), comes
        back at another scale (where the icon must stay as sharp as the control's), or its tray extension is
        switched off and on."""
        host = self.host
        self.agent.set_needs_you([])
        self.checks.check("the item is active again once no session waits",
                          holds_within(lambda: self.item.prop("Status") == "Active", WAIT))
        host.stop_panel(STARTUP)
        what = "the panel restarted"
        if host.restart_outage_notice:
            said = holds_within(lambda: self.tray_notices(), NOTICE_WAIT)
            bodies = [body for _, _, body in self.tray_notices()]
            self.checks.check(f"with the panel gone a while, a notice says that no tray is running, worded for "
                              f"{host.name} ({bodies[-1] if bodies else None!r})",
                              said and host.tray_words in bodies[-1] and "gnome" not in bodies[-1].lower())
            what = "the panel back after the notice"
        if host.restart_scale != 1:
            host.set_scale(host.restart_scale)
            what = f"the panel restarted at scale factor {host.restart_scale:g}"
        self.panel_comes(what, lambda: host.start_panel(STARTUP))
        self.wait_online()
        if host.restart_scale != 1:
            self.as_sharp_as_the_control()
        if host.tray_extension:
            host.set_extension(host.tray_extension, False)
            wait_until(lambda: not self.bus.has_owner(WATCHER), WAIT, "the extension's watcher to go")
            self.panel_comes("the tray extension switched off and on", lambda: (
                host.set_extension(host.tray_extension, True),
                wait_until(lambda: host_registered(self.bus), WAIT, "the extension's watcher")))
            self.wait_online()
        self.screen.park_pointer()

    def as_sharp_as_the_control(self):
        """Our icon, named, drawn as sharp as the control's, which shows the same icon by name."""
        control = self.control
        theirs = ItemOnScreen(self.screen, self.bus, lambda: control.send_signal(signal.SIGUSR1),
                              lambda: control.send_signal(signal.SIGUSR1), "the control item")
        ours = ItemOnScreen(self.screen, self.bus, lambda: self.agent.set_relays([]),
                            lambda: self.agent.set_relays(["eu-1"]), "kivobar")
        try:
            control_glyph, our_glyph = theirs.locate(), ours.locate()
        except Timeout as error:
            self.checks.fail("both icons are found at the new scale", str(error))
            return
        sharp = (edge_sharpness(ours.picture, our_glyph), edge_sharpness(theirs.picture, control_glyph))
        self.figure(f"edge sharpness at scale {self.host.restart_scale:g}: kivobar {sharp[0]:.2f} at {our_glyph}, "
                    f"the control with the same icon {sharp[1]:.2f} at {control_glyph}")
        self.save_shot(ours.picture.crop(our_glyph.grown(4)), f"-scale-{self.host.restart_scale:g}")
        self.checks.check(f"kivobar's icon is as sharp as the control's at scale {self.host.restart_scale:g} "
                          f"({sharp[0]:.2f} against {sharp[1]:.2f})", sharp[0] >= SHARPNESS_SHARE * sharp[1])
        self.place = ours

    def login_by_session_manager(self):
        """"Open at login" picked in the menu; then the desktop's own session manager, started in the same home,
        starts kivobar for the agent home it was picked for."""
        if not self.host.session_manager:
            return
        if not self.checks.check(f'"{OPEN_AT_LOGIN}" is in the menu', self.item.click_label(OPEN_AT_LOGIN)):
            return
        folder = self.session.path("config", "autostart")

        def entry():
            names = os.listdir(folder) if os.path.isdir(folder) else []
            for name in names:
                with open(os.path.join(folder, name), encoding="utf-8") as text:
                    if f"KIVO_HOME={self.agent.home}" in text.read():
                        return name
            return None

        written = holds_within(entry, WAIT)
        if not self.checks.check(f"it writes a login item that starts the tray for its agent home ({entry()})",
                                 written, str(os.listdir(folder) if os.path.isdir(folder) else "no folder")):
            return
        self.session.processes.stop("kivobar")
        self.host.stop(STARTUP)
        # Without a network of its own the tray's release checks end at once, as when the app is started here.
        wrap = ["unshare", "--net"] if can_isolate_network() else []
        started = time.monotonic()
        try:
            self.host.start_session_manager(STARTUP, wrap)
        except Timeout as error:
            self.checks.fail(f"{self.host.session_manager[0]} starts {self.host.name}", str(error))
            return

        def started_tray():
            for name, _ in watcher_items(self.bus):
                pid = self.bus.name_pid(name)
                if pid and program_of(pid) == "kivobar-tray" and environment_of(pid).get("KIVO_HOME") == self.agent.home:
                    return pid
            return None

        pid = holds_within(started_tray, WAIT) and started_tray()
        self.checks.check(f"{self.host.session_manager[0]} starts kivobar at login, for the agent home it was picked "
                          "for, as the panel protocol's item", pid, self.session.processes.output("session-manager")[-800:])
        if pid:
            self.figure(f"{self.host.session_manager[0]}: the tray's item registered {time.monotonic() - started:.1f} s "
                        "after the session manager started")
            item = find_item(self.bus, pid)
            self.checks.check("its menu reads the agent home's state",
                              holds_within(lambda: item.headline() in (ONLINE, PAUSED), WAIT), item.headline())
