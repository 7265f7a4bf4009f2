#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the application need.
# Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev
  qt6-qpa-plugins libqt6svg6 qt6-image-formats-plugins
  libgl-dev libvulkan-dev
  libusb-1.0-0-dev libavahi-client-dev
  libavcodec-dev libavutil-dev libswscale-dev libx264-dev
  libxcb1-dev libxcb-damage0-dev
  libqrencode-dev libicu-dev libfontconfig-dev
  pulseaudio libpulse-dev
  libgtest-dev libgmock-dev
  adb mksh procps valgrind toybox busybox fuse3 libfuse3-dev
  xvfb xauth zbar-tools
  avahi-daemon avahi-utils dbus iproute2
  shared-mime-info hicolor-icon-theme adwaita-icon-theme
  desktop-file-utils shellcheck
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
# avahi-daemon and dbus must not start system services on a CI machine.
if [ ! -e /usr/sbin/policy-rc.d ] && [ -z "$SUDO" ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
  trap 'rm -f /usr/sbin/policy-rc.d' EXIT
fi
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
