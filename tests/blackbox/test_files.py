"""The save and load endpoints through the real server."""
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse

from httpwire import REPLY_413, multipart, receive_until_close, request, send
from vexotest import VexoInstance


def pdf_text_and_pages(pdf):
    with tempfile.NamedTemporaryFile(suffix=".pdf") as f:
        f.write(pdf)
        f.flush()
        run = [subprocess.run([tool, f.name] + args, capture_output=True, check=True, timeout=30).stdout.decode()
               for tool, args in (("pdftotext", ["-"]), ("pdfinfo", []))]
    fields = dict(line.split(":", 1) for line in run[1].splitlines() if ":" in line)
    return run[0], (int(fields["Pages"]), fields["Page size"].strip())


def form(pairs):
    return {"Content-Type": "application/x-www-form-urlencoded"}, urllib.parse.urlencode(pairs).encode()


class FileEndpointTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.vexo = VexoInstance(config={"listener": {"maxRequestSize": 3 << 20}})

    @classmethod
    def tearDownClass(cls):
        cls.vexo.cleanup()

    def post(self, path, pairs, extra=None):
        headers, body = form(pairs)
        return send(self.vexo, "POST", path, dict(headers, **(extra or {})), body)

    def test_save_echoes_content_as_attachment_with_a_clean_name(self):
        reply = self.post("/saveFile.html", [("filename", "data.csv"), ("fileContent", "a;b\r\n1;\u00e9\x00z")])
        self.assertEqual((reply.status_line, reply.body), ("HTTP/1.1 200 OK", "a;b\r\n1;\u00e9\x00z".encode()))
        self.assertEqual(reply.header("Content-Disposition"), "attachment; filename=data.csv")
        self.assertEqual([n for n, _ in reply.headers if n.lower() == "content-type"], [])
        # Control characters cannot add a header line through the file name.
        reply = self.vexo.get("/saveFile.html?fileContent=x&filename=a%0D%0AX-Injected:%201%09%7F%00b.txt")
        self.assertEqual(reply.header("Content-Disposition"), "attachment; filename=aX-Injected: 1b.txt")
        self.assertIsNone(reply.header("X-Injected"))
        # Only a request header named exactly "Content-type" is repeated.
        for spelling, repeated in (("Content-type", "text/csv"), ("Content-Type", None), ("content-type", None)):
            reply = self.vexo.get("/saveFile.html?filename=t.csv&fileContent=", {spelling: "text/csv"})
            self.assertEqual((reply.status, reply.body, reply.header("Content-type")), (200, b"", repeated))
        for path in ("/saveFile.html", "/saveFile.html?filename=a.txt", "/saveFile.html?fileContent=abc",
                     "/x/saveFile.html.bak?filecontent=a&FILENAME=b"):
            reply = self.vexo.get(path)
            self.assertEqual((reply.status_line, reply.body), ("HTTP/1.1 400 Bad Request", b""), path)
            self.assertIsNone(reply.header("Content-Disposition"), path)

    @unittest.skipUnless(shutil.which("pdftotext"), "poppler-utils is not installed")
    def test_save_renders_html_into_a_pdf_of_bounded_size(self):
        html = "<h1>Device report</h1><p>Serial number <b>4711</b></p><p>Zażółć gęślą jaźń</p>"
        for name in ("report.pdf", "report.pdf.txt"):
            reply = self.post("/saveFile.html", [("filename", name), ("fileContent", html)],
                              {"Content-type": "text/plain"})
            self.assertEqual((reply.status, reply.header("Content-type")), (200, "application/pdf"))
            self.assertEqual(reply.header("Content-Disposition"), "attachment; filename=" + name)
            text, pages = pdf_text_and_pages(reply.body)
            self.assertEqual(pages, (1, "595 x 842 pts (A4)"))
            for line in ("Device report", "Serial number 4711", "Zażółć gęślą jaźń"):
                self.assertIn(line, text)
        self.assertEqual(pdf_text_and_pages(self.vexo.get("/saveFile.html?filename=e.pdf&fileContent=").body)[1],
                         (1, "595 x 842 pts (A4)"))
        # A long text flows over several pages.
        lines = "".join("<p>line %d</p>" % i for i in range(200))
        reply = self.post("/saveFile.html", [("filename", "long.pdf"), ("fileContent", lines)])
        text, (pages, _) = pdf_text_and_pages(reply.body)
        self.assertTrue(pages > 1 and "line 199" in text, (pages, text[-100:]))
        # One byte above 2 MiB of HTML: refused before rendering, as any oversized request.
        with self.vexo.connect(timeout=30) as sock:
            sock.sendall(request("POST", "/saveFile.html", (), b"filename=big.pdf&fileContent=<p>" + b"x" * ((2 << 20) - 2)))
            self.assertEqual(receive_until_close(sock, timeout=10), (REPLY_413, True))

    def test_load_without_an_upload(self):
        # What an upload echoes is test_http_connection's (in pieces, and from curl); the cap on
        # file parts is the request parser's unit test, which also counts the files opened.
        other = multipart(files=[("otherfield", "a.txt", b"abc")])
        for reply in (self.vexo.get("/loadFile.html"), self.post("/loadFile.html", [("uploadedfile", "text")]),
                      send(self.vexo, "POST", "/loadFile.html", other[1], other[0])):
            self.assertEqual((reply.status_line, reply.body), ("HTTP/1.1 400 Bad Request", b""))


if __name__ == "__main__":
    unittest.main()
