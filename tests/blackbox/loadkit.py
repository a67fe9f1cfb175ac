"""Helpers for the load and fault tests: raw HTTP over loopback sockets, process memory,
multipart bodies and the checks every such test ends with."""
import os
import socket
import threading
import time

from vexotest import read_http_response

REPLY_503 = b"HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n"
REPLY_413 = b"HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n"


def request_bytes(method, path, headers=None, body=b""):
    lines = ["%s %s HTTP/1.1" % (method, path), "Host: 127.0.0.1"]
    for name, value in (headers or {}).items():
        lines.append("%s: %s" % (name, value))
    if body:
        lines.append("Content-Length: %d" % len(body))
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


def exchange(sock, method, path, headers=None, body=b"", timeout=10.0):
    """Sends one request on an open connection and returns (status line, headers, body)."""
    sock.sendall(request_bytes(method, path, headers, body))
    status, hdrs, data, _ = read_http_response(sock, timeout=timeout)
    return status, hdrs, data


def read_until_closed(sock, timeout):
    """Everything the server sends until it closes; raises socket.timeout if it does not."""
    sock.settimeout(timeout)
    data = b""
    while True:
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            return data
        if not chunk:
            return data
        data += chunk


def abort_connection(sock):
    """Closes with a reset instead of an orderly shutdown, as a crashed client would."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    sock.close()


def multipart(fields, files, boundary="vexoLoadBoundary"):
    """A multipart/form-data body from {name: text} and {name: (file name, bytes)}."""
    parts = []
    for name, value in fields.items():
        parts.append(("--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n" % (boundary, name)).encode()
                     + value.encode() + b"\r\n")
    for name, (filename, content) in files.items():
        parts.append(("--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
                      "Content-Type: application/octet-stream\r\n\r\n" % (boundary, name, filename)).encode()
                     + content + b"\r\n")
    body = b"".join(parts) + ("--%s--\r\n" % boundary).encode()
    return body, "multipart/form-data; boundary=%s" % boundary


def upload_of_size(total, boundary="vexoLoadBoundary"):
    """A one-file upload whose multipart body is exactly `total` bytes; returns (body, type, content)."""
    empty, content_type = multipart({}, {"uploadedfile": ("load.bin", b"")}, boundary)
    content = bytes((i * 7 + 3) % 251 for i in range(total - len(empty)))
    body, _ = multipart({}, {"uploadedfile": ("load.bin", content)}, boundary)
    assert len(body) == total
    return body, content_type, content


def vmrss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for %d" % pid)


def thread_count(pid):
    return len(os.listdir("/proc/%d/task" % pid))


def sanitized(exe):
    """True when the executable was built with a sanitizer (its memory use is not comparable)."""
    with open(exe, "rb") as f:
        data = f.read()
    return b"__asan_init" in data or b"__tsan_init" in data


def upload_leftovers(vexo):
    """Files in the instance's temporary directory other than its single-instance lock and socket."""
    return [n for n in os.listdir(vexo.tmp) if not n.startswith("VexoAdmin")]


def run_parallel(count, work):
    """Runs work(index) on `count` threads; returns the exceptions they raised."""
    errors = []
    lock = threading.Lock()

    def body(i):
        try:
            work(i)
        except Exception as e:  # collected and reported by the caller
            with lock:
                errors.append("%d: %r" % (i, e))

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return errors


def latencies_while(vexo, busy, interval, limit_s):
    """Asks for one page every `interval` seconds while busy() holds, for at most limit_s;
    returns how long each answer took. A request that is not served fails the caller."""
    latencies = []
    start = time.monotonic()
    while busy() and time.monotonic() - start < limit_s:
        t0 = time.monotonic()
        if not served(vexo):
            raise AssertionError("a request was not served while the load ran")
        latencies.append(time.monotonic() - t0)
        time.sleep(interval)
    return latencies


def fetch(vexo, path, timeout=5.0):
    """The body of one GET on a fresh connection, or None when it was not served: a full pool
    answers 503 and closes, which may reach the client as a reset while its request is unread."""
    try:
        with vexo.connect(timeout=timeout) as s:
            status, _, body = exchange(s, "GET", path, {"Connection": "close"}, timeout=timeout)
    except (OSError, ConnectionError):
        return None
    return body if status.startswith("HTTP/1.1 200") else None


def all_served(vexo, count, timeout=10.0):
    """`count` connections open at once all get an answer: that many handlers are free."""
    conns = []

    def ask(i):
        status = exchange(conns[i], "GET", "/ajax.html?n=%d" % i, timeout=timeout)[0]
        if not status.startswith("HTTP/1.1 200"):
            raise AssertionError(status)

    try:
        for _ in range(count):
            conns.append(vexo.connect(timeout=timeout))
        return not run_parallel(count, ask)
    except (OSError, ConnectionError):
        return False
    finally:
        for s in conns:
            s.close()


def served(vexo, timeout=5.0):
    """One complete request/response on a fresh connection: the server still serves."""
    return fetch(vexo, "/ajax.html", timeout) is not None


def report(name, **figures):
    print("FIGURES %s: %s" % (name, ", ".join("%s=%s" % kv for kv in figures.items())), flush=True)
