#!/usr/bin/env bash
# The program as a packager builds it: Release, with Debian's hardening flags,
# for another maker's host and without the update check. Its application id is
# the same as this build's; the binary is PIE, fully RELRO with bind-now, has
# the stack protector and the fortified functions; and nothing of the update
# check is in it.
set -euo pipefail
build=$1 id=$2 source=$3
command -v readelf >/dev/null || { echo "SKIP: readelf is not installed"; exit 77; }
tree=$build/hardening-check
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$source" -B "$tree" -DCMAKE_BUILD_TYPE=Release -DMORVANE_SANITIZE=OFF \
      -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_BENCH=OFF -DMORVANE_UPDATE_CHECK=OFF \
      -DMORVANE_MAKER_HOST=www.another-maker.org "${launcher[@]}" >/dev/null
other_id=$(sed -n 's/^MORVANE_APP_ID:STRING=//p' "$tree/CMakeCache.txt")
[ "$other_id" = "$id" ] || { echo "FAIL: the application id follows the maker's host: $other_id, not $id"; exit 1; }
cmake --build "$tree" --target morvane -j"$(nproc)" >/dev/null
bin=$tree/src/morvane

fail() { echo "FAIL: $*"; exit 1; }
readelf -h "$bin" | grep -q 'Type:[[:space:]]*DYN' || fail "not a position-independent executable"
readelf -l "$bin" | grep -q 'GNU_RELRO' || fail "no RELRO segment"
readelf -d "$bin" | grep -Eq 'BIND_NOW|FLAGS_1.*NOW' || fail "not linked with bind-now"
symbols=$(readelf --dyn-syms -W "$bin")
grep -q '__stack_chk_fail' <<<"$symbols" || fail "no stack protector"
grep -Eq '__[a-z]+_chk@' <<<"$symbols" || fail "no fortified function"
if grep -aq 'check2.php' "$bin"; then fail "the update check is in a build without it"; fi
# Debian's own check where devscripts is installed. Control-flow protection
# is not judged: Debian 12's C start files carry no IBT/SHSTK note, so no
# program linked on it can have one.
if command -v hardening-check >/dev/null; then
  hardening-check --nocfprotection "$bin"
fi
echo "hardened, id $id, no update check"
