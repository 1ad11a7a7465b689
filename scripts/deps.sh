#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages a task needs; does nothing when all are there.
#   deps.sh run       build and run tarvex and tarvex-sim (what ./scripts/run.sh needs)
#   deps.sh test      the above, and what the tests, benchmarks and man pages need
#   deps.sh package   the above, and what .ci/run's package checks need
set -euo pipefail

RUN=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libusb-1.0-0-dev umockdev libumockdev-dev
  # the fonts the windows ask for (Nanum Gothic, Liberation Sans and Mono)
  fonts-liberation2 fonts-nanum
)
TEST=(
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth imagemagick xdotool xclip
  srecord python3 python3-intelhex
  # the Python module and its tests
  python3-dev pybind11-dev python3-pytest
  help2man
  # the fuzz targets run under libFuzzer when clang has it, else replay their corpora
  clang libclang-rt-14-dev
)
PACKAGE=(
  dpkg-dev file desktop-file-utils appstream
)

case "${1:-test}" in
  run) PACKAGES=("${RUN[@]}") ;;
  test) PACKAGES=("${RUN[@]}" "${TEST[@]}") ;;
  package) PACKAGES=("${RUN[@]}" "${TEST[@]}" "${PACKAGE[@]}") ;;
  *) echo "usage: deps.sh run|test|package" >&2; exit 2 ;;
esac

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
