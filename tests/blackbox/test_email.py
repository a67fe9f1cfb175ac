"""The support e-mail through the AJAX API, sent by the real curl to a local SMTPS mailbox."""
import os
import tempfile
import time
import unittest
import urllib.parse

from smtpsserver import SmtpsServer
from vexotest import VexoInstance, read_http_response

USER = "sender@vexo.test"
PASSWORD = "abc123def4"
RECIPIENT = "support@vexo.test"
NAMES = ["name", "surname", "email", "company", "phone", "module", "message"]
JAN = ["Jan", "Kowalski", "jan@example.test", "ACME", "123 456", "meter", "Line one\\nline two: cut"]
EXPECTED = (b"Subject: Jan Kowalski sent a message.\r\n"
            b"MIME-Version: 1.0\r\n"
            b"Content-Transfer-Encoding: 8bit\r\n"
            b"Content-Type: text/plain;charset=utf-8\r\n"
            b"Client name   Jan\r\n"
            b"Client surname   Kowalski\r\n"
            b"Client email   jan@example.test\r\n"
            b"Client company   ACME\r\n"
            b"Client phone   123 456\r\n"
            b"Client Vexo version   0.3.16\r\n"
            b"Client Vexo active module   meter\r\n"
            b"Client message   \r\n"
            b"Line one line two\r\n")


def form(values):
    text = "{" + ",".join('"%s":"%s"' % (n, v) for n, v in zip(NAMES, values)) + "}"
    # Encoded twice: once by the page for the form, once for the query string.
    return urllib.parse.quote(urllib.parse.quote(text, safe=""), safe="")


class EmailTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.mkdtemp(prefix="vexo-mailbox-")
        try:
            self.mailbox = SmtpsServer(folder, USER, PASSWORD)
        except (OSError, RuntimeError) as error:
            self.skipTest("no SMTPS mailbox on port 465 (needs root): %s" % error)
        self.addCleanup(self.mailbox.stop)

    def start(self, password=PASSWORD, env=None):
        vexo = VexoInstance(config={"email": {"server": self.mailbox.host, "from": USER, "password": password,
                                              "to": RECIPIENT}}, env=env)
        self.addCleanup(vexo.cleanup)
        return vexo

    def send(self, vexo, values=JAN, timeout=40):
        query = b"GET /ajax.html?func=sendEmail"
        if values is not None:
            query += b"&json=" + form(values).encode()
        with vexo.connect(timeout=timeout) as sock:
            sock.sendall(query + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            _, _, body, _ = read_http_response(sock, timeout=timeout)
        return body

    def forget_last_send(self, vexo):
        """Removes the stored time of the last send from the settings store."""
        path = os.path.join(vexo.home, ".config", "Torva", "Vexo.conf")
        with open(path) as f:
            lines = [line for line in f if not line.startswith("time=")]
        with open(path, "w") as f:
            f.writelines(lines)

    def test_the_message_arrives_with_its_exact_lines_then_the_rate_limit_holds(self):
        vexo = self.start()
        self.assertEqual(self.send(vexo), b'{"status":"ok!"}')
        messages = self.mailbox.messages()
        self.assertEqual(len(messages), 1)
        envelope, raw = messages[0]
        self.assertEqual(raw, EXPECTED)
        self.assertEqual((envelope["from"], envelope["to"]), (USER, [RECIPIENT]))
        with open(os.path.join(vexo.dir, "emailMessage.txt"), "rb") as f:
            self.assertEqual(f.read(), EXPECTED)

        time.sleep(1.1)
        reply = self.send(vexo)
        self.assertRegex(reply, rb'^\{"status":"time","timeleft":"89[89]"\}$')
        self.assertEqual(len(self.mailbox.messages()), 1)

    def test_a_refused_login_is_reported(self):
        vexo = self.start(password="wrongpass9")
        self.assertEqual(self.send(vexo), b'{"status":"err!"}')
        with open(os.path.join(vexo.dir, "emailError.txt"), "rb") as f:
            self.assertIn(b"curl: (67)", f.read())
        self.assertEqual(self.mailbox.messages(), [])
        # A failure does not hold back the next attempt.
        self.assertEqual(self.send(vexo), b'{"status":"err!"}')

    def test_a_missing_tool_is_reported(self):
        vexo = self.start(env={"PATH": "/nonexistent"})
        self.assertEqual(self.send(vexo), b'{"status":"err!"}')
        with open(os.path.join(vexo.dir, "emailError.txt"), "rb") as f:
            self.assertIn(b"curl: not found", f.read())
        self.assertEqual(self.mailbox.messages(), [])

    def test_the_fourth_mail_of_a_run_is_dropped(self):
        vexo = self.start()
        for _ in range(3):
            self.assertEqual(self.send(vexo), b'{"status":"ok!"}')
            self.forget_last_send(vexo)
        os.remove(os.path.join(vexo.dir, "emailMessage.txt"))
        started = time.monotonic()
        self.assertEqual(self.send(vexo), b'{"status":"ok!"}')
        self.assertGreaterEqual(time.monotonic() - started, 1.4)
        self.assertEqual(len(self.mailbox.messages()), 3)
        self.assertFalse(os.path.exists(os.path.join(vexo.dir, "emailMessage.txt")))

    def test_field_limits_and_a_missing_form(self):
        vexo = self.start(password="wrongpass9")  # nothing within limits gets delivered
        self.assertEqual(self.send(vexo, None), b'{"error":"Parameter error!"}')
        self.assertEqual(self.send(vexo, ["x" * 21] + JAN[1:]), b'{"error":"err2!"}')
        self.assertEqual(self.send(vexo, JAN[:6] + ["y" * 2001]), b'{"error":"err2!"}')
        self.assertEqual(self.send(vexo, ["x" * 20] + JAN[1:]), b'{"status":"err!"}')


if __name__ == "__main__":
    unittest.main()
