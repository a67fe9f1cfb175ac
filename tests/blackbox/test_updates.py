"""Module updates through the AJAX API against the project's update server on loopback. (A
silent server and the file-tree rules are tst_updates', with a short limit.)"""
import json
import os
import subprocess
import tempfile
import unittest
import urllib.parse

from vexotest import SOURCE_DIR, VexoInstance, free_port, wait_until

COMPLETED = b'{"ok":"Completed correctly."}'
CONNECT_ERROR = b'{"error":"Unable to connect with server!"}'
DISK_ERROR = b'{"error":"Unable to write to disk!"}'
REPLY_ERROR = b'{"error":"Reply error!"}'


class UpdateServer:
    def __init__(self, *options):
        self.root = tempfile.mkdtemp(prefix="vexo-updates-")
        self.log = os.path.join(self.root, "requests.log")
        script = os.path.join(SOURCE_DIR, "tools", "updateserver", "updateserver.py")
        self.process = subprocess.Popen(["/usr/bin/python3", script, "--root", self.root, "--log", self.log]
                                        + list(options),
                                        stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("listening on "):
            raise RuntimeError("the update server did not start")
        self.url = "http://127.0.0.1:%d/" % int(line.split()[2])

    def add(self, relative, content):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)

    def requests(self):
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line) for line in f]

    def close(self):
        self.process.kill()
        self.process.wait()
        self.process.stdout.close()
        subprocess.run(["rm", "-rf", self.root])


class UpdatesTest(unittest.TestCase):
    def start(self, server_url, docroot_files=None):
        vexo = VexoInstance(config={"updates": {"updateServer": server_url}}, docroot_files=docroot_files,
                            start=False)
        self.addCleanup(vexo.cleanup)
        # The update's own temporary tree is "tmp" beside the document root: keep the
        # instance's lock file elsewhere.
        vexo.env["TMPDIR"] = os.path.join(vexo.dir, "system-tmp")
        os.makedirs(vexo.env["TMPDIR"])
        vexo.update_tree = os.path.join(vexo.dir, "tmp")
        return vexo.start()

    def serve(self, *options):
        server = UpdateServer(*options)
        self.addCleanup(server.close)
        return server

    def ajax(self, vexo, query):
        reply = vexo.get("/ajax.html?" + query)
        self.assertEqual(reply.status, 200)
        return reply.body

    def update(self, vexo, modules):
        # The page percent-encodes the list once more than the request parser decodes.
        value = urllib.parse.quote(urllib.parse.quote(json.dumps(modules), safe=""), safe="")
        return self.ajax(vexo, "func=startUpdating&modulesList=" + value)

    def final_status(self, vexo, expected):
        statuses = []
        wait_until(lambda: statuses.append(self.ajax(vexo, "func=getUpdateStatus")) or statuses[-1] == expected, 10)
        return statuses[-1]

    def test_two_modules_land_in_the_document_root(self):
        server = self.serve()
        server.add("modules/meter/index.html", b"<p>new</p>")
        server.add("modules/meter/style.css", b"p{}")
        server.add("modules/logger/main.js", b"var a;")
        vexo = self.start(server.url, {"modules/meter/index.html": "<p>old</p>", "modules/meter/keep.js": "k"})
        self.assertEqual(self.ajax(vexo, "func=getUpdateStatus"), b"{}")
        self.assertEqual(self.update(vexo, ["meter", "logger"]), b'{"ok":"Update started"}')
        self.assertEqual(self.final_status(vexo, COMPLETED), COMPLETED)
        with open(os.path.join(vexo.docroot, "modules", "meter", "index.html"), "rb") as f:
            self.assertEqual(f.read(), b"<p>new</p>")
        self.assertFalse(os.path.exists(vexo.update_tree))
        self.assertEqual([r["path"] for r in server.requests() if "fileList" in r["path"]],
                         ["/fileList?moduleName=meter", "/fileList?moduleName=logger"])

    def test_broken_failing_and_hostile_file_lists(self):
        server = self.serve()
        # A file list is served as is; "{base}" stands for the server's base URL.
        lists = {"broken": "this is [not a list",
                 "missing": "['{base}files/root/present.css', '{base}files/root/absent.css']",
                 # The second file needs a folder where the first one is a file.
                 "blocked": "['{base}files/root/present.css', '{base}files/other/root/present.css/inner.css']",
                 "hostile": "['{base}files/elsewhere/plain.txt', '{base}files/root/../root/good.css', '%s', "
                            "'{base}files/modules/../root/good.css', '{base}files/root/good.css']"}
        files = {"modules/good/a.js": b"ok", "root/present.css": b"x", "other/root/present.css/inner.css": b"y",
                 "elsewhere/plain.txt": b"no marker", "root/good.css": b"good"}
        for name, content in list(files.items()) + [("lists/%s.txt" % n, t.encode()) for n, t in lists.items()]:
            server.add(name, content)
        vexo = self.start(server.url)
        secret = os.path.join(vexo.dir, "local", "root", "secret.txt")
        os.makedirs(os.path.dirname(secret))
        with open(secret, "w") as f:
            f.write("local file")
        with open(os.path.join(server.root, "lists", "hostile.txt"), "w") as f:
            f.write(lists["hostile"] % ("file://" + secret))
        # A broken list does not stop the others; alone, its empty tree cannot be installed.
        for modules, status in ((["broken", "good"], COMPLETED), (["broken"], DISK_ERROR), (["missing"], REPLY_ERROR),
                                (["blocked"], DISK_ERROR), (["hostile"], COMPLETED)):
            self.assertEqual(self.update(vexo, modules), b'{"ok":"Update started"}')
            self.assertEqual(self.final_status(vexo, status), status, modules)
            if modules == ["missing"]:
                self.assertTrue(os.path.exists(os.path.join(vexo.update_tree, "root", "present.css")))
            if status != COMPLETED:
                self.assertFalse(os.path.exists(os.path.join(vexo.docroot, "root")), modules)
        # Only the file inside the tree landed, and nothing outside the document root.
        self.assertEqual(sorted(os.listdir(vexo.docroot)), ["modules", "root"])
        self.assertEqual(os.listdir(os.path.join(vexo.docroot, "root")), ["good.css"])
        landed = [name for _, _, names in os.walk(vexo.dir) for name in names if name.endswith((".txt", ".css"))]
        self.assertEqual(sorted(landed), ["good.css", "secret.txt"])

    def test_a_download_cut_short_is_not_installed(self):
        server = self.serve("--cut-files", "3")
        server.add("modules/meter/a.js", b"n" * 4096)
        vexo = self.start(server.url, {"modules/meter/a.js": "installed"})
        self.update(vexo, ["meter"])
        self.assertEqual(self.final_status(vexo, DISK_ERROR), DISK_ERROR)
        with open(os.path.join(vexo.docroot, "modules", "meter", "a.js")) as f:
            self.assertEqual(f.read(), "installed")

    def test_check_answers_and_failures(self):
        server = self.serve()
        server.add("check.json", b'{"meter":"2.0"}')
        vexo = self.start(server.url)
        self.assertEqual(self.ajax(vexo, "func=check4Updates&json=%7B%22meter%22%3A%221.0%22%7D"), b'{"meter":"2.0"}')
        posted = server.requests()[-1]
        self.assertEqual((posted["body"], posted["contentType"]),
                         ('json={"meter":"1.0"}', "application/x-www-form-urlencoded"))
        self.assertEqual(self.ajax(vexo, "func=check4Updates"), b'{"error":"Parameter error!"}')
        for status, expected in (("204", b""), ("301", CONNECT_ERROR)):
            other = self.serve("--check-status", status)
            self.assertEqual(self.ajax(self.start(other.url), "func=check4Updates&json=1"), expected, status)
        refused = self.start("http://127.0.0.1:%d/" % free_port())
        self.assertEqual(self.ajax(refused, "func=check4Updates&json=1"), CONNECT_ERROR)
        self.assertIn("error no: 1", refused.log_text())
        # Only a JSON array of names starts an update.
        for value in (None, "42", '{"a":1}', "[]", "[1,", "while(true){}"):
            query = "func=startUpdating" + ("" if value is None else "&modulesList=" + urllib.parse.quote(value))
            self.assertEqual(self.ajax(refused, query), b'{"error":"Parameter error!"}', value)
        self.assertEqual(self.ajax(refused, "func=getUpdateStatus"), b"{}")
        self.update(refused, [""])
        failed = b'{"error":"Reply error!","errorNo":1}'
        self.assertEqual(self.final_status(refused, failed), failed)


if __name__ == "__main__":
    unittest.main()
