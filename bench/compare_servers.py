#!/usr/bin/env python3
"""Runs Sentrel and the reference server side by side, puts both under the same loads in turn, and
prints what each recorded, how fast, at what cost, against the targets. Sentrel runs in several
modes one after the other: headless, with its window shown on a private X display, with every
alert action on, and with the machine-readable event outputs off and then all on (the JSON event
log, the system log and a real rsyslogd as the remote collector over TCP on loopback), and with
them all on in each record format, the program's own and then the Elastic Common Schema.

Started by run-bench.sh after the build; everything lives in a temporary folder that is removed at
the end (unless --keep)."""

import argparse
import json
import os
import random
import re
import resource
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

STATUS_INTRUSION = b"[ ORRA ] - Intruder Detected"
LOG_INTRUSION = b"Intruder Information - "
# A completed connection must never also be a half-open probe: on loopback under the benchmark's
# load every half-open report is such a double, alone or folded into a summary of many.
HALF_OPEN = b"[ ORRA ] - Message: half-open scan"
SYN_FLOOD = re.compile(rb"^\[ ORRA \] - Message: SYN flood: ([\d,]+) probe")


def half_open_reports(line):
    if line.startswith(HALF_OPEN):
        return 1
    match = SYN_FLOOD.match(line)
    return int(match[1].replace(b",", b"")) if match else 0
PORT_COUNT = 12
TICKS = os.sysconf("SC_CLK_TCK")

TARGET_LOSS = 0
TARGET_RATE_RATIO = 0.5
TARGET_RSS_MB = 30  # headless: no window, dialog or tray is built
TARGET_STALL_MS = 50
PROBE_INTERVAL_MS = 10  # the stall probe's timer


class LineCounter:
    """Counts matching lines of a file that another process is still appending to; matches may say
    how many a line counts for."""

    def __init__(self, path, matches):
        self.path = path
        self.matches = matches
        self.offset = 0
        self.partial = b""
        self.count = 0

    def exists(self):
        return os.path.exists(self.path)

    def update(self):
        try:
            with open(self.path, "rb") as stream:
                stream.seek(self.offset)
                chunk = stream.read()
        except FileNotFoundError:
            return self.count
        self.offset += len(chunk)
        lines = (self.partial + chunk).split(b"\n")
        self.partial = lines.pop()
        self.count += sum(int(self.matches(line.rstrip(b"\r"))) for line in lines)
        return self.count


class Server:
    """A running server process and the figures read from outside it."""

    def __init__(self, name, command, env, folder, record_files):
        self.name = name
        self.stdout_path = os.path.join(folder, name + ".out")
        self.stderr_path = os.path.join(folder, name + ".err")
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen(command, env=env, stdout=out, stderr=err, stdin=subprocess.DEVNULL)
        self.counters = {label: LineCounter(path, matches) for label, (path, matches) in record_files.items()}
        self.half_open = None  # Sentrel with its packet watch armed: its half-open reports

    def alive(self):
        return self.process.poll() is None

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as stream:
            fields = stream.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICKS

    def status_kb(self, key):
        with open(f"/proc/{self.process.pid}/status") as stream:
            for line in stream:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
        return 0

    def reset_peak_rss(self):
        # Writing 5 resets VmHWM to the current RSS, so the next reading is this load's peak.
        try:
            with open(f"/proc/{self.process.pid}/clear_refs", "w") as stream:
                stream.write("5")
            return True
        except OSError:
            return False

    def counts(self):
        return {label: counter.update() for label, counter in self.counters.items()}

    def stop(self):
        if self.alive():
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class StallProbe:
    """Asks the probe inside Sentrel for its lateness figures; each request starts a fresh count."""

    PATTERN = re.compile(rb"probe samples=(\d+) max_late_ms=([\d.]+) p99_late_ms=([\d.]+) "
                         rb"worst_gap_cpu_ms=([\d.]+) worst_gap_runqueue_ms=([\d.]+) peak_rss_kb=(\d+)")

    def __init__(self, server):
        self.server = server
        self.seen = 0

    def request(self, timeout=5.0):
        self.server.process.send_signal(signal.SIGUSR1)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            reports = self.reports()
            if len(reports) > self.seen:
                self.seen = len(reports)
                return reports[-1]
            time.sleep(0.02)
        return None

    def reports(self):
        with open(self.server.stderr_path, "rb") as stream:
            return [
                {"samples": int(m[1]), "max_ms": float(m[2]), "p99_ms": float(m[3]), "gap_cpu_ms": float(m[4]),
                 "gap_runqueue_ms": float(m[5]), "peak_rss_kb": int(m[6])}
                for m in self.PATTERN.finditer(stream.read())
            ]


def free_ports(count, avoid=()):
    """High ports outside the kernel's range for outgoing connections, free on every address."""
    with open("/proc/sys/net/ipv4/ip_local_port_range") as stream:
        low, high = (int(x) for x in stream.read().split())
    candidates = list(range(max(high + 1, 1024), 65536)) if high < 65000 else list(range(20000, low))
    random.shuffle(candidates)
    chosen = []
    for port in candidates:
        if port in avoid or not port_is_free(port):
            continue
        chosen.append(port)
        if len(chosen) == count:
            return chosen
    sys.exit("no free high ports")


def port_is_free(port):
    for family, address in ((socket.AF_INET6, "::"), (socket.AF_INET, "0.0.0.0")):
        try:
            with socket.socket(family, socket.SOCK_STREAM) as probe:
                probe.bind((address, port))
        except OSError:
            return False
    return True


def write_settings(path, ports, mode_changes):
    """Edits the store the program wrote at its first start: the benchmark's ports, monitoring on
    at start, logs on, and every action that reaches outside the process (sound, wallpaper,
    programs, chat client, the moving sentinel port) off unless the mode turns it on."""
    sections, order = {}, []
    section = None
    with open(path, encoding="utf-8") as stream:
        for line in stream:
            line = line.rstrip("\n")
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
                sections.setdefault(section, {})
                order.append(section)
            elif "=" in line and section is not None:
                key, value = line.split("=", 1)
                sections[section][key] = value
    changes = {
        "%General": {"Start%20Monitoring": "1", "Logs": "True", "Run": "0"},
        "Sounds": {"On": "False"},
        "Display": {"Change%20Background": "0", "Attack%20Run": "0", "Windows%20Startup": "0"},
        "Advance": {"DDE%20On": "0", "RPS": "0"},
    }
    for name, values in mode_changes.items():
        changes.setdefault(name, {}).update(values)
    for name, values in changes.items():
        if name not in sections:
            order.append(name)
        sections.setdefault(name, {}).update(values)
    if "Ports" not in sections:
        order.append("Ports")
    sections["Ports"] = {str(i): str(port) for i, port in enumerate(ports)}
    sections["Ports"]["Number"] = str(len(ports) - 1)
    with open(path, "w", encoding="utf-8") as stream:
        for name in order:
            stream.write(f"[{name}]\n")
            stream.writelines(f"{key}={value}\n" for key, value in sections[name].items())
            stream.write("\n")


def read_bytes(path):
    with open(path, "rb") as stream:
        return stream.read()


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    sys.exit(f"timed out waiting for {what}")


def first_start(command, env, folder):
    """Lets the program write its first-start store, so the edit keeps its exact format."""
    first = Server("first-start", command, env, folder, {})
    try:
        wait_for(lambda: b"Ready." in read_bytes(first.stdout_path) or not first.alive(), 30, "first start")
    finally:
        first.stop()


def run_load(loadgen, ports, args):
    command = [loadgen, "--ports", ",".join(map(str, ports)), "--timeout", "5", "--max-seconds", "90",
               "--wait-listen", "10"] + args
    result = subprocess.run(command, capture_output=True, text=True, timeout=180)
    if result.returncode != 0:
        sys.exit(f"load generator failed: {result.stderr.strip()} {result.stdout.strip()}")
    return json.loads(result.stdout.strip().splitlines()[-1])


def settle(server, targets, timeout=20.0):
    """Waits until the server has recorded every connection, or its counts stop moving. Returns the
    counts and when they last grew."""
    deadline = time.monotonic() + timeout
    last, last_growth = server.counts(), time.monotonic()
    while time.monotonic() < deadline:
        counts = server.counts()
        if counts != last:
            last, last_growth = counts, time.monotonic()
        if all(counts[label] >= targets[label] for label in counts if server.counters[label].exists()):
            break
        if time.monotonic() - last_growth > 2.0:
            break
        time.sleep(0.01)
    return last, last_growth


def machine_busy_seconds():
    with open("/proc/stat") as stream:
        ticks = [int(x) for x in stream.readline().split()[1:]]
    idle = ticks[3] + ticks[4]  # idle and iowait
    return (sum(ticks[:8]) - idle) / TICKS


def children_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def measure(server, ports, loadgen, args, stall=None):
    before_counts = server.counts()
    if server.half_open:
        server.half_open.update()
    before_cpu = server.cpu_seconds()
    before_machine, before_loadgen = machine_busy_seconds(), children_cpu_seconds()
    started = time.monotonic()
    peak_reset = server.reset_peak_rss()
    if stall:
        stall.request()
    load = run_load(loadgen, ports, args)
    if not server.alive():
        tail = read_bytes(server.stderr_path)[-2000:].decode(errors="replace")
        sys.exit(f"{server.name} ended during the load (exit {server.process.returncode}):\n{tail}")
    load_done = time.monotonic()
    after_counts, last_growth = settle(server, {label: before_counts[label] + load["made"] for label in before_counts})
    # A server may record a connection after it has dropped it, so the rate runs to the last record.
    load["record_elapsed_s"] = load["elapsed_s"] + max(0.0, last_growth - load_done)
    figures = {
        "load": load,
        "recorded": {label: after_counts[label] - before_counts[label] for label in after_counts},
        "log_exists": {label: server.counters[label].exists() for label in after_counts},
        "cpu_s": server.cpu_seconds() - before_cpu,
        # The load generator is the only child that ends during the load.
        "loadgen_cpu_s": children_cpu_seconds() - before_loadgen,
        "machine_cpu_s": machine_busy_seconds() - before_machine,
        "wall_s": time.monotonic() - started,
        "peak_rss_mb": server.status_kb("VmHWM") / 1024,
        "peak_is_per_load": peak_reset,
        "alive": server.alive(),
    }
    if stall:
        figures["stall"] = stall.request()
    if server.half_open:
        # A SYN waits a second for its connection, and a folded one a second more for its summary.
        before_doubles = server.half_open.count
        time.sleep(2.5)
        figures["half_open"] = server.half_open.update() - before_doubles
    return figures


def ratio(mine, theirs):
    return f"{mine / theirs:.2f}" if theirs else "-"


def s_rate_of(figures):
    return figures["recorded"]["status lines"] / max(1e-9, figures["load"]["record_elapsed_s"])


def print_load(title, sentrel, reference):
    s_load, r_load = sentrel["load"], reference["load"]
    print(f"\n== {title}")
    rows = [("connections made", s_load["made"], r_load["made"], None),
            ("connections failed / unclosed", f'{s_load["failed"]} / {s_load["unclosed"]}',
             f'{r_load["failed"]} / {r_load["unclosed"]}', None)]
    # The reference keeps one record file; its figure stands beside Sentrel's first record only.
    r_recorded = reference["recorded"]["file"]
    for position, (label, count) in enumerate(sentrel["recorded"].items()):
        shown = count if sentrel["log_exists"][label] else "n/a (no file)"
        rows.append((f"intrusions recorded ({label})", shown, r_recorded if position == 0 else "-", None))
    for position, (label, count) in enumerate(sentrel["recorded"].items()):
        if sentrel["log_exists"][label]:
            loss = s_load["made"] - count
            r_loss = r_load["made"] - r_recorded if position == 0 else "-"
            rows.append((f"loss ({label})", f"{loss} ({100 * loss / max(1, s_load['made']):.3f}%)", r_loss,
                         f"target {TARGET_LOSS}"))
    s_load_cpu, r_load_cpu = sentrel["loadgen_cpu_s"], reference["loadgen_cpu_s"]
    s_other = max(0.0, sentrel["machine_cpu_s"] - sentrel["cpu_s"] - s_load_cpu)
    r_other = max(0.0, reference["machine_cpu_s"] - reference["cpu_s"] - r_load_cpu)
    s_rate = sentrel["recorded"]["status lines"] / max(1e-9, s_load["record_elapsed_s"])
    r_rate = reference["recorded"]["file"] / max(1e-9, r_load["record_elapsed_s"])
    rows += [
        ("intrusions per second", f"{s_rate:.0f}", f"{r_rate:.0f}", ratio(s_rate, r_rate)),
        ("  also reported as half-open", sentrel["half_open"] if "half_open" in sentrel
         else "n/a (no packet watch)", "-", "target 0"),
        ("latency p50 ms", f'{s_load["p50_ms"]:.2f}', f'{r_load["p50_ms"]:.2f}', ratio(s_load["p50_ms"], r_load["p50_ms"])),
        ("latency p99 ms", f'{s_load["p99_ms"]:.2f}', f'{r_load["p99_ms"]:.2f}', ratio(s_load["p99_ms"], r_load["p99_ms"])),
        ("latency max ms", f'{s_load["max_ms"]:.2f}', f'{r_load["max_ms"]:.2f}', None),
        ("CPU seconds", f'{sentrel["cpu_s"]:.2f}', f'{reference["cpu_s"]:.2f}', ratio(sentrel["cpu_s"], reference["cpu_s"])),
        ("load generator CPU seconds", f'{s_load_cpu:.2f}', f'{r_load_cpu:.2f}', None),
        # What neither server nor the load generator used is other work on the machine: noise.
        ("other CPU seconds on the machine", f'{s_other:.2f}', f'{r_other:.2f}', None),
        ("peak RSS MB" + (" (this load)" if sentrel["peak_is_per_load"] else " (since start)"),
         f'{sentrel["peak_rss_mb"]:.1f}', f'{reference["peak_rss_mb"]:.1f}',
         ratio(sentrel["peak_rss_mb"], reference["peak_rss_mb"])),
    ]
    if sentrel.get("stall"):
        stall = sentrel["stall"]
        rows.append(("event-loop stall max / p99 ms", f'{stall["max_ms"]:.1f} / {stall["p99_ms"]:.1f}', "-",
                     f"target <= {TARGET_STALL_MS}"))
        # Running time near the whole gap means the loop itself was busy; run-queue time means other
        # processes had the CPUs; what is left of the gap was spent blocked in a system call.
        gap = stall["max_ms"] + PROBE_INTERVAL_MS
        rows.append(("  worst gap: running / waiting CPU",
                     f'{stall["gap_cpu_ms"]:.1f} / {stall["gap_runqueue_ms"]:.1f}', "-", f"of {gap:.1f} ms"))
    print(f'  {"":32}{"Sentrel":>20}{"reference":>14}   ratio / target')
    for name, mine, theirs, note in rows:
        print(f"  {name:32}{str(mine):>20}{str(theirs):>14}   {note or ''}")
    if not sentrel["alive"] or not reference["alive"]:
        print("  !! a server died during this load")
    return s_rate / r_rate if r_rate else 0



class Display:
    """A private X display with a tray host, for the modes that show the window."""

    def __init__(self, folder):
        self.processes = []
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                stderr=open(os.path.join(folder, "xvfb.err"), "wb"))
        os.close(write_end)
        self.processes.append(xvfb)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number.decode().strip()
        env = dict(os.environ, DISPLAY=self.name)
        # The tray host: without one the program has no tray icon to flash.
        self.processes.append(subprocess.Popen(["trayer", "--edge", "bottom", "--align", "right", "--widthtype",
                                                "request", "--height", "24"], env=env,
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        time.sleep(0.5)

    def stop(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


class FifoReader:
    """Reads a FIFO the way a chat client reads its command pipe, so the chat command has a taker."""

    def __init__(self, path):
        os.mkfifo(path)
        self.path = path
        self.lines = 0
        self.stopping = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stopping:
            with open(self.path, "rb") as stream:  # waits for a writer
                for chunk in iter(lambda: stream.read(65536), b""):
                    self.lines += chunk.count(b"\n")

    def stop(self):
        self.stopping = True
        try:  # wakes the reader if it waits for a writer
            descriptor = os.open(self.path, os.O_WRONLY | os.O_NONBLOCK)
            os.close(descriptor)
        except OSError:
            pass


def fake_tools(folder):
    """Stand-ins for the sound player, the wallpaper tool and the attack program: each starts, does
    nothing and ends, so the program pays for starting them and nothing else."""
    tools = os.path.join(folder, "tools")
    os.makedirs(tools)
    for name in ("paplay", "aplay", "feh", "attack"):
        path = os.path.join(tools, name)
        with open(path, "w") as stream:
            stream.write("#!/bin/sh\nexit 0\n")
        os.chmod(path, 0o755)
    return tools


WINDOW_SETTINGS = {
    "%General": {"Hide%20Monitor": "0"},
    "Display": {"Min%20On%20Startup": "0", "Use%20IconTray": "1", "Flash%20Icon": "1",
                "Auto%20Scroll%20Monitor": "1", "Use%20Hotkeys": "0"},
}

# What each mode measures. Every mode runs its own Sentrel with its own folders; the reference
# server runs every load beside it.
SCAN = ("scan: 1,200 connections, 12 ports x 100, concurrency 1", ["--mode", "scan", "--repeat", "100"])
BURST = ("burst: 20,000 connections at concurrency 200",
         ["--mode", "burst", "--count", "20000", "--concurrency", "200"])
SUSTAINED = ("sustained: 10 s at concurrency 50", ["--mode", "sustained", "--duration", "10", "--concurrency", "50"])
MEMORY = ("burst: 100,000 connections at concurrency 200 (the memory run)",
          ["--mode", "burst", "--count", "100000", "--concurrency", "200"])

MODES = [
    {"name": "headless", "title": "headless (offscreen, status lines on standard output)", "display": False,
     "settings": {}, "loads": [SCAN, BURST, SUSTAINED, MEMORY], "idle": False},
    {"name": "window", "title": "window shown (Xvfb, tray host, flashing and auto-scroll on)", "display": True,
     "settings": WINDOW_SETTINGS, "loads": [SCAN, BURST, SUSTAINED], "idle": True},
    {"name": "actions", "title": "every alert action on (window shown, fake sound player, wallpaper tool and "
                                 "attack program, FIFO chat reader)", "display": True,
     "settings": "actions", "loads": [SCAN, SUSTAINED], "idle": False},
]


# The event outputs compared with themselves in the same run: all off, then all on. The event log
# is allowed to grow large enough that it never rotates under the counter's feet.
OUTPUTS_OFF = {"Events": {"Event%20Log": "0", "Syslog": "0", "Collector": ""}}
OUTPUTS_MODES = [
    {"name": "outputs-off", "title": "event outputs all off (headless)", "display": False,
     "settings": OUTPUTS_OFF, "loads": [SCAN, SUSTAINED], "idle": False},
    {"name": "outputs-on", "title": "event outputs all on (headless; events.jsonl, syslog, rsyslogd over TCP)",
     "display": False, "settings": "outputs", "loads": [SCAN, SUSTAINED], "idle": False},
]
MODES += OUTPUTS_MODES

# The history store compared with itself in the same run: "Keep History" off, then on (its writer
# on its own thread, every intrusion handed to it). Both leave the event outputs as they are.
HISTORY_MODES = [
    {"name": "history-off", "title": "history off (headless, Keep History 0)", "display": False,
     "settings": {"History": {"Keep%20History": "0"}}, "loads": [SUSTAINED], "idle": False},
    {"name": "history-on", "title": "history on (headless, Keep History 1)", "display": False,
     "settings": {"History": {"Keep%20History": "1"}}, "loads": [SUSTAINED], "idle": False},
]
MODES += HISTORY_MODES
TARGET_HISTORY_RATIO = 0.95
# The record format compared with itself in the same run: every output on, the program's own
# fields and the Elastic Common Schema, in the order ecs, sentrel, sentrel, ecs so that a machine
# that gets busier during the run favours neither, and the first turn's slower start (seen in
# every run) counts against ecs, not for it (`--modes format` runs only these).
FORMAT_MODES = [
    {"name": f"format-{record_format}-{turn}", "title": f"event outputs all on, Event Format {record_format} "
                                                      f"(headless, turn {turn})",
     "display": False, "settings": "outputs", "format": record_format, "loads": [SUSTAINED], "idle": False}
    for turn, record_format in ((1, "ecs"), (1, "sentrel"), (2, "sentrel"), (2, "ecs"))
]
MODES += FORMAT_MODES
TARGET_FORMAT_RATIO = 0.95

# One alarm per scan with desktop notifications, against a fake notification server on a private
# session bus: every connection of a burst from one source is still recorded, and the incident
# costs the desktop a handful of notifications.
ALARM_MODE = {"name": "alarm", "title": "one alarm per scan and desktop notifications (headless, fake "
                                        "notification server on a private bus)", "display": False,
              "settings": "alarm", "loads": [BURST], "idle": False}
MODES.append(ALARM_MODE)
TARGET_NOTIFICATIONS = 10


class NotificationServer:
    """A private session bus that activates nothing, with the fake notification server on it."""

    def __init__(self, folder, notifier):
        os.makedirs(folder)
        config = os.path.join(folder, "bus.conf")
        with open(config, "w") as stream:
            stream.write('<busconfig><type>session</type><listen>unix:dir=' + folder + '</listen>'
                         '<auth>EXTERNAL</auth><policy context="default"><allow send_destination="*" eavesdrop="true"/>'
                         '<allow eavesdrop="true"/>'
                         '<allow own="*"/></policy></busconfig>\n')
        self.bus = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"],
                                    stdout=subprocess.PIPE)
        self.address = self.bus.stdout.readline().decode().strip()
        self.calls = os.path.join(folder, "notify-calls.txt")
        self.server = subprocess.Popen([notifier, self.calls], stdout=subprocess.PIPE,
                                       env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address))
        if self.server.stdout.readline().strip() != b"ready":
            raise RuntimeError("the fake notification server did not start")

    def count(self):
        return read_bytes(self.calls).count(b"\n") if os.path.exists(self.calls) else 0

    def stop(self):
        for process in (self.server, self.bus):
            process.terminate()
            process.wait(5)
TARGET_OUTPUTS_RATIO = 0.9
COLLECTOR_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support",
                                "loopback-rsyslogd.sh")


class Collector:
    """A private rsyslogd on loopback that writes every message it receives to messages.jsonl."""

    def __init__(self, folder, avoid):
        self.folder = folder
        os.makedirs(folder)
        self.tcp_port, udp_port = free_ports(2, avoid=avoid)
        subprocess.run([COLLECTOR_SCRIPT, "start", folder, str(self.tcp_port), str(udp_port)], check=True)
        self.messages = os.path.join(folder, "messages.jsonl")

    def stop(self):
        subprocess.run([COLLECTOR_SCRIPT, "stop", self.folder], check=False)


def outputs_settings(collector, record_format="sentrel"):
    return {"Events": {"Event%20Log": "1", "Event%20Log%20Size": "2000", "Syslog": "1",
                       "Collector": f"127.0.0.1:{collector.tcp_port}", "Collector%20Protocol": "tcp",
                       "Event%20Format": record_format}}


def actions_settings(tools, fifo):
    settings = {name: dict(values) for name, values in WINDOW_SETTINGS.items()}
    settings["Sounds"] = {"On": "True"}
    settings["Display"].update({"Change%20Background": "1", "Attack%20Run": "1",
                                "Attack%20Run%20File": os.path.join(tools, "attack"), "Copy%20Clipboard": "1"})
    settings["Advance"] = {"DDE%20On": "1", "DDE%20Service": "fifo:" + fifo}
    return settings


def start_sentrel(mode, probe, base_env, folder, ports, display, wrapper=(), start_timeout=30):
    """Starts one Sentrel for a mode in its own folders (under wrapper, a command such as valgrind,
    when given) and waits until it listens."""
    home = os.path.join(folder, mode["name"])
    for name in ("config", "data", "runtime"):
        os.makedirs(os.path.join(home, name), mode=0o700)
    env = dict(base_env, XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_RUNTIME_DIR=os.path.join(home, "runtime"))
    command = [probe]
    extras = []
    settings = mode["settings"]
    if display:
        env["DISPLAY"] = display.name
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("XDG_CURRENT_DESKTOP", None)  # the wallpaper goes through the plain tool
        command.append("--mirror")  # the status lines are counted on standard output
    if settings == "actions":
        tools = fake_tools(home)
        env["PATH"] = tools + os.pathsep + env.get("PATH", "")
        reader = FifoReader(os.path.join(home, "chat.fifo"))
        extras.append(reader)
        settings = actions_settings(tools, reader.path)
    records = {}
    if settings == "alarm":
        notifications = NotificationServer(os.path.join(home, "bus"), mode["notifier"])
        extras.append(notifications)
        env["DBUS_SESSION_BUS_ADDRESS"] = notifications.address
        settings = {"Alarm": {"One%20Alarm%20Per%20Scan": "1", "Notifications": "1"}}
    if settings == "outputs":
        collector = Collector(os.path.join(home, "collector"), avoid=set(ports))
        extras.append(collector)
        settings = outputs_settings(collector, mode.get("format", "sentrel"))
        records = {
            "events.jsonl": (os.path.join(home, "data", "Sentrel", "events.jsonl"),
                             lambda line: b'"event":"intrusion"' in line or b'"action":"intrusion"' in line),
            "collector": (collector.messages, lambda line: b'"msgid":"intrusion"' in line),
        }
    first_start(command, env, home)
    write_settings(os.path.join(home, "config", "Sentrel II.ini"), ports, settings)
    log_path = os.path.join(home, "data", "Sentrel", "Log.txt")
    started = time.monotonic()
    sentrel = Server("sentrel-" + mode["name"], list(wrapper) + command, env, folder, {
        "status lines": (os.path.join(folder, "sentrel-" + mode["name"] + ".out"),
                         lambda line: line == STATUS_INTRUSION),
        "Log.txt": (log_path, lambda line: line.startswith(LOG_INTRUSION)),
        **records,
    })
    sentrel.extras = extras
    sentrel.half_open = LineCounter(sentrel.stdout_path, half_open_reports)
    # The start-up figure: from starting the process to "Ready." on its standard output.
    while b"Ready." not in read_bytes(sentrel.stdout_path) and sentrel.alive() \
            and time.monotonic() - started < start_timeout:
        time.sleep(0.002)
    sentrel.ready_ms = 1000 * (time.monotonic() - started)
    wait_for(lambda: read_bytes(sentrel.stdout_path).count(b"Monitoring Port: ") >= PORT_COUNT
             or not sentrel.alive(), start_timeout, f"Sentrel ({mode['name']}) to open its ports")
    if b"Stealth scan watch" in read_bytes(sentrel.stdout_path):
        sentrel.half_open = None  # no packet watch (not root, or no helper): nothing to double
    if not sentrel.alive():
        sys.exit("Sentrel ended at start:\n" + read_bytes(sentrel.stderr_path).decode(errors="replace"))
    return sentrel


def measure_idle(server, seconds=10.0):
    """CPU share of one core while nothing connects, with the stall probe's timer stopped."""
    server.process.send_signal(signal.SIGUSR2)
    time.sleep(2.0)  # lets the last batch of lines and the flashing settle
    before, started = server.cpu_seconds(), time.monotonic()
    time.sleep(seconds)
    return (server.cpu_seconds() - before) / (time.monotonic() - started)


TARGETS = {  # mode: (sustained ratio, scan ratio)
    "headless": (0.8, 0.5),
    "window": (0.8, 0.5),
    "actions": (0.6, None),
    "outputs-off": (0.8, 0.5),
    "outputs-on": (0.8, 0.5),
    **{m["name"]: (None, None) for m in FORMAT_MODES},
    "alarm": (None, None),
    "history-off": (0.8, None),
    "history-on": (0.8, None),
}
TARGET_IDLE = 0.005


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("--modes", default=",".join(m["name"] for m in MODES),
                        help="comma-separated modes to run (default: all; outputs: outputs-off,outputs-on; "
                             "history: history-off,history-on; "
                             "format: the four turns of format-sentrel and format-ecs)")
    options = parser.parse_args()
    tools = os.path.join(options.build, "bench")
    probe, loadgen, refserver = (os.path.abspath(os.path.join(tools, name))
                                 for name in ("sentrel-probe", "sentrel-loadgen", "sentrel-refserver"))
    ALARM_MODE["notifier"] = os.path.abspath(os.path.join(tools, "sentrel-fakenotifier"))
    wanted = options.modes.split(",")
    if "outputs" in wanted:
        wanted += [m["name"] for m in OUTPUTS_MODES]
    if "history" in wanted:
        wanted += [m["name"] for m in HISTORY_MODES]
    if "format" in wanted:
        wanted += [m["name"] for m in FORMAT_MODES]
    outputs_rates = {}

    folder = tempfile.mkdtemp(prefix="sentrel-bench-")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["QT_QPA_PLATFORM"] = "offscreen"
    sentrel_ports = free_ports(PORT_COUNT)
    reference_ports = free_ports(PORT_COUNT, avoid=set(sentrel_ports))

    servers, display = [], None
    verdicts, summary = [], {}
    worst_loss = 0
    noise_cpu = noise_wall = 0.0
    try:
        record_file = os.path.join(folder, "reference-records.txt")
        reference = Server("reference", [refserver, "--ports", ",".join(map(str, reference_ports)),
                                         "--out", record_file], env, folder, {"file": (record_file, lambda line: True)})
        servers.append(reference)
        commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True).stdout.strip()
        print(f"Sentrel benchmark  {time.strftime('%Y-%m-%d %H:%M:%S')}  commit {commit}  {os.cpu_count()} cores")
        print(f"Sentrel ports: {sentrel_ports}   reference server ports: {reference_ports}")
        print(f"temporary folder: {folder}")
        print(f"load average (1 min) at start: {read_bytes('/proc/loadavg').split()[0].decode()}")

        for mode in MODES:
            if mode["name"] not in wanted:
                continue
            if mode["display"] and display is None:
                try:
                    display = Display(folder)
                except (RuntimeError, FileNotFoundError) as error:
                    print(f"\n## {mode['title']}: skipped, no X display ({error})")
                    continue
            print(f"\n## {mode['title']}")
            sentrel = start_sentrel(mode, probe, env, folder, sentrel_ports, display if mode["display"] else None)
            servers.append(sentrel)
            stall = StallProbe(sentrel)
            peak_mb = 0.0
            for index, (title, args) in enumerate(mode["loads"]):
                # The order flips from load to load, so neither server always runs on a warmer machine.
                if index % 2 == 0:
                    r = measure(reference, reference_ports, loadgen, args)
                    s = measure(sentrel, sentrel_ports, loadgen, args, stall)
                else:
                    s = measure(sentrel, sentrel_ports, loadgen, args, stall)
                    r = measure(reference, reference_ports, loadgen, args)
                rate_ratio = print_load(f"{mode['name']}: {title}", s, r)
                for figures in (s, r):
                    noise_cpu += max(0.0, figures["machine_cpu_s"] - figures["cpu_s"] - figures["loadgen_cpu_s"])
                    noise_wall += figures["wall_s"]
                counted = [n for label, n in s["recorded"].items() if s["log_exists"][label]]
                # A connection that never completed or was never dropped is missed as surely as one
                # that was dropped without a record.
                missed = s["load"]["failed"] + s["load"]["unclosed"]
                worst_loss = max([worst_loss] + [s["load"]["made"] - n + missed for n in counted])
                # Each load starts its peak from the RSS it found, so the largest of them is the run's.
                peak_mb = max(peak_mb, s["peak_rss_mb"])
                per_intrusion_us = 1e6 * s["cpu_s"] / max(1, s["recorded"]["status lines"])
                ref_per_us = 1e6 * r["cpu_s"] / max(1, r["recorded"]["file"])
                kind = title.split(":")[0]
                if mode in OUTPUTS_MODES or mode in HISTORY_MODES:
                    outputs_rates[(mode["name"], kind)] = s_rate_of(s)
                summary.setdefault(kind, {})[mode["name"]] = (rate_ratio, per_intrusion_us, ref_per_us,
                                                             s["stall"]["max_ms"])
                sustained_target, scan_target = TARGETS[mode["name"]]
                if kind == "sustained" and sustained_target:
                    verdicts.append((f"{mode['name']}: sustained rate >= {sustained_target} x reference",
                                     f"{rate_ratio:.2f} x", rate_ratio >= sustained_target))
                if kind == "scan" and scan_target:
                    verdicts.append((f"{mode['name']}: scan rate >= {scan_target} x reference",
                                     f"{rate_ratio:.2f} x", rate_ratio >= scan_target))
                if kind in ("burst", "sustained") and "half_open" in s:
                    verdicts.append((f"{mode['name']}: {kind}: connections also reported as half-open = 0",
                                     str(s["half_open"]), s["half_open"] == 0))
                if kind == "burst":
                    verdicts.append((f"{mode['name']}: event-loop stall < {TARGET_STALL_MS} ms "
                                     f"({title.split(' at')[0]})",
                                     f'{s["stall"]["max_ms"]:.1f} ms', s["stall"]["max_ms"] < TARGET_STALL_MS))
            if MEMORY in mode["loads"]:
                total = sentrel.counts()["status lines"]
                print(f"\n== {mode['name']}: \"Ready.\" {sentrel.ready_ms:.0f} ms after start, "
                      f"peak RSS {peak_mb:.1f} MB after {total} intrusions")
                verdicts.append((f"{mode['name']}: peak RSS <= {TARGET_RSS_MB} MB after 100,000 intrusions",
                                 f"{peak_mb:.1f} MB after {total}", peak_mb <= TARGET_RSS_MB))
            if mode["idle"]:
                idle = measure_idle(sentrel)
                print(f"\n== {mode['name']}: idle, window shown, auto-scroll on: {100 * idle:.2f}% of a core")
                verdicts.append((f"{mode['name']}: idle CPU < {100 * TARGET_IDLE:.1f}% of a core",
                                 f"{100 * idle:.2f}%", idle < TARGET_IDLE))
            if mode is ALARM_MODE:
                time.sleep(1.0)  # the last coalesced update
                sent = sentrel.extras[0].count()
                print(f"\n== {mode['name']}: {sent} notification calls for the 20,000-connection burst "
                      f"from one source")
                verdicts.append((f"alarm: notifications for one source's burst <= {TARGET_NOTIFICATIONS}",
                                 str(sent), 1 <= sent <= TARGET_NOTIFICATIONS))
            if not sentrel.counters["Log.txt"].exists():
                print("  note: no Log.txt was written, so only the status lines were counted")
            sentrel.stop()
            for extra in sentrel.extras:
                extra.stop()

        for kind in ("scan", "sustained"):
            off, on = outputs_rates.get(("outputs-off", kind)), outputs_rates.get(("outputs-on", kind))
            if off and on:
                print(f"\n== event outputs, {kind}: {on:.0f}/s all on, {off:.0f}/s all off ({on / off:.2f} x)")
                if kind == "sustained":
                    verdicts.append((f"outputs: sustained rate all on >= {TARGET_OUTPUTS_RATIO} x all off",
                                     f"{on / off:.2f} x", on / off >= TARGET_OUTPUTS_RATIO))
        off, on = outputs_rates.get(("history-off", "sustained")), outputs_rates.get(("history-on", "sustained"))
        if off and on:
            print(f"\n== history, sustained: {on:.0f}/s on, {off:.0f}/s off ({on / off:.2f} x)")
            verdicts.append((f"history: sustained rate on >= {TARGET_HISTORY_RATIO} x off", f"{on / off:.2f} x",
                             on / off >= TARGET_HISTORY_RATIO))
        # Each turn's sustained rate as a share of the reference server's measured beside it (other
        # work on a shared machine moves both alike), and its CPU per intrusion, by format.
        by_format = {}
        for m in FORMAT_MODES:
            if m["name"] in summary.get("sustained", {}):
                share, cpu_us = summary["sustained"][m["name"]][:2]
                by_format.setdefault(m["format"], []).append((share, cpu_us))
        if len(by_format.get("sentrel", [])) == len(by_format.get("ecs", [])) == 2:
            share, cpu = ({f: sum(t[i] for t in turns) / len(turns) for f, turns in by_format.items()} for i in (0, 1))
            ratio = share["ecs"] / share["sentrel"]
            print(f"\n== Event Format, sustained: ecs {share['ecs']:.2f} and sentrel {share['sentrel']:.2f} of the "
                  f"reference ({ratio:.2f} x); CPU per intrusion ecs {cpu['ecs']:.1f} us, sentrel "
                  f"{cpu['sentrel']:.1f} us")
            verdicts.append((f"format: sustained rate ecs >= {TARGET_FORMAT_RATIO} x sentrel", f"{ratio:.2f} x",
                             ratio >= TARGET_FORMAT_RATIO))
        verdicts.insert(0, ("zero loss in every load (failed and unclosed included)", f"worst {worst_loss}",
                            worst_loss <= TARGET_LOSS))
        print(f"\nload average (1 min) at the end: {read_bytes('/proc/loadavg').split()[0].decode()}")
        print("\n== summary: rate as a share of the reference server's (CPU microseconds per intrusion)")
        names = [m["name"] for m in MODES if m["name"] in wanted]
        print(f"  {'load':12}{'reference':>16}" + "".join(f"{name:>22}" for name in names))
        for kind, by_mode in summary.items():
            ref_us = next(iter(by_mode.values()))[2]
            cells = "".join(f"{by_mode[n][0]:>10.2f} ({by_mode[n][1]:5.1f} us)" if n in by_mode else f"{'-':>22}"
                            for n in names)
            print(f"  {kind:12}{'1.00':>7} ({ref_us:5.1f} us)" + cells)
        print("\n== targets")
        for name, figure, passed in verdicts:
            print(f"  {'PASS' if passed else 'FAIL'}  {name:62} {figure}")
        busy = noise_cpu / max(1e-9, noise_wall * os.cpu_count())
        print(f"  other work on the machine took {100 * busy:.0f}% of its CPUs during the loads"
              + (": the figures are noisy, run again on a quiet machine" if busy > 0.15 else ""))
    finally:
        for server in servers:
            server.stop()
            for extra in getattr(server, "extras", []):
                extra.stop()
        if display:
            display.stop()
        if options.keep:
            print(f"kept {folder}")
        else:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
