#!/usr/bin/env python3
"""Counts the instructions Sentrel spends per intrusion, under callgrind: instructions do not
depend on how busy the machine is, so two builds can be compared on a noisy machine.

    bench/instructions.py --build build-bench [--mode headless|window] [--count 3000] [--top 25]

Starts the stall-probe build of the program under valgrind, lets it open its ports, zeroes the
counters, runs a scan of --count connections at concurrency 1, waits until every one is recorded,
dumps the counters and prints instructions per intrusion and the costliest functions (inclusive).

    bench/instructions.py --build build-bench --syscalls [--count 3000]

counts instead the system calls per intrusion of the same scan, by kind, with strace attached to
the running program (at full speed, so a pass of the event loop may serve more than one).

    sudo unshare --net bench/instructions.py --build build-bench --flood 30000

counts instead the instructions per packet of a SYN flood from random forged sources that the packet
watch reads (hping3, 5,000 packets a second, the destination port counting up across the guarded
ports), in the private network namespace unshare makes; it needs root, for the watch and hping3."""

import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_servers as bench  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--mode", default="headless", choices=[m["name"] for m in bench.MODES])
    parser.add_argument("--count", type=int, default=3000)
    parser.add_argument("--top", type=int, default=25)
    parser.add_argument("--flood", type=int, default=0, metavar="PACKETS")
    parser.add_argument("--syscalls", action="store_true")
    parser.add_argument("--keep", action="store_true")
    options = parser.parse_args()
    tools = os.path.abspath(os.path.join(options.build, "bench"))
    probe, loadgen = os.path.join(tools, "sentrel-probe"), os.path.join(tools, "sentrel-loadgen")
    mode = next(m for m in bench.MODES if m["name"] == options.mode)

    folder = tempfile.mkdtemp(prefix="sentrel-callgrind-")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["QT_QPA_PLATFORM"] = "offscreen"
    if options.flood:
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    ports = bench.free_ports(bench.PORT_COUNT)
    out_file = os.path.join(folder, "callgrind.out")
    display = bench.Display(folder) if mode["display"] else None
    sentrel = None
    try:
        if options.syscalls:
            sentrel = bench.start_sentrel(dict(mode, name="profiled"), probe, env, folder, ports, display)
            count_syscalls(sentrel, loadgen, ports, options.count, os.path.join(folder, "strace.txt"))
            return
        valgrind = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out_file}", "--dump-instr=no"]
        sentrel = bench.start_sentrel(dict(mode, name="profiled"), probe, env, folder, ports, display,
                                      wrapper=valgrind, start_timeout=120)
        subprocess.run(["callgrind_control", "-z", str(sentrel.process.pid)], check=True, capture_output=True)
        if options.flood:
            made = recorded = flood(options.flood, min(ports) - 6)
            time.sleep(2.0)  # the last batches read
        else:
            before = sentrel.counts()["status lines"]
            repeat = max(1, options.count // len(ports))
            bench.run_load(loadgen, ports, ["--mode", "scan", "--repeat", str(repeat)])
            made = repeat * len(ports)
            deadline = time.monotonic() + 300
            while sentrel.counts()["status lines"] - before < made and time.monotonic() < deadline:
                time.sleep(0.2)
            recorded = sentrel.counts()["status lines"] - before
        subprocess.run(["callgrind_control", "-d", str(sentrel.process.pid)], check=True, capture_output=True)
        time.sleep(1.0)
        dumps = sorted(glob.glob(out_file + ".*"), key=os.path.getmtime)
        if not dumps:
            sys.exit("callgrind wrote no dump")
        dump = dumps[-1]
        with open(dump) as stream:
            totals = [int(m[1]) for m in re.finditer(r"^(?:summary|totals): (\d+)", stream.read(), re.M)]
        total = totals[-1]
        annotate = subprocess.run(["callgrind_annotate", "--inclusive=yes", f"--threshold=99", dump],
                                  capture_output=True, text=True).stdout
        lines = [line for line in annotate.splitlines() if re.match(r"^\s*[\d,]+ \(", line)]
        if options.flood:
            reading = next((int(line.split()[0].replace(",", "")) for line in lines
                            if "PacketWatch::readBatches" in line), 0)
            print(f"mode {options.mode}: {made} flood packets sent, {total:,} instructions, "
                  f"{total / max(1, made):,.0f} per packet ({reading / max(1, made):,.0f} in the packet watch's "
                  f"reading and what it calls)")
        else:
            print(f"mode {options.mode}: {recorded} of {made} intrusions recorded, {total:,} instructions, "
                  f"{total / max(1, recorded):,.0f} per intrusion")
        for line in lines[:options.top]:
            print("  " + line[:160])
    finally:
        if sentrel:
            sentrel.stop()
        if display:
            display.stop()
        if options.keep:
            print(f"kept {folder}")
        else:
            shutil.rmtree(folder, ignore_errors=True)


def count_syscalls(sentrel, loadgen, ports, count, out_file):
    """Runs the scan with strace counting the program's system calls, and prints them per intrusion."""
    strace = subprocess.Popen(["strace", "-c", "-f", "-o", out_file, "-p", str(sentrel.process.pid)],
                              stderr=subprocess.DEVNULL)
    time.sleep(1.0)  # attached to every thread
    before = sentrel.counts()["status lines"]
    repeat = max(1, count // len(ports))
    bench.run_load(loadgen, ports, ["--mode", "scan", "--repeat", str(repeat)])
    made = repeat * len(ports)
    deadline = time.monotonic() + 60
    while sentrel.counts()["status lines"] - before < made and time.monotonic() < deadline:
        time.sleep(0.2)
    time.sleep(0.5)  # the last pass's writes
    recorded = sentrel.counts()["status lines"] - before
    strace.send_signal(signal.SIGINT)
    strace.wait(10)
    rows = [line.split() for line in open(out_file) if re.match(r"^\s*[\d.]+\s+[\d.]+\s+\d+\s+\d+", line)]
    calls = {row[-1]: int(row[3]) for row in rows if row[-1] != "total"}
    total = sum(calls.values())
    print(f"{recorded} of {made} intrusions recorded, {total} system calls, {total / max(1, recorded):.2f} per "
          f"intrusion: " + ", ".join(f"{name} {n / max(1, recorded):.2f}"
                                    for name, n in sorted(calls.items(), key=lambda item: -item[1])))


def flood(packets, first_port):
    """Sends the SYN flood at a pace callgrind keeps up with; returns how many packets went out."""
    out = subprocess.run(["hping3", "-q", "-S", "--rand-source", "-i", "u200", "-c", str(packets),
                          "-p", f"++{first_port}", "127.0.0.1"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         text=True).stdout
    return int(out.split(" packets transmitted")[0].split()[-1]) if "packets transmitted" in out else 0


if __name__ == "__main__":
    main()
