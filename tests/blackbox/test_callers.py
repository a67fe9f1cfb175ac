"""Who may call Vexo, on the wire (the rules row by row are tst_requestgate's): a refused call
gets its complete reply, the connection is closed and nothing runs; vexo-devsim would see a
write that ran."""
import subprocess
import unittest
import urllib.parse

import devsim
from httpwire import receive_until_close, request
from vexotest import VexoInstance

WRITE = "/ajax.html?func=writeRegisters&regAddr=0&valuesCnt=1&regVals=%255B77%255D"
READ = "/ajax.html?func=readRegisters&regAddr=0&valuesCnt=1"
WRITE_FUNCTION = 16
SENT = b'{"ok":"Values successfully sent."}'


def refusal(status, body, allow=False):
    head = "HTTP/1.1 %s\r\n%sConnection: close\r\nContent-Length: %d\r\n\r\n" % (
        status, "Allow: GET, HEAD, POST\r\n" if allow else "", len(body))
    return (head + body).encode()


class CallersTest(unittest.TestCase):
    def setUp(self):
        self.device = devsim.Devsim(["--tcp", "127.0.0.1:0"])
        self.addCleanup(self.device.stop)
        self.vexo = VexoInstance(docroot_files={"index.html": b"page"})
        self.addCleanup(self.vexo.cleanup)
        self.own = "127.0.0.1:%d" % self.vexo.port
        self.assertEqual(self.curl("/ajax.html?func=connect&connType=tcp&ipAddres_tcp=127.0.0.1&slaveID=1"
                                   "&port_tcp=%d&timeout=1000" % self.device.port),
                         b'{"ok":"Connected with Modbus TCP."}')

    def curl(self, path, *options):
        return subprocess.run(["curl", "-s", "--max-time", "10", *options, self.vexo.url(path)],
                              capture_output=True, check=True).stdout

    def exchange(self, method, path, headers, body=b""):
        """One request without asking to close: everything until Vexo closes."""
        with self.vexo.connect() as sock:
            sock.sendall(request(method, path, headers, body))
            reply, closed = receive_until_close(sock, timeout=5)
        self.assertTrue(closed, "the connection stayed open after %r" % reply)
        return reply

    def test_refused_calls_are_answered_and_closed_and_nothing_runs(self):
        form = {"Content-Type": "application/x-www-form-urlencoded", "Host": self.own}
        body = urllib.parse.urlencode({"func": "writeRegisters", "regAddr": 0, "valuesCnt": 1,
                                       "regVals": "%5B77%5D"}).encode()
        cases = [("GET", WRITE, {"Host": "evil.example:%d" % self.vexo.port}, b"",
                  refusal("403 Forbidden", "403 host not allowed")),
                 ("POST", "/ajax.html", dict(form, **{"Sec-Fetch-Site": "cross-site"}), body,
                  refusal("403 Forbidden", "403 cross-site request refused")),
                 ("PUT", WRITE, {"Host": self.own}, b"", refusal("405 Method Not Allowed", "405 method not allowed", True))]
        for method, path, headers, sent, expected in cases:
            self.assertEqual(self.exchange(method, path, headers, sent), expected, method)
        self.assertEqual(self.device.request_count(WRITE_FUNCTION), 0)
        # Static files stay public: a foreign page may show the bundled images.
        reply = self.exchange("GET", "/index.html", {"Host": self.own, "Sec-Fetch-Site": "cross-site",
                                                     "Connection": "close"})
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n") and b"page" in reply, reply[:60])

    def test_the_own_page_and_local_tools_still_act(self):
        reply = self.exchange("GET", WRITE, {"Host": self.own, "Connection": "close", "Sec-Fetch-Site": "same-origin",
                                             "Origin": "http://" + self.own})
        self.assertTrue(reply.endswith(SENT), reply)
        self.assertNotIn(b"Access-Control-", reply)
        values = urllib.parse.quote(urllib.parse.quote("[4321]"), safe="")
        self.assertEqual(self.curl("/ajax.html", "--data", "func=writeRegisters&regAddr=0&valuesCnt=1&regVals=" + values),
                         SENT)
        self.assertEqual(self.curl(READ), b"[4321]")
        self.assertEqual(self.device.request_count(WRITE_FUNCTION), 2)


if __name__ == "__main__":
    unittest.main()
