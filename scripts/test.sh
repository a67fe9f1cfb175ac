#!/usr/bin/env bash
# Installs, builds and runs the whole test suite. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --test
BUILD_DIR=${BUILD_DIR:-build}
cd "$BUILD_DIR"
ctest --output-on-failure -j 2 "$@"
