#!/usr/bin/env bash
# The layer check on a small tree: net/ including app/ must be refused by
# name, app/ including net/ must pass.
set -u
check=$1
here=$(dirname "$0")
out=$(bash "$check" "$here/upward" 2>&1)
rc=$?
echo "$out"
[ "$rc" -eq 1 ] || { echo "expected exit 1, got $rc"; exit 1; }
grep -q 'net/reachesup.cpp: includes app/' <<<"$out" || { echo "the upward include was not named"; exit 1; }
if grep -q 'app/main.cpp' <<<"$out"; then echo "a downward include was refused"; exit 1; fi
exit 0
