#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tarvex. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
BUILD_DIR=${BUILD_DIR:-build} bash scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
if [ $# -eq 0 ]; then set -- --help; fi
exec "$BUILD_DIR/tools/tarvexctl/tarvexctl" "$@"
