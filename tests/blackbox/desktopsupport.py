"""Helpers for the desktop black-box tests: several vexo processes sharing one lock, a test
IPC client, stand-in programs that record how they were started, and a private X server."""
import fcntl
import json
import os
import select
import shutil
import socket
import subprocess
import tempfile
import unittest

from vexotest import VexoInstance, wait_until

IPC_NAME = "VexoAdmin-ipc"
LOCK_NAME = "VexoAdmin.lock"


def wait_for_log(instance, text, timeout=10.0):
    if not wait_until(lambda: text in instance.log_text(), timeout):
        raise AssertionError("%r not in log:\n%s" % (text, instance.log_text()))


def successor(first, **kwargs):
    """A second instance that shares the first one's lock directory and port, not started."""
    env = dict(kwargs.pop("env", {}))
    env["TMPDIR"] = first.tmp
    config = kwargs.pop("config", {})
    config.setdefault("listener", {})["port"] = first.port
    second = VexoInstance(config=config, env=env, start=False, **kwargs)
    second.port = first.port
    second.tmp = first.tmp
    return second


def ipc_connect(tmpdir, timeout=5.0):
    """A test IPC client: the serving instance's local socket lives in its TMPDIR."""
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.settimeout(timeout)
    sock.connect(os.path.join(tmpdir, IPC_NAME))
    return sock


def is_open(sock, wait=0.3):
    """True while the peer keeps the connection open (nothing to read, no end of file)."""
    readable, _, _ = select.select([sock], [], [], wait)
    if not readable:
        return True
    return sock.recv(1, socket.MSG_PEEK) != b""


class HeldLock:
    """Holds the lock file the way a live owner does (a file lock on it), without IPC."""

    def __init__(self, tmpdir):
        self.path = os.path.join(tmpdir, LOCK_NAME)
        self.file = open(self.path, "w")
        self.file.write("%d\npython3\n%s\n" % (os.getpid(), socket.gethostname()))
        self.file.flush()
        fcntl.flock(self.file, fcntl.LOCK_EX | fcntl.LOCK_NB)

    def release(self):
        self.file.close()


class StandIns:
    """Scripts in a folder (a new one put first on PATH, or the one given) that record their
    arguments in JSON lines and then take `seconds`. `probe_port` also records whether that port
    was already closed when the script ran."""

    def __init__(self, folder=None):
        self.dir = folder or tempfile.mkdtemp(prefix="vexo-standins-")
        self.records = os.path.join(self.dir, "records.jsonl")

    def add(self, name, probe_port=None, seconds=0):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write("#!/usr/bin/python3\n"
                    "import json, socket, sys, time\n"
                    "closed = None\n"
                    "if %r:\n"
                    "    try:\n"
                    "        socket.create_connection(('127.0.0.1', %r), timeout=0.5).close()\n"
                    "        closed = False\n"
                    "    except OSError:\n"
                    "        closed = True\n"
                    "with open(%r, 'a') as out:\n"
                    "    out.write(json.dumps({'program': %r, 'args': sys.argv[1:], 'port_closed': closed}) + '\\n')\n"
                    "time.sleep(%r)\n" % (probe_port, probe_port, self.records, name, seconds))
        os.chmod(path, 0o755)

    def path_env(self):
        return self.dir + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin")

    def read(self):
        if not os.path.exists(self.records):
            return []
        with open(self.records) as f:
            return [json.loads(line) for line in f if line.strip()]

    def wait(self, count=1, timeout=10.0):
        wait_until(lambda: len(self.read()) >= count, timeout)
        return self.read()

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class XServer:
    """A private Xvfb display, so that Qt's own desktop services (xdg-open) and real dialogs
    can be used. No window manager and no system tray."""

    def __init__(self):
        read_fd, write_fd = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def env(self):
        return {"DISPLAY": self.display, "QT_QPA_PLATFORM": "xcb"}

    def xdotool(self, *args, timeout=10):
        env = dict(os.environ, DISPLAY=self.display)
        return subprocess.run(["xdotool"] + list(args), env=env, capture_output=True, text=True,
                              timeout=timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


class DesktopTestCase(unittest.TestCase):
    """Tests whose vexo runs on a private X display (see XServer), shared by the class."""

    @classmethod
    def setUpClass(cls):
        cls.xserver = XServer()

    @classmethod
    def tearDownClass(cls):
        cls.xserver.stop()

    def stand_in_browser(self):
        """A recording xdg-open, and the environment that puts it and the display to use."""
        browser = StandIns()
        self.addCleanup(browser.cleanup)
        browser.add("xdg-open")
        return browser, dict(self.xserver.env(), PATH=browser.path_env())
