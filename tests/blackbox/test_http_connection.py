"""The HTTP server over raw loopback sockets: keep-alive, pipelining, closing, time-outs,
the fixed 413 reply and uploads."""
import os
import subprocess
import time
import unittest

from httpwire import (AJAX_EMPTY, REPLY_413, ajax_reply, get, multipart_body, multipart_post,
                      receive_exactly, receive_until_close)
from vexotest import VexoInstance

READ_TIMEOUT_MS = 700
DEVICES = b"/ajax.html?func=getSearchedDevices"


class HttpConnectionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.vexo = VexoInstance(config={"listener": {"readTimeout": READ_TIMEOUT_MS,
                                                     "maxRequestSize": 2000,
                                                     "maxMultiPartSize": 3000000}})

    @classmethod
    def tearDownClass(cls):
        cls.vexo.cleanup()

    def test_keeps_the_connection_for_further_requests(self):
        with self.vexo.connect() as sock:
            for path, reply in ((b"/ajax.html", AJAX_EMPTY), (DEVICES, ajax_reply(b"[]")),
                                (b"/x/ajax.html.old?func=Connect", AJAX_EMPTY)):
                sock.sendall(get(path))
                self.assertEqual(receive_exactly(sock, len(reply)), reply)
            # HTTP/1.0 without a Connection header is kept open as well.
            sock.sendall(b"GET /ajax.html HTTP/1.0\r\n\r\n")
            self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)

    def test_answers_pipelined_requests_in_order(self):
        with self.vexo.connect() as sock:
            sock.sendall(get(DEVICES) + get(b"/ajax.html") + get(DEVICES))
            expected = ajax_reply(b"[]") + AJAX_EMPTY + ajax_reply(b"[]")
            self.assertEqual(receive_exactly(sock, len(expected)), expected)
            # Nothing more follows and the connection is still usable.
            sock.sendall(get(b"/ajax.html"))
            self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)

    def test_closes_after_connection_close_in_any_case(self):
        for value in (b"close", b"CLOSE", b"Close"):
            with self.vexo.connect() as sock:
                # A request pipelined after the closing one is not answered.
                sock.sendall(get(b"/ajax.html", b"Connection: " + value + b"\r\n") + get(DEVICES))
                data, closed = receive_until_close(sock)
                self.assertTrue(closed, value)
                self.assertEqual(data, AJAX_EMPTY)

    def test_read_timeout_closes_silently(self):
        with self.vexo.connect() as sock:
            sock.sendall(get(b"/ajax.html"))
            self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)
            started = time.monotonic()
            data, closed = receive_until_close(sock, timeout=READ_TIMEOUT_MS / 1000 + 5)
            waited = time.monotonic() - started
            self.assertTrue(closed)
            self.assertEqual(data, b"")
            self.assertGreater(waited, READ_TIMEOUT_MS / 1000 * 0.8)
        # Inside a request as well: half a request line gets no reply either.
        with self.vexo.connect() as sock:
            sock.sendall(b"GET /ajax.html HT")
            data, closed = receive_until_close(sock, timeout=READ_TIMEOUT_MS / 1000 + 5)
            self.assertTrue(closed)
            self.assertEqual(data, b"")

    def test_aborted_requests_get_the_fixed_413_reply(self):
        too_long_header = get(b"/ajax.html", b"X-Pad: " + b"p" * 2000 + b"\r\n")
        announced_body = b"POST /ajax.html HTTP/1.1\r\nContent-Length: 5000\r\n\r\n"
        multipart = multipart_post(b"/loadFile.html", b"B", b"x" * 3000001)
        for request in (b"GET /only-two-parts\r\n\r\n", b"GET / HTTP/1.1 extra\r\n\r\n",
                        too_long_header, announced_body, multipart):
            with self.vexo.connect() as sock:
                sock.sendall(request)
                data, closed = receive_until_close(sock)
                self.assertEqual(data, REPLY_413, request[:40])
                self.assertEqual(len(data), 74)
                self.assertTrue(closed)
        # The server goes on serving.
        with self.vexo.connect() as sock:
            sock.sendall(get(b"/ajax.html"))
            self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)

    def test_slow_upload_larger_than_one_read(self):
        content = bytes(range(256)) * 4000 + b"\r\n--A is no boundary\r\n"
        body = multipart_body(b"B", files=((b"uploadedfile", b"big.bin", content),))
        request = multipart_post(b"/loadFile.html", b"B", body) + body
        with self.vexo.connect() as sock:
            # About twice the read time-out in total; every piece restarts the timer.
            pieces = [request[i:i + 40000] for i in range(0, len(request), 40000)]
            pause = 2 * READ_TIMEOUT_MS / 1000 / len(pieces)
            for piece in pieces:
                sock.sendall(piece)
                time.sleep(pause)
            head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nContent-type: text/plain\r\n\r\n" % len(content)
            self.assertEqual(receive_exactly(sock, len(head) + len(content), timeout=10), head + content)
        # The uploads' temporary files are gone with their requests.
        self.assertEqual([n for n in os.listdir(self.vexo.tmp) if n.startswith("qt_temp")], [])

    def test_curl_upload_comes_back_unchanged(self):
        path = os.path.join(self.vexo.dir, "upload.bin")
        content = os.urandom(300000)
        with open(path, "wb") as f:
            f.write(content)
        result = subprocess.run(["curl", "-s", "--max-time", "10", "-F", "uploadedfile=@" + path,
                                 "-F", "filename=upload.bin", self.vexo.url("/loadFile.html")],
                                capture_output=True)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, content)


if __name__ == "__main__":
    unittest.main()
