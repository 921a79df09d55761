#!/usr/bin/env bash
# Installs what Sentrel needs, builds it and starts it. Without a display it runs headless and
# prints its status lines on standard output; Ctrl+C ends it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSENTREL_BUILD_TESTS=OFF \
    -DSENTREL_BUILD_BENCH=OFF > /dev/null
cmake --build build --target sentrel
exec build/app/sentrel
