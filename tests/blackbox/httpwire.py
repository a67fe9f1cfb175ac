"""Raw HTTP over loopback sockets for the black-box tests: the one request builder, the one
multipart builder and the readers of what the server sends back."""
import socket

AJAX_EMPTY = (b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n"
              b"Content-Type: text/html; charset=utf-8\r\n\r\n")
REPLY_413 = b"HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n"
REPLY_503 = b"HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n"


def ajax_reply(body):
    return (b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n"
            b"Content-Type: text/html; charset=utf-8\r\n\r\n" % len(body)) + body


def request(method, path, headers=(), body=b"", close=False, length=None):
    """One request's bytes. `headers`: a dict or (name, value) pairs, sent in order after Host
    (give host=None in a dict, or a "Host" pair, to replace it). Content-Length follows the body
    unless `length` announces another one."""
    pairs = list(headers.items()) if isinstance(headers, dict) else list(headers)
    if not any(name.lower() == "host" for name, _ in pairs):
        pairs.insert(0, ("Host", "127.0.0.1"))
    if close:
        pairs.append(("Connection", "close"))
    if body or length is not None:
        pairs.append(("Content-Length", len(body) if length is None else length))
    head = "%s %s HTTP/1.1\r\n" % (method, path if isinstance(path, str) else path.decode("latin-1"))
    head += "".join("%s: %s\r\n" % (n, v) for n, v in pairs if v is not None)
    return head.encode("latin-1") + b"\r\n" + body


def multipart(fields=(), files=(), boundary="vexoTestBoundary"):
    """A multipart/form-data body from (name, text) fields and (name, file name, bytes) files;
    returns (body, headers for request())."""
    out = b""
    for name, value in fields:
        out += ("--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n" % (boundary, name)).encode()
        out += (value if isinstance(value, bytes) else value.encode()) + b"\r\n"
    for name, filename, content in files:
        out += ("--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
                "Content-Type: application/octet-stream\r\n\r\n" % (boundary, name, filename)).encode()
        out += content + b"\r\n"
    out += ("--%s--\r\n" % boundary).encode()
    return out, {"Content-Type": "multipart/form-data; boundary=" + boundary}


class Reply:
    def __init__(self, status_line, headers, body):
        self.status_line = status_line
        self.status = int(status_line.split(" ", 2)[1])
        self.headers = headers
        self.body = body

    def header(self, name):
        """Value of the header named exactly `name` (letter case included), or None."""
        return next((v for n, v in self.headers if n == name), None)


def send(instance, method, path, headers=(), body=b"", timeout=10.0):
    """One request on a connection of its own; returns the Reply."""
    with instance.connect(timeout) as sock:
        sock.sendall(request(method, path, headers, body, close=True))
        status, hdrs, data, _ = read_http_response(sock, timeout)
    return Reply(status, hdrs, data)


def exchange(sock, method, path, headers=(), body=b"", timeout=10.0):
    """One request on an open connection: (status line, headers, body)."""
    sock.sendall(request(method, path, headers, body))
    return read_http_response(sock, timeout)[:3]


def receive_until_close(sock, timeout=5.0):
    """Everything the peer sends until it closes: (bytes, closed)."""
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


def read_http_response(sock, timeout=5.0, chunk_sizes=None):
    """Reads one response (Content-Length, chunked or until close) from sock: (status line,
    headers as (name, value) pairs, body, bytes after it). `chunk_sizes`, a list, collects the
    sizes of a chunked body's chunks."""
    sock.settimeout(timeout)
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed before headers: %r" % data)
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    lines = head.split(b"\r\n")
    headers = [tuple(part.strip().decode("latin-1") for part in line.split(b":", 1)) for line in lines[1:]]
    hmap = {n.lower(): v for n, v in headers}

    def more():
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed inside body")
        return chunk

    if "content-length" in hmap:
        n = int(hmap["content-length"])
        while len(rest) < n:
            rest += more()
        return lines[0].decode("latin-1"), headers, rest[:n], rest[n:]
    if hmap.get("transfer-encoding", "").lower() == "chunked":
        body = b""
        while True:
            while b"\r\n" not in rest:
                rest += more()
            size_line, rest = rest.split(b"\r\n", 1)
            size = int(size_line, 16)
            if chunk_sizes is not None:
                chunk_sizes.append(size)
            while len(rest) < size + 2:
                rest += more()
            body += rest[:size]
            rest = rest[size + 2:]
            if size == 0:
                return lines[0].decode("latin-1"), headers, body, rest
    return lines[0].decode("latin-1"), headers, rest + receive_until_close(sock, timeout)[0], b""
