#!/usr/bin/env bash
# Builds Vexo, starts the simulated device and Vexo, and prints the address to open.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
DEVSIM_PORT=${DEVSIM_PORT:-5020}

"$BUILD_DIR/vexo-devsim" --tcp "127.0.0.1:$DEVSIM_PORT" &
devsim=$!
trap 'kill $devsim 2>/dev/null' EXIT

port=$(sed -n '/^\[listener\]/,/^\[/{s/^port=//p}' "$BUILD_DIR/config.ini" | head -n1)
echo
echo "Vexo:              http://127.0.0.1:${port:-8088}/"
echo "Simulated device:  Modbus TCP at 127.0.0.1:$DEVSIM_PORT, slave 1"
echo "Stop with Ctrl+C."
echo
cd "$BUILD_DIR"
# Without a desktop session the tray has nowhere to go; serve all the same.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}; fi
./vexo -r
