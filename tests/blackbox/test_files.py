"""The save and load endpoints through the real server."""
import os
import shutil
import subprocess
import tempfile
import unittest

import httpwire
import rawhttp
import vexotest


def poppler(tool, pdf, *args):
    with tempfile.NamedTemporaryFile(suffix=".pdf") as f:
        f.write(pdf)
        f.flush()
        return subprocess.run([tool, f.name] + list(args), capture_output=True, check=True,
                              timeout=30).stdout.decode("utf-8", "replace")


def page_count_and_size(pdf):
    info = poppler("pdfinfo", pdf)
    fields = dict(line.split(":", 1) for line in info.splitlines() if ":" in line)
    return int(fields["Pages"]), fields["Page size"].strip()


class FileEndpointTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.vexo = vexotest.VexoInstance()

    @classmethod
    def tearDownClass(cls):
        cls.vexo.cleanup()

    def test_save_refuses_missing_parameters(self):
        for path in ("/saveFile.html", "/saveFile.html?filename=a.txt", "/saveFile.html?fileContent=abc",
                     "/x/saveFile.html.bak?filecontent=a&FILENAME=b"):
            reply = rawhttp.get(self.vexo, path)
            self.assertEqual(reply.status_line, "HTTP/1.1 400 Bad Request", path)
            self.assertEqual(reply.body, b"", path)
            self.assertIsNone(reply.header("Content-Disposition"), path)

    def test_save_echoes_content_as_attachment(self):
        reply = rawhttp.post_form(self.vexo, "/saveFile.html", [("filename", "data.csv"),
                                                                ("fileContent", "a;b\r\n1;\u00e9\x00z")])
        self.assertEqual(reply.status_line, "HTTP/1.1 200 OK")
        self.assertEqual(reply.header("Content-Disposition"), "attachment; filename=data.csv")
        self.assertEqual(reply.body, "a;b\r\n1;\u00e9\x00z".encode())
        self.assertIsNone(reply.header("Content-type"))
        self.assertIsNone(reply.header("Content-Type"))

        empty = rawhttp.get(self.vexo, "/saveFile.html?filename=e.txt&fileContent=")
        self.assertEqual((empty.status, empty.body), (200, b""))
        self.assertEqual(empty.header("Content-Disposition"), "attachment; filename=e.txt")

    def test_save_removes_control_characters_from_the_file_name(self):
        reply = rawhttp.get(self.vexo, "/saveFile.html?fileContent=x&filename=a%0D%0AX-Injected:%201%09%7F%00b.txt")
        self.assertEqual(reply.status, 200)
        self.assertEqual(reply.header("Content-Disposition"), "attachment; filename=aX-Injected: 1b.txt")
        self.assertNotIn("X-Injected", reply.names())
        self.assertEqual(reply.body, b"x")

    def test_save_repeats_only_a_header_named_exactly_content_type(self):
        exact = rawhttp.send(self.vexo, "GET", "/saveFile.html?filename=t.csv&fileContent=1",
                             {"Content-type": "text/csv; charset=utf-8"})
        self.assertEqual(exact.header("Content-type"), "text/csv; charset=utf-8")
        for spelling in ("Content-Type", "content-type"):
            other = rawhttp.send(self.vexo, "GET", "/saveFile.html?filename=t.csv&fileContent=1",
                                 {spelling: "text/csv"})
            self.assertEqual(other.status, 200)
            self.assertNotIn("text/csv", [v for _, v in other.headers], spelling)

    @unittest.skipUnless(shutil.which("pdftotext"), "poppler-utils is not installed")
    def test_save_renders_html_into_a_pdf(self):
        html = "<h1>Device report</h1><p>Serial number <b>4711</b></p><p>Zażółć gęślą jaźń</p>"
        for name in ("report.pdf", "report.pdf.txt"):
            reply = rawhttp.post_form(self.vexo, "/saveFile.html", [("filename", name), ("fileContent", html)],
                                      {"Content-type": "text/plain"})
            self.assertEqual(reply.status_line, "HTTP/1.1 200 OK")
            self.assertEqual(reply.header("Content-type"), "application/pdf")
            self.assertEqual(reply.header("Content-Disposition"), "attachment; filename=" + name)
            self.assertTrue(reply.body.startswith(b"%PDF-"))
            text = poppler("pdftotext", reply.body, "-")
            self.assertIn("Device report", text)
            self.assertIn("Serial number 4711", text)
            self.assertIn("Zażółć gęślą jaźń", text)
            self.assertEqual(page_count_and_size(reply.body), (1, "595 x 842 pts (A4)"))

        empty = rawhttp.get(self.vexo, "/saveFile.html?filename=empty.pdf&fileContent=")
        self.assertEqual(empty.status, 200)
        self.assertEqual(page_count_and_size(empty.body), (1, "595 x 842 pts (A4)"))

    def test_load_echoes_the_uploaded_file(self):
        content = bytes(range(256)) * 40 + b"\r\n--not-a-boundary\r\n"
        reply = rawhttp.post_multipart(self.vexo, "/loadFile.html", "uploadedfile", "data.bin", content)
        self.assertEqual(reply.status_line, "HTTP/1.1 200 OK")
        self.assertEqual(reply.header("Content-type"), "text/plain")
        self.assertEqual(reply.body, content)

    def test_load_without_upload_is_refused(self):
        for reply in (rawhttp.get(self.vexo, "/loadFile.html"),
                      rawhttp.post_form(self.vexo, "/loadFile.html", [("uploadedfile", "text")]),
                      rawhttp.post_multipart(self.vexo, "/loadFile.html", "otherfield", "a.txt", b"abc")):
            self.assertEqual(reply.status_line, "HTTP/1.1 400 Bad Request")
            self.assertEqual(reply.body, b"")


class FileEndpointLimitsTest(unittest.TestCase):
    def test_an_oversized_pdf_text_and_thousands_of_parts_are_bounded(self):
        with vexotest.VexoInstance(config={"listener": {"maxRequestSize": 3 << 20}}) as vexo:
            # One byte above 2 MiB of HTML: refused before rendering, as any oversized request.
            body = b"filename=big.pdf&fileContent=<p>" + b"x" * ((2 << 20) - 2)
            with vexo.connect(timeout=30) as sock:
                sock.sendall(rawhttp.request_bytes("POST", "/saveFile.html", body=body, close=False))
                self.assertEqual(httpwire.receive_until_close(sock, timeout=10), (httpwire.REPLY_413, True))

            # Thousands of file parts: the upload in the first one arrives, and the server
            # goes on serving.
            files = [(b"uploadedfile", b"data.bin", b"payload")] + [(b"f%d" % i, b"n.txt", b"x") for i in range(3000)]
            boundary = b"b0undary"
            body = httpwire.multipart_body(boundary, files=files)
            with vexo.connect(timeout=30) as sock:
                sock.sendall(httpwire.multipart_post(b"/loadFile.html", boundary, body) + body)
                status, _, content, _ = vexotest.read_http_response(sock, timeout=30)
            self.assertEqual((status, content), ("HTTP/1.1 200 OK", b"payload"))
            self.assertTrue(rawhttp.get(vexo, "/saveFile.html?filename=ok.pdf&fileContent=%3Cp%3Eok")
                            .body.startswith(b"%PDF-"))

if __name__ == "__main__":
    unittest.main()
