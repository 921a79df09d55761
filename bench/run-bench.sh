#!/usr/bin/env bash
# Builds the benchmark tools (Release, in their own build folder) and runs Sentrel (headless, with
# its window shown on a private X display, with every alert action on) and the reference server
# under the same loads, printing both sets of figures against the targets.
# Takes about three minutes; loopback only; needs no root. The stealth mode (the packet watch
# under nmap's half-open sweep and a SYN flood from forged sources) needs root, nmap and hping3 and
# runs alone, in a private network namespace.
#   bench/run-bench.sh            build in build-bench
#   BUILD_DIR=/tmp/b bench/run-bench.sh
#   bench/run-bench.sh --modes headless,window
#   bench/run-bench.sh --modes format     every output on, Event Format sentrel then ecs
#   sudo bench/run-bench.sh --modes stealth
#   bench/run-bench.sh --modes history [--window]   the history's store, queries and rate on/off
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test

build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSENTREL_BUILD_TESTS=OFF \
    -DSENTREL_BUILD_BENCH=ON > /dev/null
targets=(sentrel-loadgen sentrel-refserver sentrel-probe sentrel-fakenotifier sentrel-watch)
if [[ "$*" == "--modes history"* ]]; then
    targets+=(sentrel-historybench)
    [[ "$*" == *--window* ]] && targets+=(sentrel-historywindow)
fi
if ! cmake --build "$build" --target "${targets[@]}" > "$build/bench-build.log" 2>&1; then
    cat "$build/bench-build.log"
    exit 1
fi
if [[ "$*" == "--modes stealth" ]]; then
    exec unshare --net python3 -u bench/stealth_bench.py --build "$build"
fi
if [[ "$*" == "--modes history"* ]]; then
    shift 2
    exec python3 -u bench/history_bench.py --build "$build" "$@"
fi
exec python3 -u bench/compare_servers.py --build "$build" "$@"
