#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds tarvex and tarvex-sim, and starts Tarvex against a simulated emulator.
#   ./scripts/run.sh [FILE]              tarvex under tarvex-sim (one simulated emulator)
#   ./scripts/run.sh --hardware [FILE]   tarvex alone, for a real emulator on USB
#   TARVEX_SIM_OPTIONS="--log /tmp/usb.log -n 2" ./scripts/run.sh   options for tarvex-sim
set -euo pipefail
cd "$(dirname "$0")/.."
hardware=0
if [ "${1:-}" = "--hardware" ]; then
  hardware=1
  shift
fi
bash scripts/deps.sh run
export BUILD_DIR=${BUILD_DIR:-build}
# Only the two programs it starts. A new build folder leaves the tests and benchmarks out, so
# their packages are not needed; one the test script configured keeps its settings.
options=()
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  options=(-DTARVEX_BUILD_TESTS=OFF -DTARVEX_BUILD_BENCH=OFF)
fi
targets=(tarvex tarvex-sim)
[ "$hardware" = 1 ] && targets=(tarvex)
bash scripts/build.sh "${options[@]}" -- "${targets[@]}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display; start it from a desktop session (or under xvfb-run)" >&2
  exit 1
fi
if [ "$hardware" = 1 ]; then
  exec "$BUILD_DIR/src/app/tarvex" "$@"
fi
# shellcheck disable=SC2086 # the options are meant to split into words
exec "$BUILD_DIR/tools/tarvex-sim/tarvex-sim" ${TARVEX_SIM_OPTIONS:-} -- "$BUILD_DIR/src/app/tarvex" "$@"
