#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages (tarvex, tarvex-sim, python3-tarvex) with Debian's build flags, hardening
# included, into BUILD_DIR (default: build-pkg).
#   package.sh [CMAKE_OPTIONS...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh deb
export BUILD_DIR=${BUILD_DIR:-build-pkg}
# What a Debian package build uses: -O2, the stack protector, _FORTIFY_SOURCE, RELRO and, with
# hardening=+all, BIND_NOW. CMake reads no CPPFLAGS, so they go into the compiler flags; they
# are passed as cache entries so that they also reach a build folder configured before.
export DEB_BUILD_MAINT_OPTIONS=${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cflags="$(dpkg-buildflags --get CFLAGS) $cppflags"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $cppflags"
ldflags=$(dpkg-buildflags --get LDFLAGS)
bash scripts/build.sh -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DTARVEX_BUILD_TESTS=OFF -DTARVEX_BUILD_BENCH=OFF \
  "-DCMAKE_C_FLAGS=$cflags" "-DCMAKE_CXX_FLAGS=$cxxflags" \
  "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" \
  "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags" "$@"
rm -f "$BUILD_DIR"/tarvex*_*.deb "$BUILD_DIR"/python3-tarvex_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
ls "$BUILD_DIR"/*.deb
