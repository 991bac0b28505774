#!/usr/bin/env bash
# Installs the Debian 12 packages Morvane needs to build, run and test, when
# they are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  qt6-base-dev libgl-dev libqscintilla2-qt6-dev
  libcurl4-openssl-dev libssl3 openssl ca-certificates
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  fonts-dejavu-core
  libxml2-dev
  curl wget libxml2-utils dbus-daemon
  desktop-file-utils appstream dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
