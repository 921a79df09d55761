#!/usr/bin/env python3
"""The stealth mode of the benchmark: Sentrel with its packet watch, in a private network namespace
(run-bench.sh starts it there, as root), against (a) a half-open sweep of every port by nmap, and
(b) a SYN flood from random forged sources by hping3 while the sustained connect load of the other
modes runs. Prints the figures against the targets."""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from compare_servers import SUSTAINED, Server, first_start, free_ports, read_bytes, run_load, wait_for, write_settings

TARGET_SWEEP_SHARE = 0.99
TARGET_FLOOD_RATIO = 0.7
TARGET_RSS_MB = 80
TARGET_WRITTEN_KB = 1024
TARGET_PACKET_US = 1.0
FLOOD_SECONDS = 10
CONNECT = b'"detection":"connect"'


def helpers_of(pid):
    """The processes the program started and still runs (the watch helper, which reads the packets)."""
    children = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as stream:
                children += [int(c) for c in stream.read().split()]
    except OSError:
        pass
    return children


def process_cpu(pid):
    try:
        with open(f"/proc/{pid}/stat") as stream:
            fields = stream.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except OSError:
        return 0.0


def process_kb(pid, key):
    try:
        with open(f"/proc/{pid}/status") as stream:
            for line in stream:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def cpu_split(server):
    """CPU seconds of the program and of its helpers."""
    return server.cpu_seconds(), sum(process_cpu(child) for child in helpers_of(server.process.pid))


def helper_peak_mb(server):
    return sum(process_kb(child, "VmHWM") for child in helpers_of(server.process.pid)) / 1024


def written(paths):
    total = 0
    for path in paths:
        try:
            total += os.path.getsize(path)
        except OSError:
            pass
    return total


def events(path):
    try:
        return [json.loads(line) for line in read_bytes(path).splitlines() if line.strip()]
    except FileNotFoundError:
        return []


def sweep(sentrel, events_path):
    """nmap -sS -T5 over every port: seconds from its start to the first port_scan alarm, and the
    share of the swept ports the ended record counts."""
    started = time.monotonic()
    nmap = subprocess.Popen(["nmap", "-n", "-Pn", "-sS", "-T5", "-p", "1-65535", "127.0.0.1"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    first = None
    while first is None and time.monotonic() - started < 120:
        if any(e.get("event") == "port_scan" and e.get("state") == "started" for e in events(events_path)):
            first = time.monotonic() - started
        time.sleep(0.005)
    nmap.wait(timeout=600)
    wait_for(lambda: any(e.get("event") == "port_scan" and e.get("state") == "ended" for e in events(events_path)),
             60, "the sweep's port_scan to end")
    ended = [e for e in events(events_path) if e.get("event") == "port_scan" and e.get("state") == "ended"]
    return first, ended[-1]["port_count"] / 65535


class Flood:
    """hping3 sending SYNs from random forged sources as fast as it can, the destination port
    counting up from first_port, so guarded and unguarded ports both get them. niced: at nice 19,
    as if the flood came from another machine rather than from one of these two cores."""

    def __init__(self, first_port, niced):
        command = ["hping3", "-q", "-S", "--flood", "--rand-source", "-p", f"++{first_port}", "127.0.0.1"]
        self.started = time.monotonic()
        self.process = subprocess.Popen((["nice", "-n", "19"] if niced else []) + command,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def stop(self):
        """The packets sent and their rate."""
        self.process.send_signal(signal.SIGINT)
        out = self.process.communicate(timeout=10)[0].decode(errors="replace")
        elapsed = time.monotonic() - self.started
        packets = int(out.split(" packets transmitted")[0].split()[-1]) if "packets transmitted" in out else 0
        return packets, packets / elapsed


def connect_load(server, recorded_count, ports, loadgen, flood=None):
    """The sustained connect load, under a flood when flood is (first port, niced): the recorded
    connection rate, the loss, and the flood's packets and the server's CPU seconds and peak RSS
    during it."""
    before = recorded_count()
    cpu = sum(cpu_split(server))
    server.reset_peak_rss()
    running = Flood(*flood) if flood else None
    load = run_load(loadgen, ports, SUSTAINED[1])
    packets, packet_rate = running.stop() if running else (0, 0.0)
    time.sleep(2.0)  # the last records
    recorded = recorded_count() - before
    return {"rate": recorded / load["elapsed_s"], "loss": load["made"] - recorded + load["failed"] + load["unclosed"],
            "packets": packets, "packet_rate": packet_rate, "cpu_s": sum(cpu_split(server)) - cpu,
            "peak_rss_mb": server.status_kb("VmHWM") / 1024, "helper_rss_mb": helper_peak_mb(server)}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build-bench")
    options = parser.parse_args()
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    tools = os.path.join(options.build, "bench")
    probe, loadgen, refserver = (os.path.abspath(os.path.join(tools, name))
                                 for name in ("sentrel-probe", "sentrel-loadgen", "sentrel-refserver"))
    folder = tempfile.mkdtemp(prefix="sentrel-stealth-")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=os.path.join(folder, "config"),
               XDG_DATA_HOME=os.path.join(folder, "data"), XDG_RUNTIME_DIR=folder)
    ports = free_ports(12)
    reference_ports = free_ports(12, avoid=set(ports))
    events_path = os.path.join(folder, "data", "Sentrel", "events.jsonl")
    record_path = os.path.join(folder, "reference-records.txt")
    servers = []
    try:
        first_start([probe], env, folder)
        # A short gap, so the sweep's incident ends soon after it; every intrusion in one event log
        # that is never rotated, where the connections are counted.
        write_settings(os.path.join(folder, "config", "Sentrel II.ini"), ports,
                       {"Alarm": {"Scan%20Gap": "2", "One%20Alarm%20Per%20Scan": "0"},
                        "Events": {"Syslog": "0", "Event%20Log%20Size": "4000"}})
        sentrel = Server("sentrel-stealth", [probe], env, folder, {})
        servers.append(sentrel)
        wait_for(lambda: b"Ready." in read_bytes(sentrel.stdout_path) or not sentrel.alive(), 30, "Sentrel to start")
        if b"Stealth scan watch" in read_bytes(sentrel.stdout_path):
            sys.exit("the packet watch is not armed: " + read_bytes(sentrel.stdout_path).decode(errors="replace"))
        reference = Server("reference", [refserver, "--ports", ",".join(map(str, reference_ports)),
                                         "--out", record_path], env, folder, {})
        servers.append(reference)
        commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True).stdout.strip()
        print(f"\n## stealth (packet watch armed, private network namespace, commit {commit}, "
              f"load average {read_bytes('/proc/loadavg').split()[0].decode()}, Sentrel ports {ports})")
        first, share = sweep(sentrel, events_path)
        print(f"== nmap -sS -T5 -p 1-65535: first port_scan alarm {first:.2f} s after nmap started, "
              f"{100 * share:.2f}% of the swept ports counted")
        time.sleep(3.0)  # the sweep's incident over

        def count_reference():
            try:
                return read_bytes(record_path).count(b"\n")
            except FileNotFoundError:
                return 0

        runs = {"Sentrel": (sentrel, lambda: read_bytes(events_path).count(CONNECT), ports),
                "reference": (reference, count_reference, reference_ports)}
        # The flood alone: what the watch costs per packet, with nothing else to do, in the program
        # and in the helper that reads the packets for it; and what the flood writes.
        outputs = [os.path.join(folder, "data", "Sentrel", "Log.txt"), sentrel.stdout_path]
        program_cpu, helper_cpu = cpu_split(sentrel)
        bytes_before = written(outputs)
        flood = Flood(min(ports) - 6, False)
        time.sleep(FLOOD_SECONDS)
        packets, packet_rate = flood.stop()
        time.sleep(3.0)  # the last summary of folded probes
        program_after, helper_after = cpu_split(sentrel)
        per_packet = [1e6 * (after - before) / max(1, packets)
                      for before, after in ((program_cpu, program_after), (helper_cpu, helper_after))]
        flood_bytes = written(outputs) - bytes_before
        print(f"== flood alone: {packets} packets ({packet_rate:.0f}/s), CPU per packet: Sentrel "
              f"{per_packet[0]:.2f} us, its watch helper {per_packet[1]:.2f} us, together "
              f"{sum(per_packet):.2f} us; Log.txt and standard output grew by "
              f"{flood_bytes} bytes")
        figures = {}
        # The two servers take turns under each condition, the order flipping, so neither always
        # runs on a warmer machine; the load alone runs first and last, and the ratios are to the
        # mean of the two, so a machine that got busier or quieter meanwhile shows in them less.
        conditions = [("alone", None), ("flood", False), ("flood, nice 19", True), ("alone, again", None)]
        for index, (condition, niced) in enumerate(conditions):
            for name in (["reference", "Sentrel"] if index % 2 == 0 else ["Sentrel", "reference"]):
                server, count, its_ports = runs[name]
                flood = None if niced is None else (min(its_ports) - 6, niced)
                figures[name, condition] = connect_load(server, count, its_ports, loadgen, flood)
        base = {name: (figures[name, "alone"]["rate"] + figures[name, "alone, again"]["rate"]) / 2
                for name in ("reference", "Sentrel")}
        print("== sustained connect load (10 s at concurrency 50), alone and under a hping3 SYN flood from "
              "random sources; x: the rate as a share of the same server's rate alone (the mean of the two runs)")
        for condition, _ in conditions:
            for name in ("reference", "Sentrel"):
                f = figures[name, condition]
                alone = base[name]
                line = f"  {condition:15} {name:9} {f['rate']:7.0f}/s"
                if f["packets"]:
                    line += (f" ({f['rate'] / max(1e-9, alone):.2f} x) under {f['packets']} packets "
                             f"({f['packet_rate']:.0f}/s), {1e6 * f['cpu_s'] / f['packets']:.1f} us CPU per packet")
                print(f"{line}; loss {f['loss']}; peak RSS {f['peak_rss_mb']:.1f} MB")
        flooded = figures["Sentrel", "flood"]
        ratio = flooded["rate"] / max(1e-9, base["Sentrel"])
        reference_ratio = figures["reference", "flood"]["rate"] / max(1e-9, base["reference"])
        niced = figures["Sentrel", "flood, nice 19"]["rate"] / max(1e-9, base["Sentrel"])
        reference_niced = figures["reference", "flood, nice 19"]["rate"] / max(1e-9, base["reference"])
        print(f"== under the flood: reference server {reference_ratio:.2f} x, Sentrel {ratio:.2f} x "
              f"(Sentrel / reference {ratio / max(1e-9, reference_ratio):.2f}); with hping3 at nice 19: "
              f"reference {reference_niced:.2f} x, Sentrel {niced:.2f} x")
        losses = [figures["Sentrel", c]["loss"] for c, _ in conditions]
        peak = max(figures["Sentrel", c]["peak_rss_mb"] for c, _ in conditions)
        helper_peak = max(figures["Sentrel", c]["helper_rss_mb"] for c, _ in conditions)
        print(f"== peak RSS: Sentrel {peak:.1f} MB, its watch helper {helper_peak:.1f} MB")
        print("\n== targets")
        for name, figure, passed in [
                (f"sweep: share of swept ports counted >= {100 * TARGET_SWEEP_SHARE:.0f}%", f"{100 * share:.2f}%",
                 share >= TARGET_SWEEP_SHARE),
                (f"flood: connect rate >= {TARGET_FLOOD_RATIO} x without it", f"{ratio:.2f} x",
                 ratio >= TARGET_FLOOD_RATIO),
                (f"flood alone: CPU per packet, Sentrel and its helper <= {TARGET_PACKET_US} us",
                 f"{sum(per_packet):.2f} us", sum(per_packet) <= TARGET_PACKET_US),
                ("flood: zero loss of connections", str(sum(losses)), not any(losses)),
                (f"flood: peak RSS < {TARGET_RSS_MB} MB", f"{peak:.1f} MB", peak < TARGET_RSS_MB),
                (f"flood alone ({FLOOD_SECONDS} s): Log.txt and standard output grow < {TARGET_WRITTEN_KB} KB",
                 f"{flood_bytes / 1024:.0f} KB", flood_bytes < TARGET_WRITTEN_KB * 1024)]:
            print(f"  {'PASS' if passed else 'FAIL'}  {name:62} {figure}")
    finally:
        for server in servers:
            server.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
