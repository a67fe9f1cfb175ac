#!/usr/bin/env bash
# Shows the tray menu and the dialogs as a user sees them: a private Xvfb display with a
# small tray host (trayer), vexo on the xcb platform, xdotool to click and import to capture.
#   tools/screenshots/take-screenshots.sh [build dir] [output dir]
# Needs: xvfb trayer xdotool imagemagick (installed here on first use; not test packages).
set -euo pipefail

BUILD_DIR=$(realpath "${1:-build}")
OUT_DIR=$(realpath -m "${2:-/tmp/vexo-screenshots}")
mkdir -p "$OUT_DIR"

need=()
for tool in Xvfb:xvfb trayer:trayer xdotool:xdotool import:imagemagick; do
    command -v "${tool%%:*}" >/dev/null || need+=("${tool##*:}")
done
if [ ${#need[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

WORK=$(mktemp -d /tmp/vexo-shots-XXXXXX)
PIDS=()
cleanup() {
    # Newest first, so that the X server goes last.
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

# A private display; its number comes back through a pipe.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -nolisten tcp -screen 0 800x600x24 2>/dev/null &
PIDS+=($!)
read -r -u "$displayfd" number
export DISPLAY=":$number"
trayer --edge top --align right --widthtype request --height 32 --SetDockType true --tint 0xdddddd \
    --transparent true --alpha 0 &
PIDS+=($!)
sleep 1

# A private vexo: its own directory, lock and settings; a stand-in browser.
mkdir -p "$WORK/tmp" "$WORK/home" "$WORK/bin" "$WORK/www"
cp "$BUILD_DIR/vexo" "$WORK/vexo"
printf '#!/bin/sh\necho "$@" >> "%s/browser.txt"\n' "$WORK" > "$WORK/bin/xdg-open"
chmod +x "$WORK/bin/xdg-open"
export TMPDIR="$WORK/tmp" HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" PATH="$WORK/bin:$PATH"
export QT_QPA_PLATFORM=xcb

write_config() { # language port
    printf '[listener]\nhost=127.0.0.1\nport=%s\n\n[docroot]\npath=www\n\n[other]\nprefLang=%s\n' "$2" "$1" \
        > "$WORK/config.ini"
}

free_port() { /usr/bin/python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }

shot() { # name [delay]
    sleep "${2:-0.7}"
    import -window root "$OUT_DIR/$1.png"
    echo "wrote $OUT_DIR/$1.png"
}

# The tray host's panel holds our icon only.
tray_icon_center() {
    local panel
    panel=$(xdotool search --sync --name '^panel$' | head -1)
    eval "$(xdotool getwindowgeometry --shell "$panel")"
    echo "$((X + WIDTH / 2)) $((Y + HEIGHT / 2))"
}

start_vexo() { # args...
    local lines
    lines=$(wc -l < "$WORK/vexo.log" 2>/dev/null || echo 0)
    "$WORK/vexo" "$@" >> "$WORK/vexo.log" 2>&1 &
    VEXO_PID=$!
    PIDS+=($VEXO_PID)
    # Started once the tray menu has set its language (or the guard waits for the user).
    for _ in $(seq 50); do
        tail -n +"$((lines + 1))" "$WORK/vexo.log" | grep -qE 'loadLanguage|\[2nd\]' && break
        sleep 0.1
    done
    sleep 0.3
}

stop_vexo() {
    kill "$VEXO_PID" 2>/dev/null || true
    wait "$VEXO_PID" 2>/dev/null || true
    rm -f "$WORK/tmp/VexoAdmin.lock"
}

open_menu() {
    read -r x y < <(tray_icon_center)
    xdotool mousemove "$x" "$y" click 3
}

PORT=$(free_port)
for lang in en de es pl; do
    write_config "$lang" "$PORT"
    start_vexo -r
    open_menu
    sleep 0.5
    # Open the language submenu too (third entry) so that its check mark shows.
    xdotool key Down Down Down Right
    shot "menu-$lang"
    xdotool key Escape Escape
    stop_vexo
done

write_config en "$PORT"
start_vexo -r
open_menu
sleep 0.5
xdotool key a
xdotool search --sync --name '^About$' >/dev/null
shot about
xdotool key Return
open_menu
sleep 0.5
xdotool key Down Down Down Down Return
xdotool search --sync --name '^Listening port modification$' >/dev/null
shot port-dialog
xdotool key Escape
stop_vexo

# Start-up balloons: listening (without "-r"), and a port that is already taken.
# The listening message stays for one second only.
start_vexo
shot balloon-listening 0
stop_vexo
/usr/bin/python3 -c 'import socket,time;s=socket.socket();s.bind(("127.0.0.1",'"$PORT"'));s.listen();time.sleep(8)' &
PIDS+=($!)
sleep 0.3
start_vexo -r
shot balloon-port-error
stop_vexo

# A newer start while the running instance is too busy to answer: the progress dialog.
start_vexo -r
FIRST=$VEXO_PID
kill -STOP "$FIRST"
write_config de "$PORT"
start_vexo -r
xdotool search --sync --name '^Vexo$' >/dev/null
shot progress-de
kill -CONT "$FIRST"
sleep 2
stop_vexo

# A lock held by a live process that does not answer on IPC: the message box, exit status 1.
/usr/bin/python3 -c 'import fcntl,time;f=open("'"$WORK"'/tmp/VexoAdmin.lock","w");f.write("1\nx\ny\n");f.flush();fcntl.flock(f,fcntl.LOCK_EX);time.sleep(8)' &
PIDS+=($!)
sleep 0.3
write_config pl "$PORT"
start_vexo -r
xdotool search --sync --name '^Vexo$' >/dev/null
shot not-closed-pl
xdotool key Return
wait "$VEXO_PID" && status=0 || status=$?
echo "exit status after the message box: $status"

echo "log: $(wc -l < "$WORK/vexo.log") lines"
grep -E '^\[|TrayMenu' "$WORK/vexo.log" | sort | uniq -c
