#!/usr/bin/env bash
# Fuzzes the helpers' parsers with libFuzzer (Debian's clang) for a bounded time each, starting
# from the corpora kept in tests/fuzz: the bind helper's request and port list (corpus/), the watch
# helper's request, its packet filter, segment reader and address set (watch-corpus/), the
# firewall helper's request, its command text and its listing reader (block-corpus/). New inputs
# that reach new code land in scratch corpora under build-fuzz/; copy the interesting ones into
# the kept corpora by hand.
#   scripts/fuzz.sh [seconds]      default 60, per target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

scripts/install-deps.sh --test
mkdir -p build-fuzz
found=0
for target in request:RequestFuzzer:corpus watch:WatchFuzzer:watch-corpus block:BlockFuzzer:block-corpus; do
    IFS=: read -r name source kept <<< "$target"
    mkdir -p "build-fuzz/$name-corpus"
    clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        "tests/fuzz/$source.cpp" -o "build-fuzz/$name-fuzzer"
    (cd build-fuzz && "./$name-fuzzer" -max_total_time="$seconds" -max_len=2048 -print_final_stats=1 \
        "$name-corpus" "../tests/fuzz/$kept" > "$name.log" 2>&1) || true
    grep -E "^#[0-9]+ +DONE|^stat::(number_of_executed_units|new_units_added)|ERROR|Done" "build-fuzz/$name.log" || true
    if grep -q "ERROR: libFuzzer\|ERROR: AddressSanitizer\|runtime error\|deadly signal" "build-fuzz/$name.log"; then
        echo "the $name fuzzer found a fault: build-fuzz/$name.log"
        found=1
    fi
    echo "$name: scratch corpus build-fuzz/$name-corpus ($(ls "build-fuzz/$name-corpus" | wc -l) inputs)"
done
[[ $found -eq 0 ]] && echo "no faults in ${seconds} s per target"
exit $found
