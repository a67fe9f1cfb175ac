"""The HTTP server over TLS with certificates the test makes itself, checked with curl."""
import os
import shutil
import subprocess
import tempfile
import unittest

from httpwire import receive_until_close, request
from vexotest import VexoInstance, wait_until


def curl(url, *options):
    return subprocess.run(["curl", "-sk", "--max-time", "10", *options, url], capture_output=True)


@unittest.skipUnless(shutil.which("openssl") and shutil.which("curl"), "needs openssl and curl")
class HttpTlsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vexo-certs-")
        cls.keys = {}
        for kind, options in (("rsa", ["rsa:2048"]), ("ec", ["ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"])):
            key, cert = (os.path.join(cls.dir, kind + name) for name in ("-key.pem", "-cert.pem"))
            subprocess.run(["openssl", "req", "-x509", "-newkey", *options, "-nodes", "-keyout", key, "-out", cert,
                            "-days", "2", "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
            cls.keys[kind] = (key, cert)
        traditional = os.path.join(cls.dir, "rsa-traditional-key.pem")
        subprocess.run(["openssl", "rsa", "-in", cls.keys["rsa"][0], "-traditional", "-out", traditional],
                       check=True, capture_output=True)
        cls.keys["rsa-traditional"] = (traditional, cls.keys["rsa"][1])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def start(self, **listener):
        # Relative names are taken relative to config.ini: the files are copied beside it.
        vexo = VexoInstance(config={"listener": listener}, start=False)
        for path in self.keys["rsa"] + self.keys["ec"] + self.keys["rsa-traditional"]:
            shutil.copy(path, vexo.dir)
        return vexo.start()

    def served(self, url, *options):
        """curl's result; a connection that arrives while the previous one's handler is being
        released may get the plain 503 reply, so each is given a few tries."""
        results = []
        wait_until(lambda: results.append(curl(url, *options)) or results[-1].returncode == 0, 5, 0.05)
        return results[-1]

    def test_serves_https_with_rsa_and_ec_keys_and_both_versions(self):
        for kind, (key, cert) in sorted(self.keys.items()):
            with self.start(sslKeyFile=os.path.basename(key), sslCertFile=cert, maxThreads=1) as vexo:
                url = "https://127.0.0.1:%d/ajax.html?func=getSearchedDevices" % vexo.port
                for options, version in ((("--tlsv1.2", "--tls-max", "1.2"), b"TLSv1.2"), (("--tlsv1.3",), b"TLSv1.3")):
                    result = self.served(url, "-v", *options)
                    self.assertEqual(result.stdout, b"[]", kind)
                    self.assertIn(b"SSL connection using " + version, result.stderr)
                # Two requests on one TLS connection: the second one needs no connect.
                self.assertEqual(self.served(url, "-o", "/dev/null", "-w", "%{num_connects}", url).stdout, b"1[]0")
                # Plain HTTP to the TLS port gets no HTTP reply.
                with vexo.connect() as sock:
                    sock.sendall(request("GET", "/ajax.html", close=True))
                    self.assertNotIn(b"HTTP/1.1 200", receive_until_close(sock, timeout=3)[0])

    def test_missing_or_partial_tls_files_leave_plain_http(self):
        for listener in ({"sslKeyFile": "ec-key.pem", "sslCertFile": "/nonexistent/cert.pem"},
                         {"sslKeyFile": "missing-key.pem", "sslCertFile": "ec-cert.pem"}, {"sslCertFile": "ec-cert.pem"}):
            with self.start(**listener) as vexo:
                self.assertTrue(curl(vexo.url("/ajax.html"), "-i").stdout.startswith(b"HTTP/1.1 200 OK"), listener)


if __name__ == "__main__":
    unittest.main()
