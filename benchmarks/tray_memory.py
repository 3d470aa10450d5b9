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
TICK_SECONDS = 3


def cpu_ms(pid):
    """Time the process's threads spent on a CPU, in milliseconds, to the nanosecond the scheduler counts."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat", encoding="utf-8") as schedstat:
                total += int(schedstat.read().split()[0])
        except FileNotFoundError:
            continue
    return total / 1e6


def process_cpu_ms(pid):
    """CPU time of the whole process, threads that have ended included, to the scheduler tick (10 ms)."""
    with open(f"/proc/{pid}/stat", encoding="utf-8") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / os.sysconf("SC_CLK_TCK")


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
    """RSS, private, proportional and private anonymous (heap and stacks) memory in KiB."""
    values = {}
    with open(f"/proc/{pid}/smaps_rollup", encoding="utf-8") as rollup:
        for line in rollup:
            parts = line.split()
            if len(parts) >= 2 and parts[0].endswith(":") and parts[1].isdigit():
                values[parts[0][:-1]] = int(parts[1])
    return {"rss": values.get("Rss", 0), "private": values.get("Private_Clean", 0) + values.get("Private_Dirty", 0),
            "pss": values.get("Pss", 0), "anonymous": values.get("Pss_Anon", 0)}


def sent_by(monitor, senders, kind=None):
    """The messages the monitor saw from any of senders (unique names), of one kind ("signal") or all."""
    return monitor.messages(lambda seen: seen.fields.get("sender") in senders and kind in (None, seen.type))


def idle_minute(session, pid, panel_pid, seconds):
    """What the process costs over an idle period, and the messages it sent on the bus meanwhile."""
    senders = set(session.bus().connections_of(pid))
    with Monitor(session.bus_address, [""]) as monitor:
        # The panel starts and ends threads of its own, so only its process total counts it right.
        cpu, switches, panel_cpu = cpu_ms(pid), context_switches(pid), process_cpu_ms(panel_pid)
        time.sleep(seconds)
        cpu, switches = cpu_ms(pid) - cpu, context_switches(pid) - switches
        panel_cpu = process_cpu_ms(panel_pid) - panel_cpu
        messages, signals = len(sent_by(monitor, senders)), len(sent_by(monitor, senders, "signal"))
    per_minute = 60 / seconds
    return {"cpu": cpu * per_minute, "wakeups": switches * per_minute, "messages": messages * per_minute,
            "signals": signals * per_minute, "panel_cpu": panel_cpu * per_minute, **memory(pid)}


def per_change(session, pid, panel_pid, change, changed, timeout=15):
    """The signals and all messages the process sends for one change the user sees (its answers to the
    panel's reads included), and the panel's CPU time for it."""
    senders = set(session.bus().connections_of(pid))
    with Monitor(session.bus_address, [""]) as monitor:
        panel_cpu = process_cpu_ms(panel_pid)
        change()
        wait_until(changed, timeout, "the change to show")
        time.sleep(TICK_SECONDS)  # the panel reads what the signal told it to
        return {"signals": len(sent_by(monitor, senders, "signal")), "messages": len(sent_by(monitor, senders)),
                "panel_cpu": process_cpu_ms(panel_pid) - panel_cpu}


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
        results["kivobar"] = idle_minute(session, process.pid, panel_pid, args.idle)
        results["kivobar"]["change"] = per_change(
            session, process.pid, panel_pid, lambda: agent.set_relays(["eu-1", "us-2"]),
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
        scaling["before"] = memory(process.pid)
        scaling["tick_0"] = tick_cpu()
        settle_at(100)
        scaling["tick_100"] = tick_cpu()
        settle_at(0)
        with SignalRecorder(session.bus_address, sender) as recorder:
            settle_at(1000)
            scaling["up_menu"] = recorder.count("LayoutUpdated", "ItemsPropertiesUpdated")
            scaling["up_signals"], scaling["up_bytes"] = recorder.count(), recorder.bytes()
            scaling["tick_1000"] = tick_cpu()
            scaling["at"] = memory(process.pid)
            recorder.clear()
            settle_at(0)
            scaling["down_menu"] = recorder.count("LayoutUpdated", "ItemsPropertiesUpdated")
            scaling["down_signals"], scaling["down_bytes"] = recorder.count(), recorder.bytes()
        time.sleep(2 * TICK_SECONDS)
        scaling["after"] = memory(process.pid)
        session.processes.stop("kivobar")

        # The bare QtCore + QtDBus yardstick.
        env = {"KIVO_HOME": home, "DISPLAY": None}
        bare = session.start("bare", [os.path.join(args.build, "benchmarks", "bare_dbus_baseline")], env=env)
        wait_until(lambda: bus.has_owner("io.kivo.BareBaseline"), 20, "the bare program's bus name")
        time.sleep(args.settle)
        results["bare QtDBus"] = idle_minute(session, bare.pid, panel_pid, args.idle)
        session.processes.stop("bare")

        # The minimal Qt Widgets tray.
        env = {"KIVO_HOME": home, "QT_QPA_PLATFORM": "xcb"}
        widgets = session.start("widgets", [os.path.join(args.build, "benchmarks", "widgets_tray_baseline")], env=env)
        wait_item(bus, widgets.pid)
        time.sleep(args.settle)
        results["Qt Widgets tray"] = idle_minute(session, widgets.pid, panel_pid, args.idle)
        # It renames a row on each of its ticks, as the status file changes every 2 s: its idle minute is
        # twenty changes the user sees.
        changes = 60 / TICK_SECONDS
        widgets_minute = results["Qt Widgets tray"]
        widgets_minute["change"] = {key: widgets_minute[key] / changes for key in ("signals", "messages", "panel_cpu")}
        session.processes.stop("widgets")
    return results, scaling


def print_table(results, scaling, args):
    print(f"\nIdle, after {args.settle:.0f} s to settle, measured over {args.idle:.0f} s and given per minute:\n")
    print("| program | RSS MiB | private MiB | PSS MiB | CPU ms/min | wakeups/min | D-Bus messages/min "
          "| per visible change: signals, messages, panel CPU ms | panel CPU ms/min |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, r in results.items():
        change = r.get("change")
        change_text = f"{change['signals']:.0f}, {change['messages']:.0f}, {change['panel_cpu']:.1f}" if change else "-"
        print(f"| {name} | {r['rss'] / 1024:.1f} | {r['private'] / 1024:.1f} | {r['pss'] / 1024:.1f} | {r['cpu']:.1f} "
              f"| {r['wakeups']:.0f} | {r['messages']:.0f} | {change_text} | {r['panel_cpu']:.1f} |")
    bare = results["bare QtDBus"]
    kivobar = results["kivobar"]
    print(f"\nkivobar against the bare QtCore + QtDBus program: RSS {kivobar['rss'] / bare['rss']:.2f}x, "
          f"PSS {kivobar['pss'] / bare['pss']:.2f}x")
    print("\nkivobar with waiting sessions:\n")
    print("| sessions waiting | CPU per 3 s tick |")
    print("|---|---|")
    for count in (0, 100, 1000):
        print(f"| {count} | {scaling[f'tick_{count}']:.3f} ms |")
    print(f"\n0 -> 1,000 sessions: {scaling['up_menu']} menu signal(s), {scaling['up_signals']} signals in all "
          f"(the icon, status and tooltip change too), {scaling['up_bytes']} bytes; 1,000 -> 0: {scaling['down_menu']} "
          f"menu signal(s), {scaling['down_signals']} in all, {scaling['down_bytes']} bytes")
    for kind, what in (("private", "private memory"), ("anonymous", "of it anonymous (heap and stacks)")):
        print(f"{what}: {scaling['before'][kind] / 1024:.2f} MiB at 0, {scaling['at'][kind] / 1024:.2f} MiB at 1,000, "
              f"{scaling['after'][kind] / 1024:.2f} MiB back at 0")


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
