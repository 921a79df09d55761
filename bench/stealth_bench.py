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
FLOOD_SECONDS = 10
CONNECT = b'"detection":"connect"'


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


def connect_load(sentrel, ports, loadgen, events_path, flood_ports=None):
    """The sustained connect load, under a flood when flood_ports is given: the recorded connection
    rate, the loss, and the flood's packets and Sentrel's CPU seconds and peak RSS during it."""
    before = read_bytes(events_path).count(CONNECT)
    cpu = sentrel.cpu_seconds()
    sentrel.reset_peak_rss()
    flood = None
    if flood_ports:
        flood = subprocess.Popen(["hping3", "-q", "-S", "--flood", "--rand-source", "-p", f"++{flood_ports}",
                                  "127.0.0.1"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    load = run_load(loadgen, ports, SUSTAINED[1])
    packets = 0
    if flood:
        flood.send_signal(signal.SIGINT)
        out = flood.communicate(timeout=10)[0].decode(errors="replace")
        packets = int(out.split(" packets transmitted")[0].split()[-1]) if "packets transmitted" in out else 0
    time.sleep(2.0)  # the last records
    recorded = read_bytes(events_path).count(CONNECT) - before
    return {"rate": recorded / load["elapsed_s"], "loss": load["made"] - recorded + load["failed"] + load["unclosed"],
            "packets": packets, "cpu_s": sentrel.cpu_seconds() - cpu, "peak_rss_mb": sentrel.status_kb("VmHWM") / 1024}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build-bench")
    options = parser.parse_args()
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    tools = os.path.join(options.build, "bench")
    probe, loadgen = (os.path.abspath(os.path.join(tools, name)) for name in ("sentrel-probe", "sentrel-loadgen"))
    folder = tempfile.mkdtemp(prefix="sentrel-stealth-")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=os.path.join(folder, "config"),
               XDG_DATA_HOME=os.path.join(folder, "data"), XDG_RUNTIME_DIR=folder)
    ports = free_ports(12)
    events_path = os.path.join(folder, "data", "Sentrel", "events.jsonl")
    sentrel = None
    try:
        first_start([probe], env, folder)
        # A short gap, so the sweep's incident ends soon after it; every intrusion in one event log
        # that is never rotated, where the connections are counted.
        write_settings(os.path.join(folder, "config", "Sentrel II.ini"), ports,
                       {"Alarm": {"Scan%20Gap": "2", "One%20Alarm%20Per%20Scan": "0"},
                        "Events": {"Syslog": "0", "Event%20Log%20Size": "4000"}})
        sentrel = Server("sentrel-stealth", [probe], env, folder, {})
        wait_for(lambda: b"Ready." in read_bytes(sentrel.stdout_path) or not sentrel.alive(), 30, "Sentrel to start")
        if b"Stealth scan watch" in read_bytes(sentrel.stdout_path):
            sys.exit("the packet watch is not armed: " + read_bytes(sentrel.stdout_path).decode(errors="replace"))
        print(f"\n## stealth (packet watch armed, private network namespace, ports {ports})")
        first, share = sweep(sentrel, events_path)
        print(f"== nmap -sS -T5 -p 1-65535: first port_scan alarm {first:.2f} s after nmap started, "
              f"{100 * share:.2f}% of the swept ports counted")
        time.sleep(3.0)  # the sweep's incident over
        quiet = connect_load(sentrel, ports, loadgen, events_path)
        flooded = connect_load(sentrel, ports, loadgen, events_path, flood_ports=min(ports) - 6)
        ratio = flooded["rate"] / max(1e-9, quiet["rate"])
        per_packet_us = 1e6 * flooded["cpu_s"] / max(1, flooded["packets"])
        print(f"== sustained connect load: {quiet['rate']:.0f}/s alone, {flooded['rate']:.0f}/s under "
              f"{flooded['packets']} flood packets ({ratio:.2f} x); loss {quiet['loss']} / {flooded['loss']}; "
              f"{per_packet_us:.1f} us CPU per flood packet (connect load included); "
              f"peak RSS {flooded['peak_rss_mb']:.1f} MB")
        print("\n== targets")
        for name, figure, passed in [
                (f"sweep: share of swept ports counted >= {100 * TARGET_SWEEP_SHARE:.0f}%", f"{100 * share:.2f}%",
                 share >= TARGET_SWEEP_SHARE),
                (f"flood: connect rate >= {TARGET_FLOOD_RATIO} x without it", f"{ratio:.2f} x",
                 ratio >= TARGET_FLOOD_RATIO),
                ("flood: zero loss of connections", str(flooded["loss"]), flooded["loss"] == 0 and quiet["loss"] == 0),
                (f"flood: peak RSS < {TARGET_RSS_MB} MB", f"{flooded['peak_rss_mb']:.1f} MB",
                 flooded["peak_rss_mb"] < TARGET_RSS_MB)]:
            print(f"  {'PASS' if passed else 'FAIL'}  {name:62} {figure}")
    finally:
        if sentrel:
            sentrel.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
