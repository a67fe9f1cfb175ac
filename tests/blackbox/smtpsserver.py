"""A local SMTPS mailbox for the support e-mail tests.

Listens with implicit TLS on port 465 of a loopback address of its own (127.x.y.z), with a
self-signed certificate made by openssl, accepts one account and keeps every message it
receives with its envelope."""
import logging
import os
import random
import ssl
import subprocess
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

SMTPS_PORT = 465
# aiosmtpd warns about its own use of a deprecated session field on every login.
logging.getLogger("mail.log").setLevel(logging.ERROR)


class Mailbox:
    def __init__(self):
        self.lock = threading.Lock()
        self.received = []

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.received.append(({"from": envelope.mail_from, "to": envelope.rcpt_tos},
                                  envelope.original_content or envelope.content))
        return "250 OK"


class Authenticator:
    def __init__(self, user, password):
        self.user = user.encode()
        self.password = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        ok = getattr(auth_data, "login", None) == self.user and auth_data.password == self.password
        return AuthResult(success=ok, handled=False)


class SmtpsServer:
    """Starts in the constructor; stop() ends it. Raises OSError when port 465 cannot be bound."""

    def __init__(self, folder, user, password):
        self.host = "127.%d.%d.%d" % (random.randint(1, 254), random.randint(1, 254), random.randint(2, 254))
        key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=localhost"], check=True, capture_output=True)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        self.mailbox = Mailbox()
        self.controller = Controller(self.mailbox, hostname=self.host, port=SMTPS_PORT, ssl_context=context,
                                     authenticator=Authenticator(user, password), auth_require_tls=False,
                                     auth_exclude_mechanism=["DONT"], ready_timeout=10)
        self.controller.start()

    def messages(self):
        """[(envelope, raw bytes)] in arrival order."""
        with self.mailbox.lock:
            return list(self.mailbox.received)

    def stop(self):
        self.controller.stop()
