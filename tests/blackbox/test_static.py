"""Static files from the document root through the real server: cache, content types,
Cache-Control, refusals and streaming."""
import os
import socket
import time
import unittest

from httpwire import read_http_response, request
from vexotest import VexoInstance, write_ini

INDEX = b"<html><body>index page</body></html>"


class StaticTest(unittest.TestCase):
    def start(self, config=None, files=None):
        vexo = VexoInstance(config={"docroot": config or {}}, docroot_files=files)
        self.addCleanup(vexo.cleanup)
        return vexo

    def rewrite(self, vexo, files):
        for name in files:
            with open(os.path.join(vexo.docroot, name), "wb") as f:
                f.write(b"fresh")

    def bodies(self, vexo, names):
        return [vexo.get("/" + name).body for name in names]

    def test_cache_time_size_and_eviction(self):
        files = {"index.html": INDEX, "sub/index.html": b"sub", "at.js": b"a" * 65536, "over.js": b"b" * 65537}
        vexo = self.start(files=files)
        first = vexo.get("/")
        self.assertEqual((first.status_line, first.body), ("HTTP/1.1 200 OK", INDEX))
        self.assertEqual((first.header("Content-Type"), first.header("Cache-Control")),
                         ("text/html; charset=UTF-8", "max-age=60"))
        self.assertEqual(self.bodies(vexo, ["sub", "at.js", "over.js"]), [b"sub", files["at.js"], files["over.js"]])
        self.rewrite(vexo, files)
        # Within the cache time a cached file is served from memory with its headers; "/" and
        # "/index.html" are separate entries; files over 64 KiB are never cached.
        again = vexo.get("/")
        self.assertEqual((again.body, again.header("Content-Type")), (INDEX, "text/html; charset=UTF-8"))
        self.assertEqual(self.bodies(vexo, ["index.html", "at.js", "over.js"]), [b"fresh", files["at.js"], b"fresh"])

        # The least recently used entry makes room; a file larger than the whole cache stays out.
        files = {"a.txt": b"A" * 60, "b.txt": b"B" * 60, "c.txt": b"C" * 60, "big.txt": b"D" * 160}
        vexo = self.start(config={"cacheSize": 150}, files=files)
        self.assertEqual(self.bodies(vexo, ["a.txt", "b.txt", "a.txt", "c.txt", "big.txt"]),
                         [files[n] for n in ["a.txt", "b.txt", "a.txt", "c.txt", "big.txt"]])
        self.rewrite(vexo, files)
        self.assertEqual(self.bodies(vexo, files), [files["a.txt"], b"fresh", files["c.txt"], b"fresh"])

        # A change on disk is seen after the cache time; a cache time of 0 never expires.
        short, never = self.start(config={"cacheTime": 300}, files={"a.txt": b"old"}), \
            self.start(config={"cacheTime": 0}, files={"a.txt": b"old"})
        self.assertEqual(self.bodies(short, ["a.txt"]) + self.bodies(never, ["a.txt"]), [b"old", b"old"])
        self.rewrite(short, ["a.txt"])
        self.rewrite(never, ["a.txt"])
        time.sleep(0.5)
        self.assertEqual(self.bodies(short, ["a.txt"]) + self.bodies(never, ["a.txt"]), [b"fresh", b"old"])

    def test_content_types_by_case_sensitive_ending_and_max_age_in_seconds(self):
        names = {"p.png": "image/png", "p.jpg": "image/jpeg", "p.gif": "image/gif", "p.pdf": "application/pdf",
                 "p.txt": "text/plain; charset=ISO-8859-2", "p.html": "text/html; charset=ISO-8859-2",
                 "p.htm": "text/html; charset=ISO-8859-2", "p.css": "text/css", "p.js": "text/javascript",
                 "p.PNG": None, "p.jpeg": None, "p.json": None, "p.svg": None, "p.HTML": None}
        vexo = self.start(config={"encoding": "ISO-8859-2", "maxAge": 1500}, files={n: b"x" for n in names})
        for name, content_type in names.items():
            for _ in range(2):  # the cached copy keeps its type
                reply = vexo.get("/" + name)
                self.assertEqual((reply.status, reply.header("Content-Type")), (200, content_type), name)
        self.assertEqual(reply.header("Cache-Control"), "max-age=1")

    def test_climbing_special_and_missing_paths_are_refused(self):
        # The root is given with a trailing slash, and a sibling folder shares its name's start.
        vexo = VexoInstance(docroot_files={"a/x.txt": b"x", "dir/other.txt": b"x"}, start=False)
        self.addCleanup(vexo.cleanup)
        vexo.config["docroot"]["path"] = vexo.docroot + "/"
        write_ini(os.path.join(vexo.dir, "config.ini"), vexo.config)
        os.makedirs(os.path.join(vexo.dir, "www.old"))
        with open(os.path.join(vexo.dir, "www.old", "secret.txt"), "wb") as f:
            f.write(b"secret")
        # Files that exist but cannot be read as one: refused without hanging.
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(os.path.join(vexo.docroot, "sock.html"))
        self.addCleanup(listener.close)
        os.mkfifo(os.path.join(vexo.docroot, "fifo.html"))
        vexo.start()
        self.assertEqual(vexo.get("/a/x.txt").body, b"x")
        refused = ["/../config.ini", "/a/..b", "/%2e%2e/config.ini", "/a/%2E%2E/%2e%2e/config.ini",
                   "/a%2f..%2fconfig.ini", "/../does-not-exist", "/a/x.txt/..", "..%2Fconfig.ini", "../config.ini",
                   ".old/secret.txt", "%2e%2e/config.ini", "/sock.html", "/fifo.html"]
        for path, status in [(p, "403 forbidden") for p in refused] + \
                [(p, "404 not found") for p in ("/missing.html", "/dir", "/dir/", "/")]:
            reply = vexo.get(path)
            self.assertEqual((reply.status_line, reply.body), ("HTTP/1.1 " + status, status.encode()), path)

    def test_large_file_goes_out_in_64k_chunks_and_empty_file_with_zero_length(self):
        big = bytes(range(256)) * (4 * 1024 + 3)  # 1 MiB and 768 bytes
        files = {"big.bin": big, "small.txt": b"s" * 1000}
        vexo = self.start(files=dict(files, **{"empty.txt": b""}))
        for name, sizes in (("big.bin", [65536] * 16 + [768, 0]), ("small.txt", [1000, 0]), ("small.txt", [1000, 0])):
            found = []
            with vexo.connect() as sock:
                sock.sendall(request("GET", "/" + name))
                body = read_http_response(sock, chunk_sizes=found)[2]
            self.assertEqual((found, body), (sizes, files[name]), name)
        empty = vexo.get("/empty.txt")
        self.assertEqual((empty.status, empty.body, empty.header("Content-Length")), (200, b"", "0"))


if __name__ == "__main__":
    unittest.main()
