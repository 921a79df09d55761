#!/usr/bin/env bash
# Builds the benchmark tools (Release, in their own build folder) and runs Sentrel (headless, with
# its window shown on a private X display, with every alert action on) and the reference server
# under the same loads, printing both sets of figures against the targets.
# Takes about three minutes; loopback only; needs no root.
#   bench/run-bench.sh            build in build-bench
#   BUILD_DIR=/tmp/b bench/run-bench.sh
#   bench/run-bench.sh --modes headless,window
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test

build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSENTREL_BUILD_TESTS=OFF \
    -DSENTREL_BUILD_BENCH=ON > /dev/null
if ! cmake --build "$build" --target sentrel-loadgen sentrel-refserver sentrel-probe sentrel-fakenotifier > "$build/bench-build.log" 2>&1; then
    cat "$build/bench-build.log"
    exit 1
fi
exec python3 -u bench/compare_servers.py --build "$build" "$@"
