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

# The package is built once, as users get it; the suite installs it when run as root.
package=$(scripts/package.sh | tail -n 1)
options=(-DCMAKE_BUILD_TYPE=Debug)
build=build-test
if [[ "${SENTREL_SKIP_SANITIZERS:-0}" != 1 ]]; then
    # Qt's own leaks at exit are not ours to chase; memory errors and undefined behaviour are.
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    options+=(-DSENTREL_SANITIZE=ON)
    build=build-asan
fi
SENTREL_PACKAGE=$package run_suite "$build" "${options[@]}"
