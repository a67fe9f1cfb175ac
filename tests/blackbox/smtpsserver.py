"""A local SMTPS mailbox for the support e-mail tests.

Listens with implicit TLS on port 465 of a loopback address of its own (127.x.y.z), with a
self-signed certificate made by openssl, accepts one account and stores every message it
receives as <n>.eml (the raw DATA bytes) and <n>.json (envelope) in a folder."""
import json
import os
import random
import ssl
import subprocess
import threading
import logging

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

SMTPS_PORT = 465
# aiosmtpd warns about its own use of a deprecated session field on every login.
logging.getLogger("mail.log").setLevel(logging.ERROR)


def make_certificate(folder):
    key = os.path.join(folder, "key.pem")
    cert = os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=localhost"], check=True, capture_output=True)
    return cert, key


def random_loopback_address():
    return "127.%d.%d.%d" % (random.randint(1, 254), random.randint(1, 254), random.randint(2, 254))


class Mailbox:
    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            base = os.path.join(self.folder, "%d" % self.count)
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(base + ".json", "w", encoding="utf-8") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos,
                       "authenticated": bool(getattr(session, "authenticated", False))}, f)
        return "250 OK"

    def messages(self):
        """[(envelope dict, raw bytes)] in arrival order."""
        found = []
        n = 1
        while os.path.exists(os.path.join(self.folder, "%d.json" % n)):
            with open(os.path.join(self.folder, "%d.json" % n), encoding="utf-8") as f:
                envelope = json.load(f)
            with open(os.path.join(self.folder, "%d.eml" % n), "rb") as f:
                found.append((envelope, f.read()))
            n += 1
        return found


class Authenticator:
    def __init__(self, user, password):
        self.user = user.encode()
        self.password = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        ok = getattr(auth_data, "login", None) == self.user and auth_data.password == self.password
        return AuthResult(success=ok, handled=False)


class SmtpsServer:
    """Starts in the constructor; stop() ends it. Raises OSError when port 465 cannot be bound."""

    def __init__(self, folder, user, password, host=None):
        self.folder = folder
        self.host = host or random_loopback_address()
        cert, key = make_certificate(folder)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        self.mailbox = Mailbox(folder)
        self.controller = Controller(self.mailbox, hostname=self.host, port=SMTPS_PORT, ssl_context=context,
                                     authenticator=Authenticator(user, password), auth_require_tls=False,
                                     auth_exclude_mechanism=["DONT"], ready_timeout=10)
        self.controller.start()

    def messages(self):
        return self.mailbox.messages()

    def stop(self):
        self.controller.stop()

