"""The HTTP server over TLS with certificates the test makes itself, checked with curl."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from httpwire import get, receive_until_close
from vexotest import VexoInstance

KEY_KINDS = {
    "rsa-pkcs8": ["-newkey", "rsa:2048"],
    "ec": ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"],
}


def make_certificate(directory, kind):
    key, cert = os.path.join(directory, kind + "-key.pem"), os.path.join(directory, kind + "-cert.pem")
    subprocess.run(["openssl", "req", "-x509", *KEY_KINDS[kind], "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
    return key, cert


def curl(url, *options):
    return subprocess.run(["curl", "-sk", "--max-time", "10", *options, url], capture_output=True)


def tls_instance(files, **listener):
    """A vexo whose listener is given the named key and certificate files, which are copied
    beside its config.ini and named relative to it."""
    vexo = VexoInstance(config={"listener": listener}, start=False)
    for path in files:
        shutil.copy(path, vexo.dir)
    return vexo.start()


@unittest.skipUnless(shutil.which("openssl") and shutil.which("curl"), "needs openssl and curl")
class HttpTlsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cert_dir = tempfile.mkdtemp(prefix="vexo-certs-")
        cls.keys = {kind: make_certificate(cls.cert_dir, kind) for kind in KEY_KINDS}
        rsa_key = cls.keys["rsa-pkcs8"][0]
        traditional = os.path.join(cls.cert_dir, "rsa-traditional-key.pem")
        subprocess.run(["openssl", "rsa", "-in", rsa_key, "-traditional", "-out", traditional],
                       check=True, capture_output=True)
        cls.keys["rsa-traditional"] = (traditional, cls.keys["rsa-pkcs8"][1])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.cert_dir, ignore_errors=True)

    def test_serves_https_with_rsa_and_ec_keys(self):
        for kind, (key, cert) in sorted(self.keys.items()):
            with tls_instance((key, cert), sslKeyFile=os.path.basename(key),
                              sslCertFile=os.path.basename(cert), maxThreads=1) as vexo:
                self.assertIn("HttpConnectionHandlerPool: SSL settings loaded", vexo.log_text())
                url = "https://127.0.0.1:%d/ajax.html?func=getSearchedDevices" % vexo.port
                # Several connections in a row, all through the one handler and its reused socket.
                # A connection that arrives while the previous one is being released may get
                # the plain 503 reply, so each is given a few tries.
                for _ in range(3):
                    result = self._curl_until_served(url, "-v")
                    self.assertEqual(result.stdout, b"[]", kind)
                    self.assertRegex(result.stderr, rb"SSL connection using TLSv1\.[23]")
                # Two requests on one TLS connection: the second one needs no connect.
                result = curl(url, "-o", "/dev/null", "-w", "%{num_connects}", url)
                self.assertEqual(result.stdout, b"1[]0", kind)
                # Plain HTTP to the TLS port gets no HTTP reply.
                with vexo.connect() as sock:
                    sock.sendall(get(b"/ajax.html", b"Connection: close\r\n"))
                    self.assertNotIn(b"HTTP/1.1 200", receive_until_close(sock, timeout=3)[0])

    def test_speaks_tls_1_2_and_1_3(self):
        key, cert = self.keys["rsa-pkcs8"]
        with tls_instance((key, cert), sslKeyFile=key, sslCertFile=cert) as vexo:
            https = "https://127.0.0.1:%d/ajax.html" % vexo.port
            for options, version in ((("--tlsv1.2", "--tls-max", "1.2"), b"TLSv1.2"), (("--tlsv1.3",), b"TLSv1.3")):
                result = self._curl_until_served(https, "-v", *options)
                self.assertEqual(result.returncode, 0, options)
                self.assertIn(b"SSL connection using " + version, result.stderr)

    def test_missing_or_partial_tls_files_leave_plain_http(self):
        key, cert = self.keys["ec"]
        cases = [({"sslKeyFile": key, "sslCertFile": "/nonexistent/cert.pem"},
                  lambda vexo: "cannot open sslCertFile /nonexistent/cert.pem"),
                 # A relative name is taken relative to config.ini.
                 ({"sslKeyFile": "missing-key.pem", "sslCertFile": cert},
                  lambda vexo: "cannot open sslKeyFile " + os.path.join(vexo.dir, "missing-key.pem")),
                 ({"sslCertFile": cert}, None)]
        for listener, message in cases:
            with VexoInstance(config={"listener": listener}) as vexo:
                result = curl(vexo.url("/ajax.html"), "-i")
                self.assertTrue(result.stdout.startswith(b"HTTP/1.1 200 OK"), listener)
                # Only the server's own lines count (a sanitizer build adds reports of its own).
                server_lines = [line for line in vexo.log_text().splitlines() if line.startswith("Http")]
                self.assertFalse([line for line in server_lines if "SSL" in line])
                pool_lines = [line for line in server_lines if line.startswith("HttpConnectionHandlerPool:")]
                self.assertEqual(pool_lines, ["HttpConnectionHandlerPool: " + message(vexo)] if message else [])

    def _curl_until_served(self, url, *options, attempts=20):
        for _ in range(attempts):
            result = curl(url, *options)
            if result.returncode == 0:
                return result
            time.sleep(0.05)
        return result


if __name__ == "__main__":
    unittest.main()
