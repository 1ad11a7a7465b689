#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages a task needs; does nothing when all are there.
#   deps.sh run       build and run tarvex and tarvex-sim (what ./scripts/run.sh needs)
#   deps.sh test      the above, and what the tests, benchmarks and man pages need
#   deps.sh deb       what ./scripts/package.sh needs to build the Debian packages
#   deps.sh package   all of the above, and what .ci/run's package checks need
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
  # a real toolchain's output for the address-map tests: assembler, linker, objcopy
  binutils-arm-none-eabi
  help2man
  # the fuzz targets run under libFuzzer when clang has it, else replay their corpora
  clang libclang-rt-14-dev
)
# the man pages, dpkg-shlibdeps for the package dependencies, and file, which CPack asks for
DEB=(
  help2man dpkg-dev file
)
# devscripts for hardening-check; like every package here, without its recommends
PACKAGE=(
  desktop-file-utils appstream lintian devscripts
)

case "${1:-test}" in
  run) PACKAGES=("${RUN[@]}") ;;
  test) PACKAGES=("${RUN[@]}" "${TEST[@]}") ;;
  deb) PACKAGES=("${RUN[@]}" "${DEB[@]}") ;;
  package) PACKAGES=("${RUN[@]}" "${TEST[@]}" "${DEB[@]}" "${PACKAGE[@]}") ;;
  *) echo "usage: deps.sh run|test|deb|package" >&2; exit 2 ;;
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
