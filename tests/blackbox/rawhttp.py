"""Small raw HTTP client for black-box tests: one request per call on its own connection,
the reply read with vexotest.read_http_response (Content-Length, chunked or until close)."""
import socket

import vexotest


class Reply:
    def __init__(self, status_line, headers, body):
        self.status_line = status_line
        self.status = int(status_line.split(" ", 2)[1])
        self.headers = headers
        self.body = body

    def header(self, name):
        """Value of the header named exactly `name` (letter case included), or None."""
        for n, v in self.headers:
            if n == name:
                return v
        return None

    def names(self):
        return [n for n, _ in self.headers]


def request_bytes(method, path, headers=None, body=b"", close=True):
    head = "%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\n" % (method, path)
    if close:
        head += "Connection: close\r\n"
    for name, value in (headers or {}).items():
        head += "%s: %s\r\n" % (name, value)
    if body or method == "POST":
        head += "Content-Length: %d\r\n" % len(body)
    return head.encode("latin-1") + b"\r\n" + body


def send(instance, method, path, headers=None, body=b"", timeout=10.0):
    with instance.connect(timeout) as sock:
        sock.sendall(request_bytes(method, path, headers, body))
        status, hdrs, data, _ = vexotest.read_http_response(sock, timeout)
    return Reply(status, hdrs, data)


def get(instance, path, headers=None):
    return send(instance, "GET", path, headers)


def post_form(instance, path, form, headers=None):
    """POST of an application/x-www-form-urlencoded body; `form` is a list of (name, value)."""
    from urllib.parse import quote_from_bytes
    parts = []
    for name, value in form:
        value = value if isinstance(value, bytes) else value.encode("utf-8")
        parts.append(name + "=" + quote_from_bytes(value, safe=b""))
    all_headers = {"Content-Type": "application/x-www-form-urlencoded"}
    all_headers.update(headers or {})
    return send(instance, "POST", path, all_headers, "&".join(parts).encode("ascii"))


def post_multipart(instance, path, field, filename, content):
    boundary = "----vexoTestBoundary7MA4YWxk"
    body = ("--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n" % (boundary, field, filename)).encode()
    body += content + ("\r\n--%s--\r\n" % boundary).encode()
    return send(instance, "POST", path, {"Content-Type": "multipart/form-data; boundary=" + boundary}, body)


def raw_chunk_sizes(instance, path):
    """The chunk sizes of a chunked reply, in order, the final 0 included."""
    with instance.connect() as sock:
        sock.sendall(request_bytes("GET", path, close=False))
        data = b""
        while True:
            piece = sock.recv(1 << 20)
            if not piece:
                break
            data += piece
            if data.endswith(b"\r\n0\r\n\r\n"):
                break
    rest = data.split(b"\r\n\r\n", 1)[1]
    sizes = []
    while True:
        size_line, rest = rest.split(b"\r\n", 1)
        size = int(size_line, 16)
        sizes.append(size)
        rest = rest[size + 2:]
        if size == 0:
            return sizes
