#!/usr/bin/env bash
# The desktop entry and the AppStream metadata of an installed tree pass their
# validators.
set -euo pipefail
build=$1 id=$2 source=$3
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml"
grep -q "<release version=\"$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")\"" \
  "$prefix/share/metainfo/$id.metainfo.xml"
meta=$prefix/share/metainfo/$id.metainfo.xml
# What the update check sends is declared; the release date is the version
# record's, the same in the changelog and the man page.
grep -q '<content_attribute id="social-info">moderate</content_attribute>' "$meta" \
  || { echo "FAIL: the content rating does not declare what is sent"; exit 1; }
for kind in bugtracker help; do
  grep -q "<url type=\"$kind\">" "$meta" || { echo "FAIL: no $kind address"; exit 1; }
done
date=$(sed -n 's/.*<release version="[^"]*" date="\([^"]*\)".*/\1/p' "$meta")
recorded=$(sed -n 's/^set(MORVANE_RELEASE_DATE "\(.*\)")$/\1/p' "$source/CMakeLists.txt")
[ -n "$date" ] && [ "$date" = "$recorded" ] || { echo "FAIL: the release date is '$date', not the recorded $recorded"; exit 1; }
zcat "$prefix/share/man/man1/morvane.1.gz" | head -n 1 | grep -q "\"$date\"" \
  || { echo "FAIL: the man page's date is not $date"; exit 1; }
changelog_day=$(zcat "$prefix/share/doc/morvane/changelog.gz" | sed -n 's/^ -- .*>  //p')
[ "$(date -u -d "$changelog_day" +%F)" = "$date" ] || { echo "FAIL: the changelog's date is $changelog_day, not $date"; exit 1; }
echo "validators passed"
