"""Connection handlers as a limited pool: the fixed 503 reply when all are busy, and a
handler free again once its connection has gone."""
import time
import unittest

from httpwire import AJAX_EMPTY, REPLY_503, get, receive_exactly, receive_until_close, wait_until
from vexotest import VexoInstance


def served(vexo):
    """True when a fresh connection is answered normally."""
    with vexo.connect() as sock:
        sock.sendall(get(b"/ajax.html", b"Connection: close\r\n"))
        data, _ = receive_until_close(sock)
        return data == AJAX_EMPTY


def held_connection(vexo, attempts=100):
    """A kept-alive connection that owns a handler. A handler whose previous connection has
    just closed may be found busy once more, so a 503 here is retried."""
    for _ in range(attempts):
        sock = vexo.connect()
        sock.sendall(get(b"/ajax.html"))
        if receive_exactly(sock, len(AJAX_EMPTY)) == AJAX_EMPTY:
            return sock
        sock.close()
    raise AssertionError("no handler became free")


class HttpPoolTest(unittest.TestCase):
    def test_rejects_a_connection_beyond_max_threads(self):
        with VexoInstance(config={"listener": {"maxThreads": 1}}) as vexo:
            with held_connection(vexo) as held:
                for _ in range(2):
                    with vexo.connect() as rejected:
                        data, closed = receive_until_close(rejected)
                        self.assertEqual(data, REPLY_503)
                        self.assertEqual(len(data), 78)
                        self.assertTrue(closed)
                # The held connection is still served...
                held.sendall(get(b"/ajax.html"))
                self.assertEqual(receive_exactly(held, len(AJAX_EMPTY)), AJAX_EMPTY)
            # ...and once it is gone its handler takes the next one.
            self.assertTrue(wait_until(lambda: served(vexo)))
            self.assertIn("HttpListener: Too many incoming connections, rejecting new connection.",
                          vexo.log_text())

    def test_no_rejection_below_max_threads(self):
        with VexoInstance(config={"listener": {"maxThreads": 4}}) as vexo:
            # The start-up probe's handler frees itself once it has seen the probe close; on a
            # loaded machine that can take a moment, and only that one handler can be late.
            time.sleep(0.3)
            held = [held_connection(vexo, attempts=20) for _ in range(4)]
            try:
                before = vexo.log_text().count("rejecting new connection")
                self.assertLessEqual(before, 1)
                for sock in held:
                    sock.sendall(get(b"/ajax.html"))
                    self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)
                with vexo.connect() as fifth:
                    self.assertEqual(receive_until_close(fifth)[0], REPLY_503)
                self.assertTrue(wait_until(
                    lambda: vexo.log_text().count("rejecting new connection") == before + 1))
            finally:
                for sock in held:
                    sock.close()
            self.assertTrue(wait_until(lambda: served(vexo)))


if __name__ == "__main__":
    unittest.main()
