"""Starts the real vexo executable in a private directory for black-box tests.

Each instance gets its own copy of the executable (config.ini must sit beside it), its own
config.ini, document root, HOME, XDG_CONFIG_HOME (settings store), XDG_DATA_HOME (read definitions,
value log) and TMPDIR (lock file).
"""
import os
import shutil
import socket
import subprocess
import tempfile
import time

import httpwire

BUILD_DIR = os.environ.get("VEXO_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SOURCE_DIR = os.environ.get("VEXO_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


def free_port():
    """A TCP port on loopback that nobody listens on right now."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(condition, timeout=5.0, step=0.02):
    """Polls condition until it holds or the time is up; returns its last value."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def listens(port, host="127.0.0.1"):
    try:
        socket.create_connection((host, port), timeout=0.5).close()
        return True
    except OSError:
        return False


def wait_for_port(port, host="127.0.0.1", timeout=10.0, process=None):
    deadline = time.monotonic() + timeout
    while not listens(port, host):
        if process is not None and process.poll() is not None:
            raise RuntimeError("process ended with %s before listening" % process.returncode)
        if time.monotonic() > deadline:
            raise TimeoutError("nothing listens on %s:%d" % (host, port))
        time.sleep(0.02)


def write_ini(path, groups):
    with open(path, "w", encoding="utf-8") as f:
        for group, keys in groups.items():
            f.write("[%s]\n" % group)
            for key, value in keys.items():
                f.write("%s=%s\n" % (key, value))
            f.write("\n")


class VexoInstance:
    """One running vexo. `config` maps group -> {key: value}, merged over the defaults."""

    def __init__(self, config=None, args=("-r",), docroot_files=None, env=None, start=True):
        self.dir = tempfile.mkdtemp(prefix="vexo-test-")
        self.port = free_port()
        self.home = os.path.join(self.dir, "home")
        self.tmp = os.path.join(self.dir, "tmp")
        self.docroot = os.path.join(self.dir, "www")
        self.data_home = os.path.join(self.home, ".local", "share")
        for d in (self.home, self.tmp, self.docroot):
            os.makedirs(d, exist_ok=True)
        self.exe = os.path.join(self.dir, "vexo")
        shutil.copy2(os.path.join(BUILD_DIR, "vexo"), self.exe)
        groups = {
            "listener": {"host": "127.0.0.1", "port": self.port, "readTimeout": 10000},
            "docroot": {"path": "www"},
        }
        for group, keys in (config or {}).items():
            groups.setdefault(group, {}).update(keys)
        self.config = groups
        write_ini(os.path.join(self.dir, "config.ini"), groups)
        for name, content in (docroot_files or {}).items():
            path = os.path.join(self.docroot, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content if isinstance(content, bytes) else content.encode())
        self.env = dict(os.environ, HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                        XDG_DATA_HOME=self.data_home, TMPDIR=self.tmp, QT_QPA_PLATFORM="offscreen")
        self.env.update(env or {})
        self.args = list(args)
        self.process = None
        self.log_path = os.path.join(self.dir, "vexo.log")
        if start:
            try:
                self.start()
            except BaseException:
                # Nobody holds the instance yet to clean it up: do not leave the process behind.
                self.cleanup()
                raise

    def start(self, wait=True):
        self.log = open(self.log_path, "wb")
        self.process = subprocess.Popen([self.exe] + self.args, cwd=self.dir, env=self.env,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        if wait:
            wait_for_port(self.port, process=self.process)
        return self

    def data_path(self, name):
        """A file in vexo's data folder."""
        return os.path.join(self.data_home, "Torva", "Vexo", name)

    def log_text(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stop(self, timeout=10):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if getattr(self, "log", None):
            self.log.close()

    def cleanup(self):
        self.stop()
        report = sanitizer_report(self.log_text()) if os.path.exists(self.log_path) else None
        shutil.rmtree(self.dir, ignore_errors=True)
        if report:
            raise AssertionError("sanitizer report from vexo:\n" + report)

    def url(self, path="/"):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def get(self, path, headers=()):
        """One GET on a connection of its own: the httpwire.Reply."""
        return httpwire.send(self, "GET", path, headers)

    def connect(self, timeout=5.0):
        return socket.create_connection(("127.0.0.1", self.port), timeout=timeout)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.cleanup()


SANITIZER_MARKERS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer",
                     ": runtime error: ")


def sanitizer_report(log):
    """The first sanitizer finding in a log, or None. In sanitizer builds a finding in the
    executable fails the test that started it, even when every reply looked right."""
    starts = [log.find(m) for m in SANITIZER_MARKERS if m in log]
    if not starts:
        return None
    start = min(starts)
    return log[max(0, start - 200):start + 4000]
