"""Load and faults on the real server over loopback (throughput is bench/http's): a stalled
client, also when the server quits, and clients that vanish in the middle of a request or an upload. The server must release the
handlers, drop half-received uploads and go on serving. Every loop is bounded in count and time."""
import os
import socket
import threading
import time
import unittest

from httpwire import exchange, multipart, request
from vexotest import VexoInstance, wait_until

MAX_THREADS = 5


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


class Load(unittest.TestCase):
    def test_a_client_that_stops_reading_a_large_file_holds_only_its_own_handler(self):
        big = os.urandom(1024 * 1024) * 32
        with VexoInstance(config={"listener": {"maxThreads": 2, "readTimeout": 3000}},
                          docroot_files={"big.bin": big}) as vexo:
            def stall():
                sock = vexo.connect()
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
                sock.sendall(request("GET", "/big.bin"))
                first = sock.recv(4096)
                self.assertTrue(first.startswith(b"HTTP/1.1 200"), first[:80])
                return sock

            stalled = stall()
            # The server fills the socket buffers and blocks in its write; the other handler serves.
            for _ in range(3):
                self.assertTrue(wait_until(lambda: fetch(vexo, "/ajax.html") is not None, 5))
            # The stalled client vanishes; its handler must come back, and the file arrives intact.
            abort_connection(stalled)
            self.assertTrue(wait_until(lambda: all_served(vexo, 2), 10, step=0.3))
            downloads = []
            self.assertTrue(wait_until(lambda: downloads.append(fetch(vexo, "/big.bin", 30)) or downloads[-1],
                                       10, step=0.3))
            self.assertEqual(downloads[-1], big)
            # Quitting does not wait for a client that stopped reading (its reply has no time limit).
            with stall():
                vexo.process.terminate()
                self.assertEqual(vexo.process.wait(10), 0)

    def test_clients_that_disconnect_mid_request_or_mid_upload(self):
        vexo = VexoInstance(config={"listener": {"maxThreads": MAX_THREADS, "readTimeout": 5000,
                                                 "maxMultiPartSize": 1000000}})
        self.addCleanup(vexo.cleanup)
        content = bytes(range(256)) * 1024
        body, headers = multipart([("note", "half")], [("uploadedfile", "half.bin", content)])
        head = request("POST", "/loadFile.html", headers, length=len(body))
        pieces = [b"GET /ajax.html?func=getGeneralInfo HT", b"GET /ajax.html HTTP/1.1\r\nX-Half: val",
                  b"POST /ajax.html HTTP/1.1\r\nContent-Length: 100\r\n\r\nfunc=abc&x=", b"GET /ajax.html HTTP/1.1\r\n"]
        pieces += [head + body[:len(body) * tenths // 10] for tenths in range(1, 10)]

        def vanish(i):
            try:
                s = vexo.connect()
                s.sendall(pieces[i % len(pieces)])
            except OSError:
                return  # a full pool answered 503 and closed: also fine for this client
            time.sleep(0.01)
            if i % 2:
                abort_connection(s)
            else:
                s.close()

        for batch in range(130 // MAX_THREADS):
            run_parallel(MAX_THREADS, lambda i: vanish(batch * MAX_THREADS + i))
        self.assertTrue(wait_until(lambda: all_served(vexo, MAX_THREADS), 10, step=0.2))
        # A half upload's temporary file lives at most until its handler takes the next
        # connection: never more of them than handlers.
        left = [n for n in os.listdir(vexo.tmp) if not n.startswith("VexoAdmin")]
        self.assertLessEqual(len(left), MAX_THREADS, left)

        # A complete upload after all that arrives intact. The handlers of the probe connections
        # above free themselves only once they have seen those close: a 503 then is asked again.
        def upload():
            try:
                with vexo.connect(timeout=10) as s:
                    return exchange(s, "POST", "/loadFile.html", headers, body)
            except (OSError, ConnectionError) as error:
                return "HTTP/1.1 503 (%s)" % error, [], b""

        replies = []
        wait_until(lambda: replies.append(upload()) or not replies[-1][0].startswith("HTTP/1.1 503"), 5, 0.1)
        self.assertEqual((replies[-1][0], replies[-1][2]), ("HTTP/1.1 200 OK", content))


if __name__ == "__main__":
    unittest.main()
