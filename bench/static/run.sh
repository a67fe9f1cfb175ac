#!/usr/bin/env bash
# Static file throughput of vexo beside nginx, both on loopback, same files, same run.
#   bench/static/run.sh [build dir]     (default: build)
# Env: DURATION (wrk seconds, default 10), CONNECTIONS (default 50), THREADS (wrk, default 2),
#      ROUNDS (default 3): nginx and vexo take turns, and the medians are reported, so that
#      load from elsewhere on a shared machine hits both alike.
# Every process this script starts is stopped when it ends.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=$(realpath "${1:-build}")
DURATION=${DURATION:-10}
CONNECTIONS=${CONNECTIONS:-50}
THREADS=${THREADS:-2}
ROUNDS=${ROUNDS:-3}

need=()
command -v wrk >/dev/null || need+=(wrk)
[ -x /usr/sbin/nginx ] || need+=(nginx)
if [ ${#need[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
[ -x "$BUILD_DIR/vexo" ] || { echo "no vexo in $BUILD_DIR" >&2; exit 1; }

WORK=$(mktemp -d /tmp/vexo-bench-static.XXXXXX)
chmod 755 "$WORK" # nginx workers started by root run as nobody
VEXO_PID=""
NGINX_PID=""
cleanup() {
    [ -n "$VEXO_PID" ] && kill "$VEXO_PID" 2>/dev/null && wait "$VEXO_PID" 2>/dev/null || true
    [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

free_port() {
    /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
wait_port() {
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.05
    done
    echo "nothing listens on port $1" >&2
    return 1
}

# The same document root for both servers.
DOCROOT=$WORK/www
mkdir -p "$DOCROOT" "$WORK/home" "$WORK/tmp" "$WORK/nginx/logs"
head -c 2048 /dev/urandom | base64 -w 76 | head -c 2048 >"$DOCROOT/small.html"
head -c 1048576 /dev/urandom >"$DOCROOT/big.bin"

VEXO_PORT=$(free_port)
cp "$BUILD_DIR/vexo" "$WORK/vexo"
cat >"$WORK/config.ini" <<INI
[listener]
host=127.0.0.1
port=$VEXO_PORT
minThreads=4
maxThreads=100
readTimeout=60000
[docroot]
path=www
INI
(cd "$WORK" && HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config TMPDIR=$WORK/tmp QT_QPA_PLATFORM=offscreen \
    QT_LOGGING_RULES='*.debug=false' exec ./vexo -r >"$WORK/vexo.log" 2>&1) &
VEXO_PID=$!

NGINX_PORT=$(free_port)
cat >"$WORK/nginx/nginx.conf" <<CONF
daemon off;
worker_processes $(nproc);
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/logs/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 1000000;
    types { text/html html; application/octet-stream bin; }
    client_body_temp_path $WORK/nginx/tmp;
    proxy_temp_path $WORK/nginx/tmp;
    fastcgi_temp_path $WORK/nginx/tmp;
    uwsgi_temp_path $WORK/nginx/tmp;
    scgi_temp_path $WORK/nginx/tmp;
    server {
        listen 127.0.0.1:$NGINX_PORT;
        root $DOCROOT;
    }
}
CONF
/usr/sbin/nginx -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" &
NGINX_PID=$!

wait_port "$VEXO_PORT"
wait_port "$NGINX_PORT"

# One wrk run; prints "requests/s average-latency p99-latency".
measure() {
    wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" --latency "$1" | awk '
        /Requests\/sec/ { rps = $2 }
        /Non-2xx|Socket errors/ { print "wrk: " $0 > "/dev/stderr" }
        /^ +Latency / && !lat { lat = $2 }
        /^ +99%/ { p99 = $2 }
        END { printf "%s %s %s\n", rps, lat, p99 }'
}

RESULTS=$WORK/results
for file in small.html big.bin; do
    for port in "$VEXO_PORT" "$NGINX_PORT"; do
        curl -fsS "http://127.0.0.1:$port/$file" -o "$WORK/check" && cmp -s "$WORK/check" "$DOCROOT/$file" ||
            { echo "the server on port $port served a different $file" >&2; exit 1; }
    done
    for round in $(seq "$ROUNDS"); do
        echo "$file nginx $round $(measure "http://127.0.0.1:$NGINX_PORT/$file")" >>"$RESULTS"
        echo "$file vexo $round $(measure "http://127.0.0.1:$VEXO_PORT/$file")" >>"$RESULTS"
    done
done

# Medians over the rounds; the ratio is the median of the per-round ratios.
/usr/bin/python3 - "$RESULTS" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
print("%-10s %-7s %12s %10s %10s %8s" % ("file", "server", "req/s", "avg lat", "p99 lat", "ratio"))
for file in dict.fromkeys(r[0] for r in rows):
    runs = {s: [r for r in rows if r[0] == file and r[1] == s] for s in ("nginx", "vexo")}
    ratio = statistics.median(float(v[3]) / float(n[3]) for n, v in zip(runs["nginx"], runs["vexo"]))
    for server, mine in runs.items():
        median = sorted(mine, key=lambda r: float(r[3]))[len(mine) // 2]
        print("%-10s %-7s %12s %10s %10s %8s" % (file, server, median[3], median[4], median[5],
                                                  "%.2f" % ratio if server == "vexo" else ""))
    print("%-10s rounds: %s" % (file, "  ".join("%s/%s" % (n[3], v[3]) for n, v in zip(runs["nginx"], runs["vexo"]))))
PY
