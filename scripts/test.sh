#!/usr/bin/env bash
# Installs what is missing, builds Morvane with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test, headless.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_SANITIZE=ON -DMORVANE_BUILD_BENCH=OFF
cmake --build build-test -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
# The tests see Qt's own look whatever the desktop they are started from sets:
# a platform theme (gtk3, qt6ct, ...) brings its fonts, style and dialogs, and
# the gtk3 one ends a headless test at once for want of a display.
unset QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE
ctest --test-dir build-test --output-on-failure -j"$(nproc)"
