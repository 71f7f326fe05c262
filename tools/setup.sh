#!/usr/bin/env bash
# Installs every Debian package Kavelon needs to build, run and test.
# Idempotent: installs only what is missing, refreshes the package lists once.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6network6
  qt6-webengine-dev libqt6webenginecore6-bin
  libsqlite3-dev sqlite3 openssl ca-certificates
  fonts-dejavu-core fonts-liberation2 xvfb xauth
  squid libglib2.0-bin gsettings-desktop-schemas
  g++-mingw-w64-x86-64-posix wine wine64
  util-linux iproute2 e2fsprogs
  dpkg-dev file desktop-file-utils appstream man-db groff-base systemd
  clang-14 libclang-rt-14-dev
  curl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
