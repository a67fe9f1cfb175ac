"""The Modbus side of the black-box tests and benchmarks: vexo-devsim (one log line per
request; faults switched while it runs), socat pseudo-terminal pairs, the pymodbus peer,
and AJAX calls to a running vexo.
    with PtyPair() as line, Devsim(["--tcp", "127.0.0.1:0", "--rtu", line.second]) as device: ...
"""
import http.client
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

from vexotest import BUILD_DIR

NO_ANSWER = "I/O error: did not receive any data from slave."


def ajax(vexo, params, timeout=30.0):
    """One AJAX call on its own connection; returns (status line, lower-cased headers, body)."""
    connection = http.client.HTTPConnection("127.0.0.1", vexo.port, timeout=timeout)
    try:
        connection.request("GET", "/ajax.html?" + urllib.parse.urlencode(params))
        reply = connection.getresponse()
        status = "HTTP/%.1f %d %s" % (reply.version / 10, reply.status, reply.reason)
        return status, {n.lower(): v for n, v in reply.getheaders()}, reply.read()
    finally:
        connection.close()


def body(vexo, params, timeout=30.0):
    return ajax(vexo, params, timeout)[2]


def call(vexo, params):
    """The JSON reply of one AJAX call."""
    return json.loads(body(vexo, params))


def tcp_connect_params(port, timeout=1000, host="127.0.0.1"):
    return {"func": "connect", "connType": "tcp", "ipAddres_tcp": host, "slaveID": 1, "port_tcp": port,
            "timeout": timeout}


def serial_connect_params(port, baud=9, mode=3, timeout=100):
    return {"func": "connect", "connType": "serial", "portSelect": port, "slaveID": 1, "baudRate": baud,
            "mode": mode, "timeout": timeout}


def read_params(address, count, **extra):
    return dict({"func": "readRegisters", "regAddr": address, "valuesCnt": count}, **extra)


def table_params(table, addr, count, value_type=None, order=None, **extra):
    params = {"func": "readTable", "table": table, "addr": addr, "count": count}
    params.update({k: v for k, v in (("type", value_type), ("order", order)) if v})
    params.update(extra)
    return params


def write_params(address, count, values, **extra):
    return dict({"func": "writeRegisters", "regAddr": address, "valuesCnt": count,
                 "regVals": urllib.parse.quote(values)}, **extra)


class _StoppedOnExit:
    """Context manager support for helpers that own a process: leaving the block stops it."""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Devsim(_StoppedOnExit):
    def __init__(self, args, timeout=10.0):
        self.dir = tempfile.mkdtemp(prefix="vexo-devsim-")
        self.control = os.path.join(self.dir, "control")
        self.lines = []
        self._lock = threading.Lock()
        self._ready = threading.Event()
        self.process = subprocess.Popen([os.path.join(BUILD_DIR, "vexo-devsim")] + list(args)
                                        + ["--log-requests", "--control", self.control],
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self._expect = "listening on rtu" if "--rtu" in args else "listening on tcp"
        threading.Thread(target=self._read, daemon=True).start()
        if not self._ready.wait(timeout):
            self.stop()
            raise RuntimeError("vexo-devsim did not start: %r" % self.lines)
        match = next((re.search(r"listening on tcp .*:(\d+)", l) for l in self.lines if "on tcp" in l), None)
        self.port = int(match.group(1)) if match else None

    def _read(self):
        for raw in self.process.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            with self._lock:
                self.lines.append(line)
            if line.startswith(self._expect):
                self._ready.set()

    def requests(self, function=None):
        """The request lines logged so far (of one function code), oldest first."""
        time.sleep(0.05)  # the log line of the last request may still be in the pipe
        prefix = "request function=" if function is None else "request function=%d " % function
        with self._lock:
            return [l for l in self.lines if l.startswith(prefix)]

    def request_count(self, function=None):
        return len(self.requests(function))

    def set_fault(self, mode, delay_ms=0):
        new = self.control + ".new"
        with open(new, "w") as f:
            f.write("fault=%s\ndelay=%d\n" % (mode, delay_ms))
        os.replace(new, self.control)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class PtyPair(_StoppedOnExit):
    """Two connected pseudo-terminals; `first` and `second` are stable links to them."""

    def __init__(self, timeout=10.0):
        self.dir = tempfile.mkdtemp(prefix="vexo-pty-")
        self.first = os.path.join(self.dir, "ptyA")
        self.second = os.path.join(self.dir, "ptyB")
        self.process = subprocess.Popen(["socat", "-d", "-d", "pty,raw,echo=0,link=" + self.first,
                                         "pty,raw,echo=0,link=" + self.second],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout
        while not (os.path.exists(self.first) and os.path.exists(self.second)):
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.stop()
                raise RuntimeError("socat did not make the pseudo-terminals")
            time.sleep(0.02)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class PymodbusPeer(_StoppedOnExit):
    """pymodbus_peer.py as a child process: an independent Modbus TCP device on loopback."""

    def __init__(self):
        self.process = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "pymodbus_peer.py")],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("port "):
            self.stop()
            raise RuntimeError("pymodbus peer did not start: %r" % line)
        self.port = int(line.split()[1])

    def command(self, text):
        self.process.stdin.write(text + "\n")
        self.process.stdin.flush()
        while True:  # the server library may print lines of its own
            line = self.process.stdout.readline()
            if not line or line.startswith("= "):
                return line.strip()[2:]

    def stop(self):
        self.process.kill()
        self.process.wait()
        self.process.stdin.close()
        self.process.stdout.close()
