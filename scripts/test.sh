#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs the whole test suite once, under
# AddressSanitizer and UndefinedBehaviorSanitizer (SENTREL_SKIP_SANITIZERS=1: a plain Debug build).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --test
export CTEST_OUTPUT_ON_FAILURE=1
jobs=$(nproc)

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" > /dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" -j "$jobs" --timeout 300
}

# Only root can install the package, so only root builds it (unoptimised: the suite checks how it
# installs, not how fast it runs).
package=""
if [[ $(id -u) -eq 0 ]]; then
    package=$(scripts/package.sh --for-tests | tail -n 1)
fi
# Line tables without local variables (-g1): stack traces keep file and line, the build and its
# links get much lighter.
options=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DSENTREL_BUILD_BENCH=OFF)
build=build-test
if [[ "${SENTREL_SKIP_SANITIZERS:-0}" != 1 ]]; then
    # Qt's own leaks at exit are not ours to chase; memory errors and undefined behaviour are.
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    options+=(-DSENTREL_SANITIZE=ON)
    build=build-asan
fi
SENTREL_PACKAGE=$package run_suite "$build" "${options[@]}"
