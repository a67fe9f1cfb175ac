"""Helpers for the load and fault tests: parallel clients and the checks every such test
ends with."""
import socket
import threading
import time

from httpwire import exchange


def abort_connection(sock):
    """Closes with a reset instead of an orderly shutdown, as a crashed client would."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    sock.close()


def run_parallel(count, work):
    """Runs work(index) on `count` threads; returns the exceptions they raised."""
    errors = []

    def body(i):
        try:
            work(i)
        except Exception as e:  # collected and reported by the caller
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
