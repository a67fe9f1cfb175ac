"""Device search through the AJAX API, with vexo and the devices in namespaces of their own."""
import json
import os
import subprocess
import tempfile
import time
import unittest

from netlab import DiscoveryLab
from vexotest import BUILD_DIR, VexoInstance

BOTH_BURSTS = 1.6  # the two bursts leave 500 and 800 ms after the start


class DiscoveryTest(unittest.TestCase):
    def setUp(self):
        self.lab = DiscoveryLab()
        self.addCleanup(self.lab.close)
        self.peer_log = os.path.join(self.lab_dir(), "peer.log")

    def lab_dir(self):
        folder = tempfile.mkdtemp(prefix="vexo-discovery-")
        self.addCleanup(subprocess.run, ["rm", "-rf", folder])
        return folder

    def start_vexo(self, config=None):
        """vexo inside the searcher namespace."""
        self.vexo = VexoInstance(config=config, start=False)
        self.addCleanup(self.vexo.cleanup)
        self.vexo.log = open(self.vexo.log_path, "wb")
        self.vexo.process = subprocess.Popen(self.lab.in_searcher([self.vexo.exe] + self.vexo.args),
                                             cwd=self.vexo.dir, env=self.vexo.env,
                                             stdout=self.vexo.log, stderr=subprocess.STDOUT)
        self.lab.wait_for_http(self.vexo.url("/ajax.html"), self.vexo.process)

    def ajax(self, func):
        return self.lab.curl(self.vexo.url("/ajax.html?func=" + func))

    def search(self):
        self.assertEqual(self.ajax("startSearchingDevices"), b"ok")
        time.sleep(BOTH_BURSTS)
        return self.ajax("getSearchedDevices")

    def test_one_device_answering_every_request_is_listed_once_then_collected(self):
        answer = b"Meter\r\n00:11:22:33:44:55\r\n502\r\n7"
        self.lab.start_peer([("10.231.0.2", answer)], self.peer_log)
        self.start_vexo()
        self.assertEqual(self.search(), b'[{"ip":"10.231.0.2","mac":"00:11:22:33:44:55",'
                                        b'"modbusid":"7","name":"Meter","port":"502"}]')
        # Two bursts, each to the global and the subnet broadcast address, with the one-byte request.
        with open(self.peer_log) as f:
            requests = [line.split() for line in f]
        self.assertEqual([r[2] for r in requests], ["255.255.255.255", "10.231.0.255"] * 2)
        self.assertEqual({(r[0], r[3]) for r in requests}, {("10.231.0.1", "44")})
        # Collected once: the next collection finds no search.
        self.assertEqual(self.ajax("getSearchedDevices"), b"[]")

        log = self.vexo.log_text()
        self.assertEqual(log.count("DeviceFinder socket created:"), 1)  # none for lo or 169.254.7.7
        for line in (
                'DeviceFinder socket created: "vxs" local ip: "10.231.0.1" broadcast: "10.231.0.255"',
                'DeviceFinder global broadcast sent: "vxs" local ip: "10.231.0.1" to: "255.255.255.255"',
                'DeviceFinder subnet broadcast sent: "vxs" local ip: "10.231.0.1" to: "10.231.0.255"',
                'DeviceFinder response from: "10.231.0.2" received on local ip: "10.231.0.1" size: "%d" '
                'raw hex: "%s"' % (len(answer), answer.hex()),
                'DeviceFinder payload: "Meter\\r\\n00:11:22:33:44:55\\r\\n502\\r\\n7"',
                'DeviceFinder parsed lines: ("Meter", "00:11:22:33:44:55", "502", "7")',
                'DeviceFinder parsed full device response: name: "Meter" ip: "10.231.0.2" '
                'mac: "00:11:22:33:44:55" port: 502 id: 7',
                'DeviceFinder::getSearchedDevices() devices.size(): 1',
                'DeviceFinder JSON result: "[{\\"ip\\":\\"10.231.0.2\\",'):
            self.assertIn(line, log)

    def test_several_devices_with_loose_answers(self):
        self.lab.start_peer([
            ("10.231.0.2", b"Alpha\r\n\r\n\r\nmac-a\nabc\r\n0"),
            ("10.231.0.3", b"Beta\nmac-b\n70000\n-5\nextra line"),
            ("10.231.0.3", b"Gamma\nmac-c\n1502\n3"),
            ("10.231.0.4", b"only\ntwo"),
            ("10.231.0.4", b"\0\0 \r\n"),
            ("10.231.0.4", b"Delta\0\0\0\0\nmac-d\0\n502\n\x004"),  # NULs padding the fields
        ], self.peer_log)
        self.start_vexo()
        self.assertEqual(self.search(),
                         b'[{"ip":"10.231.0.2","mac":"mac-a","modbusid":"1","name":"Alpha","port":"502"},'
                         b'{"ip":"10.231.0.3","mac":"mac-b","modbusid":"1","name":"Beta","port":"70000"},'
                         b'{"ip":"10.231.0.3","mac":"mac-c","modbusid":"3","name":"Gamma","port":"1502"},'
                         b'{"ip":"10.231.0.4","mac":"mac-d","modbusid":"4","name":"Delta","port":"502"}]')
        log = self.vexo.log_text()
        self.assertIn('DeviceFinder parsed lines: ("Alpha", "mac-a", "abc", "0")', log)
        self.assertIn('DeviceFinder invalid response from: "10.231.0.4" payload: "only\\ntwo"', log)
        self.assertIn('DeviceFinder empty datagram from: "10.231.0.4"', log)

    def test_a_new_search_replaces_the_old_one(self):
        # The name carries the request's number: the first answer of a search wins.
        self.lab.start_peer([("10.231.0.2", b"Dev{n}\nmac\n502\n1")], self.peer_log)
        self.start_vexo()
        self.assertEqual(self.ajax("startSearchingDevices"), b"ok")
        time.sleep(BOTH_BURSTS)
        self.assertEqual(self.search(),
                         b'[{"ip":"10.231.0.2","mac":"mac","modbusid":"1","name":"Dev5","port":"502"}]')

    def test_a_search_outlives_its_retired_connection_thread(self):
        # The pool retires every idle connection thread at once; curl's connection has ended
        # long before the bursts leave.
        self.lab.start_peer([("10.231.0.2", b"Meter\nmac\n502\n7")], self.peer_log)
        self.start_vexo({"listener": {"minThreads": 0, "cleanupInterval": 50}})
        self.assertEqual(self.search(),
                         b'[{"ip":"10.231.0.2","mac":"mac","modbusid":"7","name":"Meter","port":"502"}]')

    def test_the_simulator_is_found_and_connected_to(self):
        devsim = os.path.join(BUILD_DIR, "vexo-devsim")
        sim = self.lab.start_in_devices([devsim, "--tcp", "10.231.0.2:1502", "--discovery-name", "Simulated meter",
                                         "--discovery-mac", "02:00:00:00:00:09", "--discovery-unit-id", "9"],
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.addCleanup(sim.stdout.close)
        self.assertEqual(sim.stdout.readline().strip(), "listening on tcp 10.231.0.2:1502")
        self.assertEqual(sim.stdout.readline().strip(), "answering device searches on udp 30303")
        self.start_vexo()
        found = self.search()
        self.assertEqual(found, b'[{"ip":"10.231.0.2","mac":"02:00:00:00:00:09","modbusid":"9",'
                                b'"name":"Simulated meter","port":"1502"}]')
        device = json.loads(found)[0]
        self.assertEqual(self.ajax("connect&connType=tcp&ipAddres_tcp=%s&port_tcp=%s&slaveID=%s&timeout=1000"
                                   % (device["ip"], device["port"], device["modbusid"])),
                         b'{"ok":"Connected with Modbus TCP."}')

class WithoutSearchTest(unittest.TestCase):
    def test_collecting_without_a_search_gives_an_empty_list(self):
        # No finder is made here, so this may run in the machine's own namespace.
        with VexoInstance() as vexo:
            from vexotest import read_http_response
            with vexo.connect() as sock:
                sock.sendall(b"GET /ajax.html?func=getSearchedDevices HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                status, _, body, _ = read_http_response(sock)
            self.assertIn("200", status)
            self.assertEqual(body, b"[]")


if __name__ == "__main__":
    unittest.main()
