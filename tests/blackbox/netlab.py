"""A pair of network namespaces for the discovery tests, joined by a veth pair.

Device discovery broadcasts on every interface, so vexo searches only from inside the
"searcher" namespace made here; devices answer from the "devices" namespace. Nothing is
added to the machine's own namespace, and close() removes both namespaces.
"""
import os
import subprocess
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SEARCHER_IP = "10.231.0.1"
DEVICE_IPS = ["10.231.0.2", "10.231.0.3", "10.231.0.4"]


def ip(*args):
    result = subprocess.run(["ip"] + list(args), capture_output=True, text=True, timeout=10)
    if result.returncode != 0:
        raise OSError("ip %s: %s" % (" ".join(args), result.stderr.strip()))


def remove_orphans():
    """Namespaces left behind by a run that was killed before it could clean up."""
    try:
        names = os.listdir("/run/netns")
    except OSError:
        return
    for name in names:
        parts = name.split("-")
        if name.startswith("vexo-bb-") and len(parts) == 5 and not os.path.exists("/proc/" + parts[2]):
            subprocess.run(["ip", "netns", "del", name], capture_output=True)


class DiscoveryLab:
    """Raises unittest.SkipTest where namespaces cannot be made (not root, no iproute2)."""

    def __init__(self):
        remove_orphans()
        tag = "%d-%d" % (os.getpid(), int(time.monotonic() * 1000) % 100000)
        self.searcher = "vexo-bb-%s-s" % tag
        self.devices = "vexo-bb-%s-d" % tag
        self.peers = []
        try:
            ip("netns", "add", self.searcher)
            ip("netns", "add", self.devices)
            ip("-n", self.searcher, "link", "add", "vxs", "type", "veth", "peer", "name", "vxd", "netns", self.devices)
            ip("-n", self.searcher, "addr", "add", SEARCHER_IP + "/24", "brd", "+", "dev", "vxs")
            # A link-local address that must get no socket of its own.
            ip("-n", self.searcher, "addr", "add", "169.254.7.7/16", "brd", "+", "dev", "vxs")
            for address in DEVICE_IPS:
                ip("-n", self.devices, "addr", "add", address + "/24", "brd", "+", "dev", "vxd")
            for ns, link in ((self.searcher, "vxs"), (self.devices, "vxd")):
                ip("-n", ns, "link", "set", "lo", "up")
                ip("-n", ns, "link", "set", link, "up")
                ip("netns", "exec", ns, "true")  # some containers refuse to enter namespaces
        except (OSError, subprocess.SubprocessError) as error:
            self.close()
            raise unittest.SkipTest("discovery runs only inside network namespaces of its own, "
                                    "which could not be made here: %s" % error)

    def in_searcher(self, argv):
        return ["ip", "netns", "exec", self.searcher] + list(argv)

    def start_peer(self, answers, log_path):
        """Python devices answering every request; answers: [(from ip, payload bytes)]."""
        argv = ["/usr/bin/python3", os.path.join(HERE, "discoverypeer.py"), "--log", log_path]
        for address, payload in answers:
            argv += ["--answer", address, payload.hex()]
        peer = subprocess.Popen(["ip", "netns", "exec", self.devices] + argv, stdout=subprocess.PIPE, text=True)
        self.peers.append(peer)
        if peer.stdout.readline().strip() != "ready":
            raise RuntimeError("the discovery peer did not start")
        return peer

    def curl(self, url, timeout=10):
        """GET url from inside the searcher namespace; returns the body bytes."""
        result = subprocess.run(self.in_searcher(["curl", "-sS", "--max-time", str(timeout), url]),
                                capture_output=True, timeout=timeout + 5)
        if result.returncode != 0:
            raise ConnectionError(result.stderr.decode(errors="replace"))
        return result.stdout

    def wait_for_http(self, url, process, timeout=10.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if process.poll() is not None:
                raise RuntimeError("vexo ended with %s before listening" % process.returncode)
            try:
                self.curl(url, timeout=2)
                return
            except (ConnectionError, subprocess.TimeoutExpired):
                time.sleep(0.1)
        raise TimeoutError("vexo does not answer at %s" % url)

    def close(self):
        for peer in self.peers:
            if peer.poll() is None:
                peer.kill()
            peer.wait()
            if peer.stdout:
                peer.stdout.close()
        self.peers = []
        for ns in (self.devices, self.searcher):
            subprocess.run(["ip", "netns", "del", ns], capture_output=True)
