"""The six Modbus functions through the real vexo's AJAX API, against vexo-devsim."""
import json
import threading
import time
import unittest
import urllib.parse

import devsim
import vexotest


def ajax(vexo, params, timeout=30.0):
    """One AJAX call on its own connection; returns (status line, headers, body)."""
    with vexo.connect(timeout=timeout) as sock:
        sock.sendall(("GET /ajax.html?%s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
                      % urllib.parse.urlencode(params)).encode())
        status, headers, body, _ = vexotest.read_http_response(sock, timeout=timeout)
        return status, dict((n.lower(), v) for n, v in headers), body


def tcp_connect_params(port):
    return {"func": "connect", "connType": "tcp", "ipAddres_tcp": "127.0.0.1", "slaveID": 1, "port_tcp": port,
            "timeout": 1000}


class ModbusOverHttpTest(unittest.TestCase):
    def setUp(self):
        self.line = devsim.PtyPair()
        self.addCleanup(self.line.stop)
        self.device = devsim.Devsim(["--tcp", "127.0.0.1:0", "--rtu", self.line.second, "--device-id", "5",
                                     "--run-indicator", "255", "--id-text", 'A"B/\\xe9~'])
        self.addCleanup(self.device.stop)
        self.vexo = vexotest.VexoInstance(config={"serial": {"extraPorts": self.line.first}})
        self.addCleanup(self.vexo.cleanup)

    def test_connect_read_write_identify_disconnect_over_tcp(self):
        status, headers, body = ajax(self.vexo, {"func": "getPortSettings"})
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(headers["content-type"], "text/html; charset=utf-8")
        settings = json.loads(body)
        self.assertEqual(settings["userSettings"]["isConnected"], False)
        self.assertIn({"portName": self.line.first, "friendName": self.line.first}, settings["ports"].values())

        self.assertEqual(ajax(self.vexo, {"func": "readRegisters", "regAddr": 0, "valuesCnt": 1})[2],
                         b'{"error":"Not connected"}')
        self.assertEqual(ajax(self.vexo, tcp_connect_params(self.device.port))[2],
                         b'{"ok":"Connected with Modbus TCP."}')
        self.assertEqual(ajax(self.vexo, {"func": "readRegisters", "regAddr": 0, "valuesCnt": 3})[2],
                         b"[1234,-1,16712]")
        values = urllib.parse.quote("[12.5,-2]")
        self.assertEqual(ajax(self.vexo, {"func": "writeRegisters", "regAddr": 5500, "valuesCnt": 2,
                                          "regVals": values, "regType": "float4321", "regSize": 32,
                                          "valSize": 32})[2],
                         b'{"ok":"Values successfully sent."}')
        self.assertEqual(ajax(self.vexo, {"func": "readRegisters", "regAddr": 5500, "valuesCnt": 2,
                                          "regType": "float4321", "regSize": 32, "valSize": 32,
                                          "floatPrec": 1})[2],
                         b"[12.5,-2.0]")
        self.assertEqual(ajax(self.vexo, {"func": "identifySlave"})[2],
                         b'{"id":5,"desc":"A\\"B\\/","descArray":[5,255,65,34,66,47,233,126]}')
        self.assertEqual(ajax(self.vexo, {"func": "disconnect"})[2], b'{"ok":"Disconnected"}')
        settings = json.loads(ajax(self.vexo, {"func": "getPortSettings"})[2])
        self.assertEqual(settings["userSettings"]["connectionType"], "tcp")
        self.assertEqual(settings["userSettings"]["isConnected"], False)
        self.assertEqual(settings["userSettings"]["tcpPort"], self.device.port)

    def test_serial_line_through_the_api(self):
        reply = ajax(self.vexo, {"func": "connect", "connType": "serial", "portSelect": self.line.first,
                                 "slaveID": 1, "baudRate": 9, "mode": 3, "timeout": 100})[2]
        self.assertEqual(reply, b'{"ok":"Connected with serial port."}')
        self.assertEqual(ajax(self.vexo, {"func": "writeRegisters", "regAddr": 500, "valuesCnt": 2,
                                          "regVals": urllib.parse.quote("[7,-7]")})[2],
                         b'{"ok":"Values successfully sent."}')
        self.assertEqual(ajax(self.vexo, {"func": "readRegisters", "regAddr": 500, "valuesCnt": 2})[2], b"[7,-7]")
        self.device.set_fault("bad-crc")
        before = self.device.request_count()
        self.assertEqual(ajax(self.vexo, {"func": "readRegisters", "regAddr": 500, "valuesCnt": 2})[2],
                         b'{"error":"Protocol error! Invalid CRC"}')
        self.assertEqual(self.device.request_count() - before, 4)
        log = self.vexo.log_text()
        for attempt in (1, 2, 3):
            self.assertIn("CRC retransmission attempt number : %d" % attempt, log)

    def test_a_second_modbus_call_waits_for_the_first(self):
        self.assertEqual(ajax(self.vexo, tcp_connect_params(self.device.port))[2],
                         b'{"ok":"Connected with Modbus TCP."}')
        # Late, but within the library's half-second wait for a TCP answer.
        self.device.set_fault("none", delay_ms=250)
        results = {}

        def read(name, address):
            body = ajax(self.vexo, {"func": "readRegisters", "regAddr": address, "valuesCnt": 1})[2]
            results[name] = (body, time.monotonic())

        first = threading.Thread(target=read, args=("first", 8))
        second = threading.Thread(target=read, args=("second", 9))
        first.start()
        time.sleep(0.15)
        second.start()
        first.join(20)
        second.join(20)
        self.assertEqual(results["first"][0], b"[42]")
        self.assertEqual(results["second"][0], b"[7]")
        # The second read could only start once the first had its answer: a whole read
        # (100 ms wait and 250 ms delay) later.
        self.assertGreaterEqual(results["second"][1] - results["first"][1], 0.33)


if __name__ == "__main__":
    unittest.main()
