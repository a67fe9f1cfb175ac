"""Load on the real server over loopback: a full pool, slow and stalled clients, a burst of
requests, and uploads at the size limit. Every loop is bounded in count and time."""
import os
import socket
import threading
import time
import unittest

from httpwire import wait_until
from loadkit import (REPLY_413, REPLY_503, abort_connection, all_served, exchange, fetch, latencies_while,
                     read_until_closed, report, run_parallel, sanitized, served, thread_count, upload_of_size,
                     vmrss_kb)
from vexotest import VexoInstance, read_http_response


class PoolLimits(unittest.TestCase):
    def test_idle_connections_hold_every_handler_until_the_read_timeout(self):
        read_timeout_ms = 3000
        with VexoInstance(config={"listener": {"maxThreads": 100, "minThreads": 1,
                                               "readTimeout": read_timeout_ms}}) as vexo:
            idle = []
            try:
                for i in range(100):
                    idle.append(vexo.connect())
                    if i % 20 == 19:
                        time.sleep(0.05)  # let the listener drain its accept queue
                time.sleep(0.3)
                opened = time.monotonic()
                with vexo.connect() as extra:
                    self.assertEqual(read_until_closed(extra, 5), REPLY_503)

                # Each idle connection is dropped after the read time-out, without a reply.
                for s in idle:
                    self.assertEqual(read_until_closed(s, read_timeout_ms / 1000 + 5), b"")
                released = time.monotonic() - opened
                self.assertLess(released, read_timeout_ms / 1000 + 5)
            finally:
                for s in idle:
                    s.close()
            self.assertTrue(wait_until(lambda: served(vexo), 5))
            # Every handler is free again: a second full set of connections is served.
            self.assertTrue(wait_until(lambda: all_served(vexo, 100), 15, step=0.5))
            report("pool", handlers=100, rejected_with_503=1, released_after_s="%.1f" % released,
                   threads=thread_count(vexo.process.pid))


class SlowClients(unittest.TestCase):
    def test_one_byte_a_second(self):
        """A trickling request line is cut off by the read time-out; a trickling body is not,
        since every body piece restarts the timer; neither delays anyone else."""
        with VexoInstance(config={"listener": {"readTimeout": 2500}}) as vexo:
            outcome = {}

            def trickle_headers():
                s = vexo.connect()
                start = time.monotonic()
                try:
                    for b in b"GET /ajax.html?slow=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n":
                        s.sendall(bytes([b]))
                        time.sleep(1)
                except OSError:
                    pass  # the server has closed the connection under our feet
                outcome["headers"] = (read_until_closed(s, 10), time.monotonic() - start)
                s.close()

            def trickle_body():
                s = vexo.connect()
                s.sendall(b"POST /ajax.html HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          b"Content-Length: 5\r\n\r\n")
                for b in b"x=abc":
                    time.sleep(1)
                    s.sendall(bytes([b]))
                outcome["body"] = read_http_response(s, timeout=10)[0]
                s.close()

            threads = [threading.Thread(target=trickle_headers), threading.Thread(target=trickle_body)]
            for t in threads:
                t.start()
            latencies = latencies_while(vexo, lambda: any(t.is_alive() for t in threads), 0.4, 20)
            for t in threads:
                t.join(30)
            data, cut_after = outcome["headers"]
            self.assertEqual(data, b"")
            self.assertLess(cut_after, 8, "a trickling request line must not outlive the read time-out")
            self.assertTrue(outcome["body"].startswith("HTTP/1.1 200"), outcome["body"])
            self.assertLess(max(latencies), 1.0)
            report("slow", header_trickle_cut_after_s="%.1f" % cut_after,
                   others_max_latency_ms="%.0f" % (max(latencies) * 1000))

    def test_a_client_that_stops_reading_a_large_file_holds_only_its_own_handler(self):
        big = os.urandom(1024 * 1024) * 32
        with VexoInstance(config={"listener": {"maxThreads": 2, "readTimeout": 3000}},
                          docroot_files={"big.bin": big}) as vexo:
            stalled = vexo.connect()
            stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            stalled.sendall(b"GET /big.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            first = stalled.recv(4096)
            self.assertTrue(first.startswith(b"HTTP/1.1 200"), first[:80])
            time.sleep(1)  # the server fills the socket buffers and blocks in its write

            # The second handler still serves, one connection after the other.
            for _ in range(3):
                self.assertTrue(wait_until(lambda: served(vexo), 5))

            # The stalled client vanishes; its handler must come back.
            abort_connection(stalled)

            self.assertTrue(wait_until(lambda: all_served(vexo, 2), 10, step=0.3))
            # The whole file still arrives intact for a client that reads.
            downloads = []

            def download():
                downloads.append(fetch(vexo, "/big.bin", 30))
                return downloads[-1] is not None

            self.assertTrue(wait_until(download, 10, step=0.3))
            self.assertEqual(downloads[-1], big)


class Burst(unittest.TestCase):
    CONNECTIONS = 50
    PER_CONNECTION = 200

    def test_ten_thousand_requests_over_fifty_connections(self):
        page = b"<html>" + b"x" * 2000 + b"</html>"
        with VexoInstance(config={"listener": {"readTimeout": 10000}},
                          docroot_files={"page.html": page}) as vexo:
            pid = vexo.process.pid
            conns = [vexo.connect(timeout=10) for _ in range(self.CONNECTIONS)]
            counts = [0] * self.CONNECTIONS

            def round_of(n):
                def work(i):
                    s = conns[i]
                    for k in range(n):
                        path = "/page.html" if k % 2 else "/ajax.html?func=none&k=%d" % k
                        status, _, body = exchange(s, "GET", path)
                        if not status.startswith("HTTP/1.1 200"):
                            raise AssertionError("%s for %s" % (status, path))
                        if k % 2 and body != page:
                            raise AssertionError("wrong body for %s" % path)
                        counts[i] += 1
                return work

            try:
                # Warm up: every handler thread exists and every cache is filled before measuring.
                self.assertEqual(run_parallel(self.CONNECTIONS, round_of(20)), [])
                rss_before = vmrss_kb(pid)
                counts = [0] * self.CONNECTIONS
                t0 = time.monotonic()
                errors = run_parallel(self.CONNECTIONS, round_of(self.PER_CONNECTION))
                elapsed = time.monotonic() - t0
                rss_after = vmrss_kb(pid)
            finally:
                for s in conns:
                    s.close()
            self.assertEqual(errors, [])
            total = sum(counts)
            self.assertEqual(total, self.CONNECTIONS * self.PER_CONNECTION)
            growth_kb = rss_after - rss_before
            report("burst", requests=total, connections=self.CONNECTIONS, seconds="%.1f" % elapsed,
                   per_second="%.0f" % (total / elapsed), rss_before_kb=rss_before, rss_after_kb=rss_after)
            if not sanitized(vexo.exe):  # sanitizer allocators hold freed memory on purpose
                self.assertLess(growth_kb, 16 * 1024, "memory grew by %d KiB" % growth_kb)
            self.assertTrue(served(vexo))


class UploadLimit(unittest.TestCase):
    LIMIT = 200000

    def test_multipart_upload_at_the_size_limit(self):
        with VexoInstance(config={"listener": {"maxMultiPartSize": self.LIMIT}}) as vexo:
            # One byte below the limit: accepted, and the file comes back byte for byte.
            body, content_type, content = upload_of_size(self.LIMIT - 1)
            with vexo.connect(timeout=10) as s:
                status, _, echoed = exchange(s, "POST", "/loadFile.html", {"Content-Type": content_type}, body)
            self.assertTrue(status.startswith("HTTP/1.1 200"), status)
            self.assertEqual(echoed, content)

            # Exactly at the limit: refused once the last byte is stored.
            body, content_type, _ = upload_of_size(self.LIMIT)
            with vexo.connect(timeout=10) as s:
                s.sendall(b"POST /loadFile.html HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n"
                          % (content_type.encode(), len(body)) + body)
                self.assertEqual(read_until_closed(s, 10), REPLY_413)

            # Announced above the limit: refused before the body is read.
            with vexo.connect(timeout=10) as s:
                s.sendall(b"POST /loadFile.html HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n"
                          % (content_type.encode(), self.LIMIT + 1))
                self.assertEqual(read_until_closed(s, 10), REPLY_413)
            self.assertTrue(served(vexo))


if __name__ == "__main__":
    unittest.main()
