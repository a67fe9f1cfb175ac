"""Device search through the AJAX API, with vexo and the devices in namespaces of their own. (The
simulator found and connected to is the browser test's, tests/e2e/discovery.test.mjs.)"""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from netlab import DiscoveryLab
from vexotest import VexoInstance

ANSWERED = 0.3  # an answer is in once its request was logged


class DiscoveryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lab = DiscoveryLab()
        cls.dir = tempfile.mkdtemp(prefix="vexo-discovery-")
        # vexo inside the searcher namespace. The pool retires every idle connection thread at
        # once: each search outlives the thread of the request that started it.
        cls.vexo = VexoInstance(config={"listener": {"minThreads": 0, "cleanupInterval": 50}}, start=False)
        cls.vexo.log = open(cls.vexo.log_path, "wb")
        cls.vexo.process = subprocess.Popen(cls.lab.in_searcher([cls.vexo.exe] + cls.vexo.args), cwd=cls.vexo.dir,
                                            env=cls.vexo.env, stdout=cls.vexo.log, stderr=subprocess.STDOUT)
        cls.lab.wait_for_http(cls.vexo.url("/ajax.html"), cls.vexo.process)

    @classmethod
    def tearDownClass(cls):
        cls.vexo.cleanup()
        cls.lab.close()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def start_devices(self, answers):
        """Python peers answering every request, logging each to self.peer_log."""
        self.peer_log = os.path.join(self.dir, self.id() + ".log")
        process = self.lab.start_peer(answers, self.peer_log)
        self.addCleanup(lambda: (process.kill(), process.wait()))

    def ajax(self, func):
        return self.lab.curl(self.vexo.url("/ajax.html?func=" + func))

    def requests(self):
        if not os.path.exists(self.peer_log):
            return []
        with open(self.peer_log) as f:
            return [line.split() for line in f]

    def collect_after(self, requests):
        """Waits until the peers have seen this many requests in all, then collects."""
        deadline = time.monotonic() + 10
        while len(self.requests()) < requests and time.monotonic() < deadline:
            time.sleep(0.02)
        time.sleep(ANSWERED)
        return self.ajax("getSearchedDevices")

    def test_one_device_answering_every_request_is_listed_once_then_collected(self):
        self.assertEqual(self.ajax("getSearchedDevices"), b"[]")  # no search yet
        self.start_devices([("10.231.0.2", b"Meter\r\n00:11:22:33:44:55\r\n502\r\n7")])
        sockets = self.vexo.log_text().count("DeviceFinder socket created:")
        self.assertEqual(self.ajax("startSearchingDevices"), b"ok")
        self.assertEqual(self.collect_after(4), b'[{"ip":"10.231.0.2","mac":"00:11:22:33:44:55",'
                                                b'"modbusid":"7","name":"Meter","port":"502"}]')
        # Two bursts, each to the global and the subnet broadcast address, with the one-byte request.
        requests = self.requests()
        self.assertEqual([r[2] for r in requests], ["255.255.255.255", "10.231.0.255"] * 2)
        self.assertEqual({(r[0], r[3]) for r in requests}, {("10.231.0.1", "44")})
        # Collected once: the next collection finds no search.
        self.assertEqual(self.ajax("getSearchedDevices"), b"[]")
        # One socket: none for loopback or the link-local address.
        self.assertEqual(self.vexo.log_text().count("DeviceFinder socket created:"), sockets + 1)

    def test_several_devices_with_loose_answers(self):
        self.start_devices([
            ("10.231.0.2", b"Alpha\r\n\r\n\r\nmac-a\nabc\r\n0"),
            ("10.231.0.3", b"Beta\nmac-b\n70000\n-5\nextra line"),
            ("10.231.0.3", b"Gamma\nmac-c\n1502\n3"),
            ("10.231.0.4", b"only\ntwo"),
            ("10.231.0.4", b"\0\0 \r\n"),
            ("10.231.0.4", b"Delta\0\0\0\0\nmac-d\0\n502\n\x004"),  # NULs padding the fields
        ])
        self.assertEqual(self.ajax("startSearchingDevices"), b"ok")
        self.assertEqual(self.collect_after(4),
                         b'[{"ip":"10.231.0.2","mac":"mac-a","modbusid":"1","name":"Alpha","port":"502"},'
                         b'{"ip":"10.231.0.3","mac":"mac-b","modbusid":"1","name":"Beta","port":"70000"},'
                         b'{"ip":"10.231.0.3","mac":"mac-c","modbusid":"3","name":"Gamma","port":"1502"},'
                         b'{"ip":"10.231.0.4","mac":"mac-d","modbusid":"4","name":"Delta","port":"502"}]')

    def test_a_new_search_ends_the_old_one_as_a_collection_does(self):
        # The name carries the request's number: the first answer of a search wins.
        self.start_devices([("10.231.0.2", b"Dev{n}\nmac\n502\n1")])
        self.ajax("startSearchingDevices")
        self.ajax("startSearchingDevices")  # ends the first before its bursts
        self.assertFinds(b"Dev1", 4)
        self.ajax("startSearchingDevices")
        self.assertEqual(self.ajax("getSearchedDevices"), b"[]")  # collected before its bursts
        self.ajax("startSearchingDevices")
        self.assertFinds(b"Dev5", 8)

    def assertFinds(self, name, requests):
        """Only the last search's four requests arrived."""
        self.assertEqual(self.collect_after(requests),
                         b'[{"ip":"10.231.0.2","mac":"mac","modbusid":"1","name":"%s","port":"502"}]' % name)
        self.assertEqual(len(self.requests()), requests)


if __name__ == "__main__":
    unittest.main()
