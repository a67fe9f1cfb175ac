"""Raw-socket helpers for the HTTP server's black-box tests."""
import socket
import time

AJAX_EMPTY = (b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n"
              b"Content-Type: text/html; charset=utf-8\r\n\r\n")
REPLY_413 = b"HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n"
REPLY_503 = b"HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n"


def get(path, extra_headers=b""):
    return b"GET " + path + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra_headers + b"\r\n"


def ajax_reply(body):
    return (b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n"
            b"Content-Type: text/html; charset=utf-8\r\n\r\n" % len(body)) + body


def receive_until_close(sock, timeout=5.0):
    """Everything the peer sends until it closes. Returns (bytes, closed)."""
    sock.settimeout(timeout)
    data = b""
    try:
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                return data, True
            data += chunk
    except socket.timeout:
        return data, False
    except ConnectionResetError:
        return data, True


def receive_exactly(sock, size, timeout=5.0):
    sock.settimeout(timeout)
    data = b""
    while len(data) < size:
        chunk = sock.recv(size - len(data))
        if not chunk:
            break
        data += chunk
    return data


def multipart_body(boundary, fields=(), files=()):
    """fields: (name, value) pairs; files: (name, filename, content) triples."""
    out = b""
    for name, value in fields:
        out += (b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"" + name
                + b"\"\r\n\r\n" + value + b"\r\n")
    for name, filename, content in files:
        out += (b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"" + name
                + b"\"; filename=\"" + filename + b"\"\r\nContent-Type: application/octet-stream\r\n\r\n"
                + content + b"\r\n")
    return out + b"--" + boundary + b"--\r\n"


def multipart_post(path, boundary, body):
    return (b"POST " + path + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            b"Content-Type: multipart/form-data; boundary=" + boundary
            + b"\r\nContent-Length: %d\r\n\r\n" % len(body))


def wait_until(condition, timeout=5.0, step=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()
