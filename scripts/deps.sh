#!/usr/bin/env bash
# Installs the Debian packages Tarvex needs to build, run and test; does nothing when all are there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libusb-1.0-0-dev umockdev libumockdev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation2 fonts-nanum
  xvfb xauth imagemagick xdotool xclip
  srecord python3 python3-intelhex
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
