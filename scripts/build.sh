#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds into BUILD_DIR (default: build).
#   build.sh [CMAKE_OPTIONS...] [-- TARGET...]   no target: everything
# Uses ccache when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
options=()
targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--" ]; then
    shift
    targets=("$@")
    break
  fi
  options+=("$1")
  shift
done
if command -v ccache >/dev/null && [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD_DIR" -G Ninja "${options[@]}" >/dev/null
if [ ${#targets[@]} -gt 0 ]; then
  cmake --build "$BUILD_DIR" -j "$(nproc)" --target "${targets[@]}"
else
  cmake --build "$BUILD_DIR" -j "$(nproc)"
fi
