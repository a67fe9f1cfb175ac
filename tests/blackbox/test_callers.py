"""Who may call Vexo: this machine's own pages and local tools. A Host that names another
machine (DNS rebinding), a foreign page's call to a path that acts, and any method but GET,
HEAD and POST there are refused before anything runs, with a complete reply, and the
connection is closed. Vexo is connected to vexo-devsim, so a call that ran would write."""
import subprocess
import unittest
import urllib.parse

import devsim
import vexotest
from httpwire import receive_until_close

WRITE = "/ajax.html?func=writeRegisters&regAddr=0&valuesCnt=1&regVals=%255B77%255D"
READ = "/ajax.html?func=readRegisters&regAddr=0&valuesCnt=1"
WRITE_FUNCTION = 16
PAGE = b"<html><body>Vexo</body></html>"


def refusal(status, body, allow=False):
    head = "HTTP/1.1 %s\r\n" % status
    if allow:
        head += "Allow: GET, HEAD, POST\r\n"
    head += "Connection: close\r\nContent-Length: %d\r\n\r\n" % len(body)
    return (head + body).encode()


HOST_REFUSED = refusal("403 Forbidden", "403 host not allowed")
CROSS_SITE_REFUSED = refusal("403 Forbidden", "403 cross-site request refused")
METHOD_REFUSED = refusal("405 Method Not Allowed", "405 method not allowed", allow=True)


class CallersTest(unittest.TestCase):
    def setUp(self):
        self.device = devsim.Devsim(["--tcp", "127.0.0.1:0"])
        self.addCleanup(self.device.stop)
        self.vexo = vexotest.VexoInstance(config={"listener": {"allowedHosts": "vexo.test,[fd00::5]"}},
                                          docroot_files={"index.html": PAGE})
        self.addCleanup(self.vexo.cleanup)
        self.own = "127.0.0.1:%d" % self.vexo.port
        connected = self.curl("/ajax.html?func=connect&connType=tcp&ipAddres_tcp=127.0.0.1&slaveID=1"
                              "&port_tcp=%d&timeout=1000" % self.device.port)
        self.assertEqual(connected, b'{"ok":"Connected with Modbus TCP."}')
        self.original = self.curl(READ)

    def curl(self, path, *options):
        result = subprocess.run(["curl", "-s", "--max-time", "10", *options, self.vexo.url(path)],
                                capture_output=True, check=True)
        return result.stdout

    def exchange(self, method, path, headers, version="HTTP/1.1", body=b""):
        """Sends one request without asking to close; returns everything until Vexo closes."""
        head = "%s %s %s\r\n" % (method, path, version)
        head += "".join("%s: %s\r\n" % (name, value) for name, value in headers)
        if body:
            head += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n" % len(body)
        with self.vexo.connect() as sock:
            sock.sendall(head.encode("latin-1") + b"\r\n" + body)
            reply, closed = receive_until_close(sock, timeout=5)
        self.assertTrue(closed, "the connection stayed open after %r" % reply)
        return reply

    def assert_nothing_written(self):
        self.assertEqual(self.device.request_count(WRITE_FUNCTION), 0)
        self.assertEqual(self.curl(READ), self.original)

    def test_a_host_that_is_not_this_machine_is_refused_on_every_path(self):
        port = self.vexo.port
        refused = [[("Host", "evil.example:%d" % port)], [("Host", "127.0.0.1.evil.example:%d" % port)],
                   [("Host", "127.0.0.1:%d" % (port + 1))], [("Host", "localhost:")], [],
                   [("Host", self.own), ("Host", "evil.example")]]
        for headers in refused:
            for path in (WRITE, "/index.html", "/saveFile.html?filename=a&fileContent=b"):
                self.assertEqual(self.exchange("GET", path, headers), HOST_REFUSED, (headers, path))
        self.assert_nothing_written()

        for headers, version in (([("Host", self.own)], "HTTP/1.1"), ([("Host", "LOCALHOST:%d" % port)], "HTTP/1.1"),
                                 ([("Host", "[::1]:%d" % port)], "HTTP/1.1"), ([("Host", "vexo.test")], "HTTP/1.1"),
                                 ([("Host", "[FD00::5]:%d" % port)], "HTTP/1.1"), ([], "HTTP/1.0")):
            reply = self.exchange("GET", READ, headers + [("Connection", "close")], version)
            self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n"), (headers, reply))

    def test_a_foreign_page_cannot_act(self):
        port = self.vexo.port
        foreign = [[("Sec-Fetch-Site", "cross-site")], [("Sec-Fetch-Site", "same-site")],
                   [("Origin", "null")], [("Origin", "http://127.0.0.2:%d" % port)],
                   [("Origin", "http://127.0.0.1:%d" % (port + 1))], [("Origin", "https://" + self.own)],
                   [("Sec-Fetch-Site", "cross-site"), ("Origin", "http://" + self.own)]]
        form = urllib.parse.urlencode({"func": "writeRegisters", "regAddr": 0, "valuesCnt": 1,
                                       "regVals": "%5B77%5D"}).encode()
        for headers in foreign:
            headers = [("Host", self.own)] + headers
            for method, path, body in (("GET", WRITE, b""), ("POST", "/ajax.html", form),
                                       ("OPTIONS", WRITE, b""), ("POST", "/saveFile.html", b"filename=a&fileContent=b"),
                                       ("POST", "/loadFile.html", b"")):
                self.assertEqual(self.exchange(method, path, headers, body=body), CROSS_SITE_REFUSED,
                                 (headers, method, path))
            # Static files stay public: a foreign page may show the bundled images.
            reply = self.exchange("GET", "/index.html", headers + [("Connection", "close")])
            self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n") and PAGE in reply, reply[:60])
        self.assert_nothing_written()

    def test_only_get_head_and_post_run(self):
        preflight = [("Host", self.own), ("Origin", "http://" + self.own),
                     ("Access-Control-Request-Method", "POST"), ("Access-Control-Request-Headers", "x-vexo")]
        for method in ("OPTIONS", "PUT", "DELETE", "PATCH", "get"):
            for path in (WRITE, "/saveFile.html?filename=a&fileContent=b", "/loadFile.html"):
                self.assertEqual(self.exchange(method, path, preflight), METHOD_REFUSED, (method, path))
        self.assert_nothing_written()
        head = self.exchange("HEAD", READ, [("Host", self.own), ("Connection", "close")])
        self.assertTrue(head.startswith(b"HTTP/1.1 200 OK\r\n"), head)

    def test_the_own_page_and_local_tools_still_act(self):
        for headers in ([("Sec-Fetch-Site", "same-origin"), ("Origin", "http://" + self.own)],
                        [("Sec-Fetch-Site", "none")], [("Origin", "http://" + self.own)]):
            reply = self.exchange("GET", WRITE, [("Host", self.own), ("Connection", "close")] + headers)
            self.assertTrue(reply.endswith(b'{"ok":"Values successfully sent."}'), (headers, reply))
            self.assertNotIn(b"Access-Control-", reply)
        self.assertEqual(self.device.request_count(WRITE_FUNCTION), 3)

        values = urllib.parse.quote("[4321]")
        self.assertEqual(self.curl("/ajax.html", "--data", "func=writeRegisters&regAddr=0&valuesCnt=1&regVals="
                                   + urllib.parse.quote(values, safe="")),
                         b'{"ok":"Values successfully sent."}')
        self.assertEqual(self.curl(READ), b"[4321]")
        self.assertEqual(self.curl("/index.html", "-H", "Sec-Fetch-Site: none"), PAGE)


if __name__ == "__main__":
    unittest.main()
