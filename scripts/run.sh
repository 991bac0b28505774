#!/usr/bin/env bash
# Installs what is missing, builds Morvane and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_BENCH=OFF
cmake --build build -j"$(nproc)" --target morvane
exec build/src/morvane "$@"
