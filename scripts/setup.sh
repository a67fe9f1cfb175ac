#!/usr/bin/env bash
# Installs what Vexo needs on Debian 12 and configures a build. Safe to run again.
#   scripts/setup.sh         packages to build and run
#   scripts/setup.sh --test  also everything the test suite uses
#   scripts/setup.sh --qt6   also Qt 6, for the second build
#   scripts/setup.sh --fuzz  also clang and its sanitizer runtimes, for the fuzz targets
#   scripts/setup.sh --coverage  also gcovr, for scripts/coverage.sh
#   scripts/setup.sh --all   all of the above but --coverage (what scripts/test.sh needs)
# Options can be combined.
set -euo pipefail
cd "$(dirname "$0")/.."

# curl: Vexo sends its support messages through it. libmosquitto: publishing to a broker.
RUN_PACKAGES=(build-essential cmake ninja-build pkg-config ccache
    qtbase5-dev qtdeclarative5-dev libqt5serialport5-dev libmodbus-dev libmosquitto-dev
    fonts-dejavu-core curl)
# Installs run without recommendations: list what the tests import or start themselves.
# pymodbus's server imports serial and serial_asyncio, which it only recommends. The broker
# tests start their own mosquitto (never the system's service, mosquitto_passwd from the same
# package) and subscribe with paho.
TEST_PACKAGES=(python3 python3-pymodbus python3-serial python3-serial-asyncio python3-aiosmtpd
    socat poppler-utils openssl iproute2 xvfb xdotool chromium
    mosquitto python3-paho-mqtt)
QT6_PACKAGES=(qt6-base-dev qt6-declarative-dev qt6-serialport-dev)
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)
COVERAGE_PACKAGES=(gcovr)

packages=("${RUN_PACKAGES[@]}")
with_tests=0
for arg in "$@"; do
    case "$arg" in
        --test) packages+=("${TEST_PACKAGES[@]}"); with_tests=1 ;;
        --qt6) packages+=("${QT6_PACKAGES[@]}") ;;
        --fuzz) packages+=("${FUZZ_PACKAGES[@]}") ;;
        --coverage) packages+=("${COVERAGE_PACKAGES[@]}") ;;
        --all) packages+=("${TEST_PACKAGES[@]}" "${QT6_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"); with_tests=1 ;;
        *) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The browser tests drive Chromium through playwright-core from npm (no browser download).
if [ "$with_tests" = 1 ]; then
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
        SUDO=""
        [ "$(id -u)" -ne 0 ] && SUDO="sudo"
        $SUDO apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends nodejs npm
    fi
    if [ ! tests/e2e/node_modules/.package-lock.json -nt tests/e2e/package-lock.json ]; then
        (cd tests/e2e && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
    fi
fi

BUILD_DIR=${BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
fi
cmake --build "$BUILD_DIR" -j "$(nproc)"
