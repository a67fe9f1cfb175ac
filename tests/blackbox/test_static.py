"""Static files from the document root through the real server: cache, content types,
Cache-Control, refusals and streaming."""
import os
import shutil
import socket
import subprocess
import threading
import time
import unittest

import rawhttp
import vexotest

INDEX = b"<html><body>index page</body></html>"


def rewrite(instance, name, content):
    with open(os.path.join(instance.docroot, name), "wb") as f:
        f.write(content)


class StaticTestCase(unittest.TestCase):
    def start(self, config=None, files=None):
        instance = vexotest.VexoInstance(config={"docroot": config or {}}, docroot_files=files)
        self.addCleanup(instance.cleanup)
        return instance


class CacheTest(StaticTestCase):
    def test_index_for_root_and_cache_hit_within_cache_time(self):
        vexo = self.start(files={"index.html": INDEX, "sub/index.html": b"sub index"})
        first = rawhttp.get(vexo, "/")
        self.assertEqual(first.status_line, "HTTP/1.1 200 OK")
        self.assertEqual(first.body, INDEX)
        self.assertEqual(first.header("Content-Type"), "text/html; charset=UTF-8")
        self.assertEqual(first.header("Cache-Control"), "max-age=60")
        self.assertEqual(rawhttp.get(vexo, "/sub").body, b"sub index")

        rewrite(vexo, "index.html", b"changed on disk")
        second = rawhttp.get(vexo, "/")
        self.assertEqual(second.body, INDEX)
        self.assertEqual(second.header("Content-Type"), "text/html; charset=UTF-8")
        self.assertEqual(second.header("Cache-Control"), "max-age=60")
        # "/" and "/index.html" are separate entries: the second is read fresh.
        self.assertEqual(rawhttp.get(vexo, "/index.html").body, b"changed on disk")

    def test_change_on_disk_seen_after_cache_time(self):
        vexo = self.start(config={"cacheTime": 400}, files={"a.txt": b"old"})
        self.assertEqual(rawhttp.get(vexo, "/a.txt").body, b"old")
        rewrite(vexo, "a.txt", b"new")
        self.assertEqual(rawhttp.get(vexo, "/a.txt").body, b"old")
        time.sleep(0.6)
        self.assertEqual(rawhttp.get(vexo, "/a.txt").body, b"new")

    def test_zero_cache_time_never_expires(self):
        vexo = self.start(config={"cacheTime": 0}, files={"a.txt": b"old"})
        rawhttp.get(vexo, "/a.txt")
        rewrite(vexo, "a.txt", b"new")
        time.sleep(0.2)
        self.assertEqual(rawhttp.get(vexo, "/a.txt").body, b"old")

    def test_largest_cached_file_size(self):
        vexo = self.start(files={"at.js": b"a" * 65536, "over.js": b"b" * 65537})
        for name in ("at.js", "over.js"):
            self.assertEqual(len(rawhttp.get(vexo, "/" + name).body), 65536 if name == "at.js" else 65537)
            rewrite(vexo, name, b"short")
        self.assertEqual(rawhttp.get(vexo, "/at.js").body, b"a" * 65536)
        self.assertEqual(rawhttp.get(vexo, "/over.js").body, b"short")

    def test_least_recently_used_entry_is_evicted_when_cache_size_is_exceeded(self):
        files = {"a.txt": b"A" * 60, "b.txt": b"B" * 60, "c.txt": b"C" * 60, "big.txt": b"D" * 160}
        vexo = self.start(config={"cacheSize": 150}, files=files)
        for name in ("a.txt", "b.txt", "a.txt", "c.txt", "big.txt"):
            self.assertEqual(rawhttp.get(vexo, "/" + name).body, files[name])
        for name in files:
            rewrite(vexo, name, b"fresh")
        # a was used after b, so b made room for c; big alone is more than the cache holds.
        self.assertEqual(rawhttp.get(vexo, "/a.txt").body, files["a.txt"])
        self.assertEqual(rawhttp.get(vexo, "/c.txt").body, files["c.txt"])
        self.assertEqual(rawhttp.get(vexo, "/b.txt").body, b"fresh")
        self.assertEqual(rawhttp.get(vexo, "/big.txt").body, b"fresh")


class HeaderTest(StaticTestCase):
    def test_content_types_by_case_sensitive_ending(self):
        names = {
            "p.png": "image/png", "p.jpg": "image/jpeg", "p.gif": "image/gif", "p.pdf": "application/pdf",
            "p.txt": "text/plain; charset=ISO-8859-2", "p.html": "text/html; charset=ISO-8859-2",
            "p.htm": "text/html; charset=ISO-8859-2", "p.css": "text/css", "p.js": "text/javascript",
            "p.PNG": None, "p.jpeg": None, "p.ico": None, "p.json": None, "p.svg": None, "p.HTML": None,
        }
        vexo = self.start(config={"encoding": "ISO-8859-2"}, files={n: b"x" for n in names})
        for name, content_type in names.items():
            reply = rawhttp.get(vexo, "/" + name)
            self.assertEqual(reply.status, 200, name)
            self.assertEqual(reply.header("Content-Type"), content_type, name)
            # The cached copy keeps its type.
            self.assertEqual(rawhttp.get(vexo, "/" + name).header("Content-Type"), content_type, name)

    def test_max_age_is_sent_in_seconds(self):
        for max_age, expected in ((1500, "max-age=1"), (999, "max-age=0"), (3600000, "max-age=3600")):
            vexo = self.start(config={"maxAge": max_age}, files={"index.html": INDEX})
            self.assertEqual(rawhttp.get(vexo, "/").header("Cache-Control"), expected)
            vexo.cleanup()


class RefusalTest(StaticTestCase):
    def test_climbing_paths_are_refused_in_every_spelling(self):
        # The root is given with a trailing slash, and a sibling folder shares its name's start.
        vexo = vexotest.VexoInstance(docroot_files={"a/x.txt": b"x"}, start=False)
        self.addCleanup(vexo.cleanup)
        vexo.config["docroot"]["path"] = vexo.docroot + "/"
        vexotest.write_ini(os.path.join(vexo.dir, "config.ini"), vexo.config)
        os.makedirs(os.path.join(vexo.dir, "www.old"))
        rewrite(vexo, "../www.old/secret.txt", b"secret")
        vexo.start()
        self.assertEqual(rawhttp.get(vexo, "/a/x.txt").body, b"x")
        paths = ["/../config.ini", "/a/..b", "/%2e%2e/config.ini", "/a/%2E%2E/%2e%2e/config.ini",
                 "/a%2f..%2fconfig.ini", "/../does-not-exist", "/a/x.txt/..", "..%2Fconfig.ini",
                 "../config.ini", ".old/secret.txt", "%2e%2e/config.ini"]
        for path in paths:
            reply = rawhttp.get(vexo, path)
            self.assertEqual(reply.status_line, "HTTP/1.1 403 forbidden", path)
            self.assertEqual(reply.body, b"403 forbidden", path)
        time.sleep(0.2)
        log = vexo.log_text()
        self.assertIn("StaticFileController: detected forbidden characters in path /../config.ini", log)
        self.assertIn("StaticFileController: detected forbidden characters in path /a/..b", log)
        self.assertIn("StaticFileController: detected forbidden characters in path /../does-not-exist", log)
        self.assertIn("StaticFileController: detected forbidden characters in path ../config.ini", log)
        self.assertNotIn("Cannot open", log)

    def test_missing_file_and_directory_without_index(self):
        vexo = self.start(files={"dir/other.txt": b"x"})
        for path in ("/missing.html", "/dir", "/dir/", "/"):
            reply = rawhttp.get(vexo, path)
            self.assertEqual(reply.status_line, "HTTP/1.1 404 not found", path)
            self.assertEqual(reply.body, b"404 not found", path)
        self.assertNotIn("StaticFileController", vexo.log_text())

    def test_special_files_that_exist_are_refused_without_hanging(self):
        vexo = self.start()
        sock_path = os.path.join(vexo.docroot, "sock.html")
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(sock_path)
        self.addCleanup(listener.close)
        os.mkfifo(os.path.join(vexo.docroot, "fifo.html"))
        for name in ("sock.html", "fifo.html"):
            reply = rawhttp.get(vexo, "/" + name)
            self.assertEqual(reply.status_line, "HTTP/1.1 403 forbidden", name)
            self.assertEqual(reply.body, b"403 forbidden")
        time.sleep(0.2)
        self.assertIn("StaticFileController: Cannot open existing file %s for reading" % sock_path,
                      vexo.log_text())

    def test_unreadable_file_is_refused(self):
        vexo = vexotest.VexoInstance(config={}, docroot_files={"secret.html": b"s"}, start=False)
        self.addCleanup(vexo.cleanup)
        secret = os.path.join(vexo.docroot, "secret.html")
        os.chmod(secret, 0)
        if os.geteuid() == 0:
            # Root reads any file; without these two capabilities it obeys the mode bits.
            setpriv = shutil.which("setpriv")
            drop = "--bounding-set=-dac_override,-dac_read_search"
            if not setpriv or subprocess.run([setpriv, drop, "true"]).returncode != 0:
                self.skipTest("running as root and cannot drop the file capabilities with setpriv")
            vexo.args = [drop, vexo.exe] + vexo.args
            vexo.exe = setpriv
        vexo.start()
        reply = rawhttp.get(vexo, "/secret.html")
        self.assertEqual(reply.status_line, "HTTP/1.1 403 forbidden")
        self.assertEqual(reply.body, b"403 forbidden")
        time.sleep(0.2)
        self.assertIn("StaticFileController: Cannot open existing file %s for reading" % secret, vexo.log_text())


class StreamingTest(StaticTestCase):
    def test_large_file_goes_out_in_64k_chunks_and_empty_file_with_zero_length(self):
        big = bytes(range(256)) * (4 * 1024 + 3)  # 1 MiB and 768 bytes
        vexo = self.start(files={"big.bin": big, "small.txt": b"s" * 1000, "empty.txt": b""})
        self.assertEqual(rawhttp.get(vexo, "/big.bin").body, big)
        self.assertEqual(rawhttp.raw_chunk_sizes(vexo, "/big.bin"), [65536] * 16 + [768, 0])
        self.assertEqual(rawhttp.raw_chunk_sizes(vexo, "/small.txt"), [1000, 0])
        self.assertEqual(rawhttp.raw_chunk_sizes(vexo, "/small.txt"), [1000, 0])
        empty = rawhttp.get(vexo, "/empty.txt")
        self.assertEqual((empty.status, empty.body, empty.header("Content-Length")), (200, b"", "0"))

    def test_several_clients_at_once(self):
        files = {"index.html": INDEX, "mid.js": b"m" * 70000, "big.bin": os.urandom(300000)}
        files.update({"f%d.txt" % i: (b"%d" % i) * 100 for i in range(10)})
        vexo = self.start(files=files)
        failures = []

        def client(number):
            try:
                for round_ in range(6):
                    name = ["index.html", "mid.js", "big.bin", "f%d.txt" % ((number + round_) % 10)][round_ % 4]
                    reply = rawhttp.get(vexo, "/" + name)
                    if reply.status != 200 or reply.body != files[name]:
                        failures.append((number, name, reply.status, len(reply.body)))
            except Exception as error:  # noqa: BLE001 - reported below
                failures.append((number, repr(error)))

        threads = [threading.Thread(target=client, args=(n,)) for n in range(16)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(60)
        self.assertFalse(any(t.is_alive() for t in threads))
        self.assertEqual(failures, [])


if __name__ == "__main__":
    unittest.main()
