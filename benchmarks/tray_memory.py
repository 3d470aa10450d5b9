#!/usr/bin/python3
"""Measures the resident tray side by side with two yardsticks on the headless desktop stack, and prints one table.

usage: benchmarks/tray_memory.py BUILD_DIR [--idle SECONDS] [--settle SECONDS]

On one private desktop (Xvfb, a session bus, status-notifier-watcher and gtk-sni-tray-standalone) with the
stand-in agent online, it runs, one after the other:
  kivobar           the resident tray process (kivobar-tray), QtCore and QtDBus only
  bare QtDBus       a QtCore + QtDBus program that owns a bus name and reads the status file every 3 s
  Qt Widgets tray   a minimal QSystemTrayIcon app: an icon, a 7-row menu, a 3 s timer that renames a row
and reads for each, after a settle time and over an idle minute: RSS, private and proportional memory
(/proc/PID/smaps_rollup), CPU time, context switches of all its threads (wakeups), the D-Bus messages it
sent, and the panel's CPU time meanwhile. Then it moves kivobar through 0, 100 and 1,000 waiting sessions:
CPU per 3-second tick at each, the signals and bytes for 0 -> 1,000 -> 0, and private memory before, at and
after. The agent rewrites its status file every 2 s, so every tick reads a changed file.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "desktop"))
# The harness's modules are imported from the source tree, after the path is set.

from kivodesk.agent import StandInAgent  # noqa: E402
from kivodesk.app import start_kivobar  # noqa: E402
from kivodesk.panels import open_desktop  # noqa: E402
from kivodesk.session import Session  # noqa: E402
from kivodesk.signals import Monitor, SignalRecorder  # noqa: E402
from kivodesk.tray import wait_item  # noqa: E402
from kivodesk.wait import wait_until  # noqa: E402

SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")
TICK_SECONDS = 3


def cpu_ms(pid):
    """User and system CPU time of the process, all threads, in milliseconds."""
    with open(f"/proc/{pid}/stat", encoding="utf-8") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / TICKS_PER_SECOND


def context_switches(pid):
    """Voluntary and involuntary context switches of all the process's threads: each is a wakeup."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status", encoding="utf-8") as status:
                for line in status:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except FileNotFoundError:
            continue
    return total


def memory(pid):
    """RSS, private and proportional memory in KiB."""
    values = {}
    with open(f"/proc/{pid}/smaps_rollup", encoding="utf-8") as rollup:
        for line in rollup:
            parts = line.split()
            if len(parts) >= 2 and parts[0].endswith(":") and parts[1].isdigit():
                values[parts[0][:-1]] = int(parts[1])
    return {"rss": values.get("Rss", 0), "private": values.get("Private_Clean", 0) + values.get("Private_Dirty", 0),
            "pss": values.get("Pss", 0)}


def sent_by(monitor, sender):
    """The messages the monitor saw from sender."""
    return monitor.messages(lambda seen: seen.fields.get("sender") == sender)


def idle_minute(session, pid, sender, panel_pid, seconds):
    """What the process costs over an idle period, and what it sent on the bus."""
    with Monitor(session.bus_address, [""]) as monitor:
        cpu, switches, panel_cpu = cpu_ms(pid), context_switches(pid), cpu_ms(panel_pid)
        time.sleep(seconds)
        cpu, switches, panel_cpu = cpu_ms(pid) - cpu, context_switches(pid) - switches, cpu_ms(panel_pid) - panel_cpu
        messages = len(sent_by(monitor, sender)) if sender else None
    per_minute = 60 / seconds
    return {"cpu": cpu * per_minute, "wakeups": switches * per_minute, "messages": messages,
            "panel_cpu": panel_cpu * per_minute, **memory(pid)}


def messages_per_change(session, sender, change, changed, timeout=15):
    """The messages sender sends for one change the user sees, panel's answers to them included."""
    with Monitor(session.bus_address, [""]) as monitor:
        change()
        wait_until(changed, timeout, "the change to show")
        time.sleep(TICK_SECONDS)  # the panel reads what the signal told it to
        return len(sent_by(monitor, sender))


def unique_name(bus, pid):
    """The connection of process pid on the bus."""
    return wait_until(lambda: next(iter(bus.connections_of(pid)), None), 20, f"a bus connection of {pid}")


def measure(args):
    results = {}
    scaling = {}
    with Session(name="kivo-bench") as session:
        panel = open_desktop(session, "gtk")
        panel.start()
        bus = session.bus()
        agent = StandInAgent(SOURCE_DIR, session.path("agent-home"))
        agent.make(set_up=True)
        agent.up()
        session.on_close.append(agent.down)
        home = agent.home
        panel_pid = panel.host_pid()

        # kivobar, the resident process that needs no display.
        process = start_kivobar(session, args.build, home)
        item = wait_item(bus, process.pid)
        time.sleep(args.settle)
        sender = item.owner()
        results["kivobar"] = idle_minute(session, process.pid, sender, panel_pid, args.idle)
        relays = ["eu-1", "us-2"]
        results["kivobar"]["per_change"] = messages_per_change(
            session, sender, lambda: agent.set_relays(relays),
            lambda: item.headline() == "Reachable from your devices · via eu-1, us-2")
        agent.set_relays(["eu-1"])
        wait_until(lambda: item.headline() == "Reachable from your devices · via eu-1", 20, "the headline back")

        # The scaling rows: CPU per tick at 0, 100 and 1,000 waiting sessions, and the signals between.
        def sessions(count):
            return [{"agent": "coder", "where": f"repo-{i}", "detail": f"approve migration {i}?", "run": f"r-{i}"}
                    for i in range(count)]

        def settle_at(count):
            agent.set_needs_you(sessions(count))
            wait_until(lambda: sum(1 for row in item.visible_rows() if row.label.startswith("coder ·")) == count,
                       60, f"{count} session rows")
            time.sleep(2 * TICK_SECONDS)

        def tick_cpu(seconds=30):
            before = cpu_ms(process.pid)
            time.sleep(seconds)
            return (cpu_ms(process.pid) - before) / (seconds / TICK_SECONDS)

        settle_at(0)
        scaling["private_before"] = memory(process.pid)["private"]
        scaling["tick_0"] = tick_cpu()
        settle_at(100)
        scaling["tick_100"] = tick_cpu()
        settle_at(0)
        with SignalRecorder(session.bus_address, sender) as recorder:
            settle_at(1000)
            scaling["up_signals"], scaling["up_bytes"] = recorder.count(), recorder.bytes()
            scaling["tick_1000"] = tick_cpu()
            scaling["private_at"] = memory(process.pid)["private"]
            recorder.clear()
            settle_at(0)
            scaling["down_signals"], scaling["down_bytes"] = recorder.count(), recorder.bytes()
        time.sleep(2 * TICK_SECONDS)
        scaling["private_after"] = memory(process.pid)["private"]
        session.processes.stop("kivobar")

        # The bare QtCore + QtDBus yardstick.
        env = {"KIVO_HOME": home, "DISPLAY": None}
        bare = session.start("bare", [os.path.join(args.build, "benchmarks", "bare_dbus_baseline")], env=env)
        wait_until(lambda: bus.has_owner("io.kivo.BareBaseline"), 20, "the bare program's bus name")
        time.sleep(args.settle)
        results["bare QtDBus"] = idle_minute(session, bare.pid, unique_name(bus, bare.pid), panel_pid, args.idle)
        session.processes.stop("bare")

        # The minimal Qt Widgets tray.
        env = {"KIVO_HOME": home, "QT_QPA_PLATFORM": "xcb"}
        widgets = session.start("widgets", [os.path.join(args.build, "benchmarks", "widgets_tray_baseline")], env=env)
        wait_item(bus, widgets.pid)
        time.sleep(args.settle)
        results["Qt Widgets tray"] = idle_minute(session, widgets.pid, unique_name(bus, widgets.pid), panel_pid,
                                                 args.idle)
        # It renames a row on each of its ticks, as the status file changes every 2 s.
        results["Qt Widgets tray"]["per_change"] = results["Qt Widgets tray"]["messages"] / (args.idle / TICK_SECONDS)
        session.processes.stop("widgets")
    return results, scaling


def print_table(results, scaling, args):
    print(f"\nIdle, after {args.settle:.0f} s to settle, over {args.idle:.0f} s (per minute where it says so):\n")
    print("| program | RSS MiB | private MiB | PSS MiB | CPU ms/min | wakeups/min | D-Bus messages/min "
          "| messages per visible change | panel CPU ms/min |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, r in results.items():
        per_change = r.get("per_change")
        print(f"| {name} | {r['rss'] / 1024:.1f} | {r['private'] / 1024:.1f} | {r['pss'] / 1024:.1f} | {r['cpu']:.1f} "
              f"| {r['wakeups']:.0f} | {r['messages']:.0f} | {'-' if per_change is None else f'{per_change:.1f}'} "
              f"| {r['panel_cpu']:.1f} |")
    bare = results["bare QtDBus"]
    kivobar = results["kivobar"]
    print(f"\nkivobar against the bare QtCore + QtDBus program: RSS {kivobar['rss'] / bare['rss']:.2f}x, "
          f"PSS {kivobar['pss'] / bare['pss']:.2f}x")
    print("\nkivobar with waiting sessions:\n")
    print("| sessions waiting | CPU per 3 s tick |")
    print("|---|---|")
    for count in (0, 100, 1000):
        print(f"| {count} | {scaling[f'tick_{count}']:.2f} ms |")
    print(f"\n0 -> 1,000 sessions: {scaling['up_signals']} signals, {scaling['up_bytes']} bytes; "
          f"1,000 -> 0: {scaling['down_signals']} signals, {scaling['down_bytes']} bytes")
    print(f"private memory: {scaling['private_before'] / 1024:.2f} MiB at 0, {scaling['private_at'] / 1024:.2f} MiB at "
          f"1,000, {scaling['private_after'] / 1024:.2f} MiB back at 0")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--idle", type=float, default=60.0)
    parser.add_argument("--settle", type=float, default=10.0)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    results, scaling = measure(args)
    print_table(results, scaling, args)


if __name__ == "__main__":
    main()
