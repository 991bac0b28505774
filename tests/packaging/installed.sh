#!/usr/bin/env bash
# The installed program, started through its command link, finds its own
# folder (where license.txt is) by the link's target, and keeps its data in
# the user's ~/.config/ZANTERO/Morvane/ when that folder cannot be written to.
set -euo pipefail
build=$1 id=$2
prefix=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$prefix"' EXIT
pid=
cmake --install "$build" --prefix "$prefix" >/dev/null

program=$prefix/lib/morvane
fail() { echo "FAIL: $*"; exit 1; }
[ -L "$prefix/bin/morvane" ] || fail "bin/morvane is not a link"
[ "$(readlink -f "$prefix/bin/morvane")" = "$(readlink -f "$program/morvane")" ] || fail "bin/morvane does not lead to the program"
[ -f "$program/license.txt" ] || fail "no license.txt beside the program"
for size in 16 32 48 64 128 256; do
  [ -f "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png" ] || fail "no ${size}px icon"
done
[ -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"

# Starts the program with a home of its own and waits for its settings file
# to appear where it should; the program is stopped afterwards.
run_until() {
  local home=$1 expected=$2
  mkdir -p "$home"
  HOME=$home XDG_CONFIG_HOME= "$prefix/bin/morvane" >"$home/out.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 300); do
    [ -f "$expected" ] && break
    kill -0 "$pid" 2>/dev/null || { cat "$home/out.log"; fail "the program ended early"; }
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=
  [ -f "$expected" ] || { cat "$home/out.log"; fail "no $expected"; }
}

# The program's folder cannot take a file: its probe's name is taken (as root,
# permissions alone would not stop the write).
mkdir "$program/chk.tmp"
run_until "$prefix/home1" "$prefix/home1/.config/ZANTERO/Morvane/settings.ini"
[ ! -e "$program/settings.ini" ] || fail "settings.ini was written into the program's folder"
[ ! -e "$prefix/bin/settings.ini" ] || fail "settings.ini was written beside the link"

# Where the folder can be written, the data goes beside the real program, not
# beside the link.
rmdir "$program/chk.tmp"
run_until "$prefix/home2" "$program/settings.ini"
[ ! -e "$prefix/bin/settings.ini" ] || fail "settings.ini was written beside the link"
[ ! -e "$prefix/home2/.config/ZANTERO" ] || fail "data went to the home folder although the program's folder is writable"
echo "installed program keeps its data where it should"
