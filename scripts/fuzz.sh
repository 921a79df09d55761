#!/usr/bin/env bash
# Fuzzes the bind helper's request and port list parsers with libFuzzer (Debian's clang) for a
# bounded time, starting from the corpus kept in helper/fuzz/corpus. New inputs that reach new
# code land in a scratch corpus under build-fuzz/; copy the interesting ones into the kept corpus
# by hand.
#   scripts/fuzz.sh [seconds]      default 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

scripts/install-deps.sh --test
mkdir -p build-fuzz/corpus
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    helper/fuzz/RequestFuzzer.cpp -o build-fuzz/request-fuzzer
cd build-fuzz
./request-fuzzer -max_total_time="$seconds" -max_len=512 -print_final_stats=1 \
    corpus ../helper/fuzz/corpus 2>&1 | tee fuzz.log | grep -E "^#[0-9]+ +DONE|^stat::|ERROR|Done" || true
grep -q "ERROR: libFuzzer\|ERROR: AddressSanitizer\|runtime error" fuzz.log && { echo "the fuzzer found a fault: build-fuzz/fuzz.log"; exit 1; }
echo "no faults in ${seconds} s; scratch corpus: build-fuzz/corpus ($(ls corpus | wc -l) inputs)"
