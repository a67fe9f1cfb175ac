#!/usr/bin/python3
"""Times Modbus reads through the gateway beside the same reads made directly.

  bench/modbus/bench_modbus.py [--iterations N] [--functions-only]

Needs a build in build/ (or VEXO_BUILD_DIR), a C compiler with libmodbus-dev and socat.
Everything runs on loopback and pseudo-terminals. Prints medians in milliseconds:
- TCP: AJAX readRegisters of 10 registers against vexo-devsim, minus the fixed 100 ms
  settle wait of every read, beside a direct libmodbus client (persistent connection, and
  a fresh connection per read as the gateway makes);
- RTU over a socat pseudo-terminal pair: 1, 10 and 100 registers through the gateway
  (minus 100 ms) beside the direct client, and the time the same exchange needs on a real
  115200-baud line (pseudo-terminals do not pace bytes);
- per read function (01 coils, 02 discrete inputs, 03 holding, 04 input registers), 10 and
  100 items, the direct client alone over TCP (persistent connection) and RTU: the
  baseline for the same reads through Vexo. --functions-only runs just this part.
"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "blackbox"))
os.environ.setdefault("VEXO_BUILD_DIR", os.path.join(ROOT, "build"))

import devsim  # noqa: E402
import vexotest  # noqa: E402

SETTLE_MS = 100.0
BAUD = 115200


def build_direct_client(workdir):
    exe = os.path.join(workdir, "directread")
    subprocess.run(["cc", "-O2", "-I/usr/include/modbus", os.path.join(HERE, "directread.c"), "-o", exe,
                    "-lmodbus"], check=True)
    return exe


def direct_ms(exe, args):
    out = subprocess.run([exe] + [str(a) for a in args], check=True, capture_output=True, text=True).stdout
    return float(out.split()[0]) / 1000.0


def ajax_median_ms(vexo, query, iterations):
    """Median time of one AJAX call on a kept-alive connection."""
    times = []
    with vexo.connect() as sock:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        request = ("GET /ajax.html?%s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % query).encode()
        for _ in range(iterations):
            start = time.perf_counter()
            sock.sendall(request)
            _, _, body, _ = vexotest.read_http_response(sock)
            times.append((time.perf_counter() - start) * 1000.0)
            if not body.startswith(b"["):
                raise RuntimeError("read failed: %r" % body)
    return statistics.median(times)


def ajax(vexo, params):
    with vexo.connect() as sock:
        sock.sendall(("GET /ajax.html?%s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
                      % urllib.parse.urlencode(params)).encode())
        return vexotest.read_http_response(sock)[2]


def wire_ms(count, bits_per_char):
    """One read on a real line: request 8 bytes, answer 5 + 2*count bytes, each frame
    followed by a silent interval of 3.5 characters; the slave answers at once."""
    chars = 8 + 5 + 2 * count + 2 * 3.5
    return chars * bits_per_char / BAUD * 1000.0


def bench_tcp(exe, iterations):
    with devsim.Devsim(["--tcp", "127.0.0.1:0"]) as device, vexotest.VexoInstance() as vexo:
        reply = ajax(vexo, {"func": "connect", "connType": "tcp", "ipAddres_tcp": "127.0.0.1",
                            "slaveID": 1, "port_tcp": device.port, "timeout": 1000})
        assert b"Connected" in reply, reply
        gateway = ajax_median_ms(vexo, "func=readRegisters&regAddr=0&valuesCnt=10", iterations) - SETTLE_MS
        persistent = direct_ms(exe, ["tcp", "127.0.0.1", device.port, 0, 10, iterations * 10])
        fresh = direct_ms(exe, ["tcp", "127.0.0.1", device.port, 0, 10, iterations * 10, "fresh"])
    print("TCP, 10 registers (median ms)")
    print("  gateway AJAX minus %.0f ms wait: %.3f" % (SETTLE_MS, gateway))
    print("  direct, persistent connection:  %.3f" % persistent)
    print("  direct, fresh connection:       %.3f" % fresh)
    print("  gateway overhead over fresh:    %.3f" % (gateway - fresh))


def bench_rtu(exe, iterations):
    print("RTU over a socat pty pair, %d baud set (median ms)" % BAUD)
    print("  %-9s %10s %8s %10s %10s" % ("registers", "gateway", "direct", "line 8N1", "line 8E1"))
    with devsim.PtyPair() as line, devsim.Devsim(["--rtu", line.second]) as _device, \
            vexotest.VexoInstance(config={"serial": {"extraPorts": line.first}}) as vexo:
        reply = ajax(vexo, {"func": "connect", "connType": "serial", "portSelect": line.first, "slaveID": 1,
                            "baudRate": 9, "mode": 3, "timeout": 100})
        assert b"Connected" in reply, reply
        gateway = {}
        for count in (1, 10, 100):
            gateway[count] = ajax_median_ms(
                vexo, "func=readRegisters&regAddr=0&valuesCnt=%d" % count, iterations) - SETTLE_MS
    with devsim.PtyPair() as line, devsim.Devsim(["--rtu", line.second]):
        for count in (1, 10, 100):
            direct = direct_ms(exe, ["rtu", line.first, BAUD, 0, count, iterations])
            print("  %-9d %10.3f %8.3f %10.3f %10.3f" % (count, gateway[count], direct, wire_ms(count, 10),
                                                        wire_ms(count, 11)))
    print("  (line: bits on a real 115200-baud line with 3.5-character gaps; 8N1 is 10 bits a")
    print("  character, 8E1 and 8N2 are 11; a 1.75 ms gap, as many devices use above 19200")
    print("  baud, adds about 2.9 ms per read)")


FUNCTIONS = ((1, "01 coils"), (2, "02 discrete inputs"), (3, "03 holding registers"), (4, "04 input registers"))


def bench_functions(exe, iterations):
    print("Direct libmodbus reads per function (median ms; TCP persistent connection, RTU pty)")
    print("  %-22s %10s %10s %10s %10s" % ("function", "TCP 10", "TCP 100", "RTU 10", "RTU 100"))
    with devsim.PtyPair() as line, devsim.Devsim(["--tcp", "127.0.0.1:0", "--rtu", line.second]) as device:
        for fc, name in FUNCTIONS:
            times = [direct_ms(exe, ["tcp", "127.0.0.1", device.port, 0, count, iterations * 10, "fc=%d" % fc])
                     for count in (10, 100)]
            times += [direct_ms(exe, ["rtu", line.first, BAUD, 0, count, iterations, "fc=%d" % fc])
                      for count in (10, 100)]
            print("  %-22s %10.3f %10.3f %10.3f %10.3f" % ((name,) + tuple(times)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--iterations", type=int, default=50)
    parser.add_argument("--functions-only", action="store_true")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as workdir:
        exe = build_direct_client(workdir)
        if not args.functions_only:
            bench_tcp(exe, args.iterations)
            bench_rtu(exe, args.iterations)
        bench_functions(exe, args.iterations)


if __name__ == "__main__":
    main()
