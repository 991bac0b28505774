#!/usr/bin/env bash
# Installs what is missing, builds Morvane with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test, headless.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_SANITIZE=ON -DMORVANE_BUILD_BENCH=OFF
cmake --build build-test -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build-test --output-on-failure -j"$(nproc)"
