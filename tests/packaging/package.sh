#!/usr/bin/env bash
# "cpack -G DEB" makes a package holding the installed tree under /usr.
set -euo pipefail
build=$1 id=$2
for tool in dpkg-deb dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/morvane_*.deb)
case "$(basename "$deb")" in
  morvane_*_"$(dpkg --print-architecture)".deb) ;;
  *) echo "FAIL: unexpected package name $(basename "$deb")"; exit 1 ;;
esac
contents=$(dpkg-deb --contents "$deb")
for path in ./usr/lib/morvane/morvane ./usr/lib/morvane/license.txt ./usr/bin/morvane \
            "./usr/share/applications/$id.desktop" "./usr/share/metainfo/$id.metainfo.xml" \
            "./usr/share/icons/hicolor/scalable/apps/$id.svg" "./usr/share/icons/hicolor/48x48/apps/$id.png" \
            ./usr/share/man/man1/morvane.1.gz ./usr/share/doc/morvane/copyright ./usr/share/doc/morvane/changelog.gz; do
  grep -q " $path\( \|$\)" <<<"$contents" || { echo "FAIL: $path missing from the package"; echo "$contents"; exit 1; }
done
grep -q " ./usr/bin/morvane -> ../lib/morvane/morvane" <<<"$contents" || { echo "FAIL: bin/morvane is not the link"; exit 1; }
depends=$(dpkg-deb --field "$deb" Depends)
for needed in libqt6widgets6 libcurl4 qt6-qpa-plugins; do
  grep -q "$needed" <<<"$depends" || { echo "FAIL: Depends lacks $needed: $depends"; exit 1; }
done
# The transport sets options that libcurl has from 7.85 on.
grep -q 'libcurl4 (>= 7.85.0)' <<<"$depends" || { echo "FAIL: Depends lacks libcurl4 (>= 7.85.0): $depends"; exit 1; }
recommends=$(dpkg-deb --field "$deb" Recommends)
grep -q 'xdg-utils' <<<"$recommends" || { echo "FAIL: Recommends lacks xdg-utils: $recommends"; exit 1; }
echo "package holds what it should"
