#!/usr/bin/python3
"""HTTP server benchmark: latency of a small reply on a persistent loopback connection, and
throughput under wrk with 50 connections. Uses the already built build/vexo; builds nothing.

    sudo apt-get install -y wrk        # this benchmark's own dependency
    /usr/bin/python3 bench/http/bench.py [--build-dir build] [--requests 5000] [--duration 10]
"""
import argparse
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "blackbox"))

REQUEST = b"GET /ajax.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
MAX_THREADS = 100


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def read_reply(sock, buffer):
    """Reads one Content-Length framed reply; returns the bytes left over."""
    while b"\r\n\r\n" not in buffer:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("server closed the connection")
        buffer += chunk
    head, rest = buffer.split(b"\r\n\r\n", 1)
    length = int(re.search(rb"Content-Length: (\d+)", head).group(1))
    while len(rest) < length:
        rest += sock.recv(65536)
    return rest[length:]


def measure_latency(port, count):
    samples = []
    with socket.create_connection(("127.0.0.1", port)) as sock:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        leftover = b""
        for _ in range(200):  # warm-up: thread, caches
            sock.sendall(REQUEST)
            leftover = read_reply(sock, leftover)
        for _ in range(count):
            started = time.perf_counter()
            sock.sendall(REQUEST)
            leftover = read_reply(sock, leftover)
            samples.append((time.perf_counter() - started) * 1000)
    samples.sort()
    return statistics.median(samples), samples[int(len(samples) * 0.99) - 1], samples[-1]


def run_wrk(port, duration):
    result = subprocess.run(["wrk", "-t", "2", "-c", "50", "-d", "%ds" % duration, "--latency",
                             "http://127.0.0.1:%d/ajax.html" % port], capture_output=True, text=True)
    return result.stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default=os.path.join(HERE, "..", "..", "build"))
    parser.add_argument("--requests", type=int, default=5000)
    parser.add_argument("--duration", type=int, default=10)
    args = parser.parse_args()
    if not shutil.which("wrk"):
        sys.exit("wrk is missing: sudo apt-get install -y wrk")
    os.environ["VEXO_BUILD_DIR"] = os.path.abspath(args.build_dir)
    import vexotest
    vexotest.BUILD_DIR = os.environ["VEXO_BUILD_DIR"]

    vexo = vexotest.VexoInstance(config={"listener": {"maxThreads": MAX_THREADS, "minThreads": 4}})
    try:
        median, p99, worst = measure_latency(vexo.port, args.requests)
        print("latency of a small reply, persistent connection, %d requests:" % args.requests)
        print("  median %.3f ms   p99 %.3f ms   max %.3f ms   (goal: median < 0.5 ms)" % (median, p99, worst))
        output = run_wrk(vexo.port, args.duration)
        print("wrk -t 2 -c 50 -d %ds /ajax.html:" % args.duration)
        print("  " + "\n  ".join(output.strip().splitlines()))
        rate = re.search(r"Requests/sec:\s+([\d.]+)", output)
        non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", output)
        errors = re.search(r"Socket errors: (.*)", output)
        rejected = vexo.log_text().count("rejecting new connection")
        print("summary: %s requests/s, peak RSS %d KiB, non-2xx %s, socket errors: %s, 503s logged %d "
              "(maxThreads %d)" % (rate.group(1) if rate else "?", peak_rss_kib(vexo.process.pid),
                                   non2xx.group(1) if non2xx else 0, errors.group(1) if errors else "none",
                                   rejected, MAX_THREADS))
    finally:
        vexo.cleanup()


if __name__ == "__main__":
    main()
