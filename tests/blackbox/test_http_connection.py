"""The HTTP server over raw loopback sockets: keep-alive, pipelining, closing, time-outs, the
fixed 413 and 503 replies, uploads and the pool of connection handlers."""
import os
import subprocess
import time
import unittest

from httpwire import (AJAX_EMPTY, REPLY_413, REPLY_503, ajax_reply, multipart, receive_exactly,
                      receive_until_close, request)
from vexotest import VexoInstance, wait_until

READ_TIMEOUT_MS = 700
DEVICES = "/ajax.html?func=getSearchedDevices"


def get(path, *headers):
    return request("GET", path, headers)


class HttpConnectionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.vexo = VexoInstance(config={"listener": {"readTimeout": READ_TIMEOUT_MS, "maxRequestSize": 2000,
                                                     "maxMultiPartSize": 3000000}})

    @classmethod
    def tearDownClass(cls):
        cls.vexo.cleanup()

    def test_keeps_the_connection_and_answers_pipelined_requests_in_order(self):
        with self.vexo.connect() as sock:
            sock.sendall(get(DEVICES) + get("/ajax.html") + get("/x/ajax.html.old?func=Connect"))
            expected = ajax_reply(b"[]") + AJAX_EMPTY + AJAX_EMPTY
            self.assertEqual(receive_exactly(sock, len(expected)), expected)
            # HTTP/1.0 without a Connection header is kept open as well.
            sock.sendall(b"GET /ajax.html HTTP/1.0\r\n\r\n")
            self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)
            sock.sendall(get("/ajax.html"))
            self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)

    def test_closes_after_connection_close_in_any_case(self):
        for value in ("close", "CLOSE", "Close"):
            with self.vexo.connect() as sock:
                # A request pipelined after the closing one is not answered.
                sock.sendall(get("/ajax.html", ("Connection", value)) + get(DEVICES))
                self.assertEqual(receive_until_close(sock), (AJAX_EMPTY, True), value)

    def test_read_timeout_closes_silently(self):
        for first in (get("/ajax.html"), b"GET /ajax.html HT"):
            with self.vexo.connect() as sock:
                sock.sendall(first)
                if first.endswith(b"\r\n\r\n"):
                    self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)
                started = time.monotonic()
                self.assertEqual(receive_until_close(sock, timeout=READ_TIMEOUT_MS / 1000 + 5), (b"", True))
                self.assertGreater(time.monotonic() - started, READ_TIMEOUT_MS / 1000 * 0.8)

    def test_aborted_requests_get_the_fixed_413_reply(self):
        too_long_header = get("/ajax.html", ("X-Pad", "p" * 2000))
        announced_body = request("POST", "/ajax.html", length=5000)
        _, headers = multipart(boundary="B")
        too_big_upload = request("POST", "/loadFile.html", headers, length=3000001)
        for sent in (b"GET /only-two-parts\r\n\r\n", b"GET / HTTP/1.1 extra\r\n\r\n", b"\x00\x01\x02\r\n\r\n",
                     too_long_header, announced_body, too_big_upload,
                     request("POST", "/", length=99999999999)):
            with self.vexo.connect() as sock:
                sock.sendall(sent)
                self.assertEqual(receive_until_close(sock), (REPLY_413, True), sent[:40])
        with self.vexo.connect() as sock:
            sock.sendall(get("/ajax.html"))
            self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)

    def test_slow_upload_larger_than_one_read(self):
        content = bytes(range(256)) * 4000 + b"\r\n--A is no boundary\r\n"
        body, headers = multipart(files=[("uploadedfile", "big.bin", content)], boundary="B")
        sent = request("POST", "/loadFile.html", headers, body)
        with self.vexo.connect() as sock:
            # About twice the read time-out in total; every piece restarts the timer.
            pieces = [sent[i:i + 40000] for i in range(0, len(sent), 40000)]
            for piece in pieces:
                sock.sendall(piece)
                time.sleep(2 * READ_TIMEOUT_MS / 1000 / len(pieces))
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
                                 "-F", "filename=upload.bin", self.vexo.url("/loadFile.html")], capture_output=True)
        self.assertEqual((result.returncode, result.stdout), (0, content))


class HttpPoolTest(unittest.TestCase):
    def held_connection(self, vexo):
        """A kept-alive connection that owns a handler. A handler whose previous connection has
        just closed may be found busy once more, so a 503 here is retried."""
        for _ in range(100):
            sock = vexo.connect()
            sock.sendall(get("/ajax.html"))
            if receive_exactly(sock, len(AJAX_EMPTY)) == AJAX_EMPTY:
                return sock
            sock.close()
        raise AssertionError("no handler became free")

    def served(self, vexo):
        with vexo.connect() as sock:
            sock.sendall(get("/ajax.html", ("Connection", "close")))
            return receive_until_close(sock)[0] == AJAX_EMPTY

    def test_rejects_beyond_max_threads_until_a_handler_is_free(self):
        with VexoInstance(config={"listener": {"maxThreads": 2, "readTimeout": 1500}}) as vexo:
            held = [self.held_connection(vexo) for _ in range(2)]
            with vexo.connect() as rejected:
                self.assertEqual(receive_until_close(rejected), (REPLY_503, True))
            # The held connections are still served...
            for sock in held:
                sock.sendall(get("/ajax.html"))
                self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)
            # ...and an idle one is dropped at the read time-out, which frees its handler.
            self.assertEqual(receive_until_close(held[0], timeout=5), (b"", True))
            self.assertTrue(wait_until(lambda: self.served(vexo)))
            for sock in held:
                sock.close()


if __name__ == "__main__":
    unittest.main()
