#!/usr/bin/python3
"""A small update server for Vexo: answers update checks, lists module files and serves them.

Layout of the served folder (--root):
    check.json              the answer to a check (POST to any path); "{}" when missing
    modules/<name>/...      the files of module <name>, listed recursively
    root/..., install/...   further files, fetched only when a list names them
    lists/<name>.txt        optional: the raw file list of module <name>, served as is
                            ("{base}" in it is replaced by this server's base URL)

Requests:
    POST <any path>                   the check answer (see the --check-* options)
    GET  <prefix>fileList?moduleName=N a JavaScript array of the full URLs of N's files
    GET  <prefix>files/<path>          the file <path> below the served folder

Prints "listening on <port>" once it accepts connections. Example:
    python3 tools/updateserver/updateserver.py --root /srv/vexo-updates --port 8090
and in config.ini:  [updates]  updateServer=http://127.0.0.1:8090/
"""
import argparse
import http.server
import json
import os
import sys
import threading
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VexoUpdateServer/1"

    def log_message(self, fmt, *args):
        if self.server.options.verbose:
            sys.stderr.write("updateserver: " + (fmt % args) + "\n")

    def reply(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if status not in (204, 304):
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if status not in (204, 304):
            self.wfile.write(body)

    def send_cut_short(self, data):
        """Announces the whole file, sends only its first bytes and hangs up."""
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data[:self.server.options.cut_files])
        self.wfile.flush()
        self.close_connection = True

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        self.server.record({"path": self.path, "contentType": self.headers.get("Content-Type"),
                            "body": body.decode("latin-1")})
        options = self.server.options
        if options.check_hang:
            # Keep the connection open and silent until the server stops.
            self.server.stopping.wait()
            self.close_connection = True
            return
        headers = []
        if 300 <= options.check_status < 400:
            headers.append(("Location", "http://127.0.0.1:1/moved"))
        self.reply(options.check_status, self.server.check_answer(), headers)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        self.server.record({"path": self.path})
        if url.path.endswith("/fileList"):
            query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
            self.reply(200, self.server.file_list(query.get("moduleName", [""])[0]))
            return
        marker = "/files/"
        if marker in url.path and self.server.options.hang_files:
            self.server.stopping.wait()
            self.close_connection = True
            return
        if marker in url.path:
            data = self.server.file(urllib.parse.unquote(url.path.split(marker, 1)[1]))
            if data is not None and self.server.options.cut_files is not None:
                self.send_cut_short(data)
                return
            if data is not None:
                self.reply(200, data, [("Content-Type", "application/octet-stream")])
                return
        self.reply(404, b"not found")


class UpdateServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, options):
        super().__init__((options.host, options.port), Handler)
        self.options = options
        self.root = os.path.abspath(options.root)
        self.stopping = threading.Event()
        self.lock = threading.Lock()

    def base_url(self):
        host, port = self.server_address[:2]
        return "http://%s:%d%s" % (host, port, self.options.prefix)

    def record(self, entry):
        if not self.options.log:
            return
        with self.lock, open(self.options.log, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry) + "\n")

    def check_answer(self):
        path = self.options.check_file or os.path.join(self.root, "check.json")
        if os.path.isfile(path):
            with open(path, "rb") as f:
                return f.read()
        return b"{}"

    def inside(self, relative):
        path = os.path.realpath(os.path.join(self.root, relative))
        return path if path.startswith(self.root + os.sep) else None

    def file(self, relative):
        path = self.inside(relative)
        if path is None or not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def file_list(self, module):
        custom = self.inside(os.path.join("lists", module + ".txt")) if module else None
        if custom and os.path.isfile(custom):
            with open(custom, "rb") as f:
                return f.read().replace(b"{base}", self.base_url().encode())
        folder = self.inside(os.path.join("modules", module)) if module else None
        urls = []
        if folder and os.path.isdir(folder):
            for dirpath, dirnames, filenames in os.walk(folder):
                dirnames.sort()
                for name in sorted(filenames):
                    relative = os.path.relpath(os.path.join(dirpath, name), self.root)
                    urls.append(self.base_url() + "files/" + urllib.parse.quote(relative.replace(os.sep, "/")))
        return json.dumps(urls).encode()


def parse_options(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="the served folder")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--prefix", default="/", help="path of the update service, ending in /")
    parser.add_argument("--check-file", help="answer checks with this file instead of check.json")
    parser.add_argument("--check-status", type=int, default=200, help="HTTP status of the check answer")
    parser.add_argument("--check-hang", action="store_true", help="never answer a check")
    parser.add_argument("--hang-files", action="store_true", help="never answer a file download")
    parser.add_argument("--cut-files", type=int, metavar="BYTES",
                        help="send only the first BYTES bytes of every file, then close the connection")
    parser.add_argument("--log", help="append every request as one JSON line to this file")
    parser.add_argument("--verbose", action="store_true")
    return parser.parse_args(argv)


def main(argv=None):
    options = parse_options(argv)
    server = UpdateServer(options)
    print("listening on %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping.set()
        server.server_close()


if __name__ == "__main__":
    main()
