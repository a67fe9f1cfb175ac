#!/usr/bin/python3
"""Times Modbus reads through the gateway beside the same reads made directly.

  bench/modbus/bench_modbus.py [--iterations N]

Needs a build in build/ (or VEXO_BUILD_DIR), a C compiler with libmodbus-dev and socat.
Everything runs on loopback and pseudo-terminals. For each read function (01 coils, 02
discrete inputs, 03 holding registers, 04 input registers, 10 items each, with readTable) and
the legacy readRegisters (10 registers, its fixed 100 ms wait taken off), prints the median
time of one AJAX call on a kept-alive HTTP connection to vexo, which reads vexo-devsim, beside
the median of a plain libmodbus client reading the same device on a connection it keeps open,
over TCP on loopback and over a socat pseudo-terminal pair (RTU), as a Markdown table. The
direct client pauses 100 ms before each read where the gateway waits that long (untimed), so
that both meet a machine that has been idle as long. Pseudo-terminals do not pace bytes: the
bits a real 115200-baud line takes are printed apart.
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
import httpwire  # noqa: E402
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
            _, _, body, _ = httpwire.read_http_response(sock)
            times.append((time.perf_counter() - start) * 1000.0)
            if b'"error"' in body or not body.startswith((b"[", b"{")):
                raise RuntimeError("read failed: %r" % body)
    return statistics.median(times)


def ajax(vexo, params):
    with vexo.connect() as sock:
        sock.sendall(("GET /ajax.html?%s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
                      % urllib.parse.urlencode(params)).encode())
        return httpwire.read_http_response(sock)[2]


def wire_ms(count, bits_per_char):
    """One read on a real line: request 8 bytes, answer 5 + 2*count bytes, each frame
    followed by a silent interval of 3.5 characters; the slave answers at once."""
    chars = 8 + 5 + 2 * count + 2 * 3.5
    return chars * bits_per_char / BAUD * 1000.0


# (label, AJAX query of 10 items, direct client's function code, fixed wait to take off)
READS = (
    ("01 coils", "func=readTable&table=coils&addr=0&count=10", 1, 0.0),
    ("02 discrete inputs", "func=readTable&table=discrete&addr=0&count=10", 2, 0.0),
    ("03 holding registers", "func=readTable&table=holding&addr=0&count=10", 3, 0.0),
    ("04 input registers", "func=readTable&table=input&addr=0&count=10", 4, 0.0),
    ("readRegisters (03)", "func=readRegisters&regAddr=0&valuesCnt=10", 3, SETTLE_MS),
)


def gateway_ms(vexo, connect, iterations):
    """Median ms of each read of READS through vexo, after connecting it with connect."""
    reply = ajax(vexo, connect)
    assert b"Connected" in reply, reply
    return [ajax_median_ms(vexo, query, iterations) - wait for _, query, _, wait in READS]


def bench_gateway(exe, iterations):
    with devsim.PtyPair() as line, devsim.Devsim(["--tcp", "127.0.0.1:0", "--rtu", line.second]) as device, \
            vexotest.VexoInstance(config={"serial": {"extraPorts": line.first}}) as vexo:
        tcp = gateway_ms(vexo, {"func": "connect", "connType": "tcp", "ipAddres_tcp": "127.0.0.1", "slaveID": 1,
                                "port_tcp": device.port, "timeout": 1000}, iterations)
        tcp_direct = [direct_ms(exe, ["tcp", "127.0.0.1", device.port, 0, 10, iterations, "fc=%d" % fc,
                                      "pause=%d" % wait]) for _, _, fc, wait in READS]
        rtu = gateway_ms(vexo, {"func": "connect", "connType": "serial", "portSelect": line.first, "slaveID": 1,
                                "baudRate": 9, "mode": 3, "timeout": 100}, iterations)
        ajax(vexo, {"func": "disconnect"})
        rtu_direct = [direct_ms(exe, ["rtu", line.first, BAUD, 0, 10, iterations, "fc=%d" % fc,
                                      "pause=%d" % wait]) for _, _, fc, wait in READS]
    print("Reads of 10 items, median ms: through Vexo (AJAX on a kept-alive HTTP connection) and")
    print("direct (libmodbus, connection kept open); readRegisters without its fixed 100 ms wait,")
    print("its direct read after an untimed 100 ms pause")
    print("| read | TCP Vexo | TCP direct | TCP added | RTU pty Vexo | RTU pty direct | RTU added |")
    print("|---|---|---|---|---|---|---|")
    for i, (name, _, _, _) in enumerate(READS):
        print("| %s | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f |" % (
            name, tcp[i], tcp_direct[i], tcp[i] - tcp_direct[i], rtu[i], rtu_direct[i], rtu[i] - rtu_direct[i]))
    print("On a real 115200-baud line a 10-register read cannot take less than %.2f ms (8N1) or"
          " %.2f ms (8E1, 8N2): the bits on the wire." % (wire_ms(10, 10), wire_ms(10, 11)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--iterations", type=int, default=200)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as workdir:
        bench_gateway(build_direct_client(workdir), args.iterations)


if __name__ == "__main__":
    main()
