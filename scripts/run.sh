#!/usr/bin/env bash
# Builds Vexo, starts the simulated device and Vexo, and prints the address to open once Vexo
# really serves it. Exits non-zero with the reason when either cannot start (for example when
# another program holds the port).
#   BUILD_DIR=build     the build to run (its config.ini sets Vexo's address and port)
#   DEVSIM_PORT=5020    the simulated device's Modbus TCP port
#   SKIP_SETUP=1        run the build as it is, without installing packages or building
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${SKIP_SETUP:-}" = 1 ] || scripts/setup.sh
BUILD_DIR=$(realpath "${BUILD_DIR:-build}")
DEVSIM_PORT=${DEVSIM_PORT:-5020}
START_WAIT_S=20

fail() {
    echo "run.sh: $*" >&2
    exit 1
}

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits until the log $2 of process $1 matches $3 (then returns 0) or $4 if given (returns 1),
# or the process ends (returns 2), for at most START_WAIT_S seconds (returns 3).
wait_for_log() {
    local pid=$1 log=$2 ready=$3 failed=${4:-}
    for _ in $(seq $((START_WAIT_S * 10))); do
        grep -qE "$ready" "$log" && return 0
        [ -n "$failed" ] && grep -qE "$failed" "$log" && return 1
        kill -0 "$pid" 2>/dev/null || return 2
        sleep 0.1
    done
    return 3
}

# The simulated device.
devsim_log=$(mktemp)
"$BUILD_DIR/vexo-devsim" --tcp "127.0.0.1:$DEVSIM_PORT" >"$devsim_log" 2>&1 &
pids+=($!)
if ! wait_for_log "${pids[-1]}" "$devsim_log" '^listening on tcp'; then
    cat "$devsim_log" >&2
    fail "the simulated device could not listen on 127.0.0.1:$DEVSIM_PORT; another program may hold that port (choose another with DEVSIM_PORT=...)."
fi

# Vexo, with its log in the build directory. Without a desktop session the tray has nowhere
# to go; it serves all the same.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}; fi
vexo_log="$BUILD_DIR/vexo.log"
(cd "$BUILD_DIR" && exec ./vexo -r) >"$vexo_log" 2>&1 &
vexo=$!
pids+=($vexo)
status=0
wait_for_log "$vexo" "$vexo_log" 'HttpListener: Listening on port' 'HttpListener: Cannot bind' || status=$?
case $status in
    1) fail "Vexo cannot serve: $(grep -m1 'Cannot bind' "$vexo_log" | sed 's/^.*HttpListener: //'). Another program holds that port: stop it, or set another port in group [listener] of $BUILD_DIR/config.ini." ;;
    2) tail -n 20 "$vexo_log" >&2; fail "Vexo ended before it served (log: $vexo_log)." ;;
    3) fail "Vexo did not start serving within $START_WAIT_S s (log: $vexo_log)." ;;
esac
port=$(grep -m1 -oE 'Listening on port [0-9]+' "$vexo_log" | grep -oE '[0-9]+$')
host=$(sed -n '/^\[listener\]/,/^\[/{s/^host=//p}' "$BUILD_DIR/config.ini" | head -n1)
case "${host:-}" in "" | 0.0.0.0 | "::" | any) host=127.0.0.1 ;; esac

# Vexo's log says it listens; its own answer confirms that it is Vexo on that address.
answer=""
if exec 3<>"/dev/tcp/$host/$port"; then
    printf 'GET /ajax.html?func=getGeneralInfo HTTP/1.0\r\nHost: %s:%s\r\n\r\n' "$host" "$port" >&3
    answer=$(timeout 5 cat <&3 || true)
    exec 3<&-
fi
case "$answer" in
    *'"canSendMailReport":'*) ;;
    *) fail "something answers on $host:$port, but it is not this Vexo (log: $vexo_log)." ;;
esac

echo
echo "Vexo:              http://$host:$port/"
echo "Simulated device:  Modbus TCP at 127.0.0.1:$DEVSIM_PORT, slave 1"
echo "Vexo's log:        $vexo_log"
echo "Stop with Ctrl+C."
echo
wait "$vexo"
