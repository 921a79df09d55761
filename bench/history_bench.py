#!/usr/bin/env python3
"""The history's figures: a store of 1,000,000 intrusions from 50,000 sources over 30 simulated days
filled through the program's own writer (bytes per intrusion, and per probe of a folded flood), the
first page and each filter read as the window and the command line read them (milliseconds, and
instructions under callgrind, which do not depend on how busy the machine is), then the sustained
connect rate with "Keep History" 0 and 1 side by side (compare_servers.py's history modes).

    bench/history_bench.py --build build-bench [--intrusions 1000000] [--keep] [--skip-rate]
                           [--window]

--window runs, when the build has it, <build>/bench/sentrel-historywindow <store>: the window's
own step (its time to the first page and its RSS with this store against an empty one)."""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

TARGET_FILTER_MS = 100
TARGET_PAGE_MS = 300
HERE = os.path.dirname(os.path.abspath(__file__))


def callgrind_counts(tool, store, folder):
    """Instructions of each query, collected alone and dumped under its name by the bench program."""
    out = os.path.join(folder, "callgrind.out")
    subprocess.run(["valgrind", "--tool=callgrind", "--collect-atstart=no", f"--callgrind-out-file={out}",
                    tool, "query", store, "--repeat", "1"], check=True, capture_output=True)
    counts = {}
    for dump in glob.glob(out + "*"):
        with open(dump) as stream:
            text = stream.read()
        trigger = re.search(r"^desc: Trigger: Client Request: (.+)$", text, re.M)
        totals = re.findall(r"^(?:summary|totals): (\d+)", text, re.M)
        if trigger and totals:
            counts[trigger[1].strip()] = int(totals[-1])
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--intrusions", type=int, default=1000000)
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--skip-rate", action="store_true", help="leave out the sustained rate on and off")
    parser.add_argument("--window", action="store_true")
    options = parser.parse_args()
    tools = os.path.abspath(os.path.join(options.build, "bench"))
    tool = os.path.join(tools, "sentrel-historybench")
    folder = tempfile.mkdtemp(prefix="sentrel-history-bench-")
    store = os.path.join(folder, "history.sqlite")
    verdicts, rate_verdicts = [], []
    try:
        subprocess.run([tool, "fill", store, "--intrusions", str(options.intrusions)], check=True)
        result = subprocess.run([tool, "query", store, "--plans"], check=True, capture_output=True, text=True)
        print(result.stdout, end="")
        times = {}
        for line in result.stdout.splitlines():
            match = re.match(r"^(\S.*?)\s{2,}([\d.]+)\s+(\d+)\s+([\d.]+)\s+(\d+)$", line)
            if match:
                times[match[1]] = (float(match[2]), float(match[4]))
        if shutil.which("valgrind"):
            counts = callgrind_counts(tool, store, folder)
            print("\ninstructions (callgrind), first run of each:")
            print(f"  {'query':26} {'page':>14} {'count':>14}")
            for name in times:
                print(f"  {name:26} {counts.get('page: ' + name, 0):>14,} {counts.get('count: ' + name, 0):>14,}")
        else:
            print("\ninstructions: valgrind is not installed")
        for name, (page, _) in times.items():
            target = TARGET_PAGE_MS if name == "first page" else TARGET_FILTER_MS
            if name == "first page" or name.split()[0] in ("prefix", "address", "port", "kind"):
                verdicts.append((f"{name}: page < {target} ms", f"{page:.2f} ms", page < target))
        window = os.path.join(tools, "sentrel-historywindow")
        if options.window:
            if os.path.exists(window):
                subprocess.run([window, store], check=True)
            else:
                print(f"\nwindow: {window} is not built; its open time and RSS are measured where it is")
        if not options.skip_rate:
            print("\nsustained connect rate, history off and on (compare_servers.py):", flush=True)
            rate = subprocess.run([sys.executable, "-u", os.path.join(HERE, "compare_servers.py"), "--build",
                                   options.build, "--modes", "history"], capture_output=True, text=True)
            print(rate.stdout, end="")
            rate_verdicts = [line for line in rate.stdout.splitlines() if re.match(r"^  (PASS|FAIL)  ", line)]
        print("\n== history targets")
        for name, figure, passed in verdicts:
            print(f"  {'PASS' if passed else 'FAIL'}  {name:62} {figure}")
        for line in rate_verdicts:
            print(line)
    finally:
        if options.keep:
            print(f"kept {folder}")
        else:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
