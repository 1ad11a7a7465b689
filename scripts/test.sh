#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs every test.
#   TARVEX_SANITIZE=1  builds into build-asan with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
# Warnings are errors here; tests and benchmarks are on even in a folder run.sh configured.
common=(-DTARVEX_WERROR=ON -DTARVEX_BUILD_TESTS=ON)
if [ "${TARVEX_SANITIZE:-0}" = 1 ]; then
  export BUILD_DIR=${BUILD_DIR:-build-asan}
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:verify_asan_link_order=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  bash scripts/build.sh "${common[@]}" -DCMAKE_BUILD_TYPE=Debug -DTARVEX_SANITIZE=ON -DTARVEX_BUILD_BENCH=OFF
else
  export BUILD_DIR=${BUILD_DIR:-build}
  bash scripts/build.sh "${common[@]}" -DTARVEX_BUILD_BENCH=ON
fi
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
