"""The Modbus functions of the AJAX API (connect, readRegisters, writeRegisters, identifySlave,
disconnect, getPortSettings) through the real vexo, against vexo-devsim over TCP and RTU."""
import unittest

import vexotest
from devsim import (Devsim, PtyPair, ajax, body, call, read_params, serial_connect_params,
                    tcp_connect_params, write_params)

TCP_OK = {"ok": "Connected with Modbus TCP."}
SERIAL_OK = {"ok": "Connected with serial port."}
SENT = {"ok": "Values successfully sent."}
INPUT_ERROR = {"error": "Input parameters error!"}
NOT_TCP = {"error": "Could not connect to Modbus TCP!"}
INVALID_DATA = {"error": "Protocol error! Invalid data"}
DESCRIBED_PORT = '/nonexistent/Meter "7"\\'
R32 = {"regSize": 32, "valSize": 32}
# Refused before anything is sent: parameters, reply.
REFUSALS = [
    ({"func": "readRegisters", "valuesCnt": 1}, INPUT_ERROR),
    (read_params(0, 1, regSize=8), {"error": "Invalid registers size!"}),
    (read_params(0, 1, valSize=64), {"error": "Invalid value size!"}),
    (read_params(0, 1, floatPrec=21), {"error": "Invalid float precision!"}),
    (read_params(0, 1, floatPrec=-1), {"error": "Invalid float precision!"}),
    (read_params(5000, 1, regSize=32, valSize=16), {"error": "Invalid one value size!"}),
    (read_params(0, 201), {"error": "Too many registers"}),
    (read_params(0, 0), INPUT_ERROR),
    (read_params(70000, 1), INPUT_ERROR),
    # Within the engine's limit, beyond what one 32-bit request carries.
    (read_params(5000, 63, **R32), {"error": "Protocol error! Too many data"}),
    ({"func": "writeRegisters", "regAddr": 0, "valuesCnt": 1}, INPUT_ERROR),
    (write_params(0, 1, "[1]", regSize=20), {"error": "Invalid registers size!"}),
    (write_params(0, 1, "[1]", valSize=8), {"error": "Invalid value size!"}),
    (write_params(5000, 1, "[1]", regSize=32), {"error": "Invalid one value size!"}),
    (write_params(0, 201, "[]"), {"error": "Too many registers"}),
    (write_params(5000, 62, str([1] * 62), **R32), {"error": "Protocol error! Too many data"}),
    (write_params(0, 0, "[]"), INPUT_ERROR),
    (write_params(300, 2, "[1,2,3]"), {"error": "Registers values error!"}),
    (write_params(300, 1, "5"), {"error": "Registers values error!"}),
]


class ModbusOverTcp(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.line = PtyPair()
        cls.device = Devsim(["--tcp", "127.0.0.1:0", "--rtu", cls.line.second, "--id-text", "Meter"])
        quoted = '"%s"' % DESCRIBED_PORT.replace("\\", "\\\\").replace('"', '\\"')
        extra = ", ".join(["/nonexistent/vexo-tty", quoted, "LPT1", cls.line.first])
        cls.vexo = vexotest.VexoInstance(config={"serial": {"extraPorts": extra}})

    @classmethod
    def tearDownClass(cls):
        cls.vexo.cleanup()
        cls.device.stop()
        cls.line.stop()

    def settings(self):
        return call(self.vexo, {"func": "getPortSettings"})

    def test_connect_refusals_and_the_settings_they_leave(self):
        status, headers, _ = ajax(self.vexo, {"func": "getPortSettings"})
        self.assertEqual((status, headers["content-type"]), ("HTTP/1.1 200 OK", "text/html; charset=utf-8"))
        ports = list(self.settings()["ports"].values())
        # Whatever a port is called, the reply parses and keeps the name whole.
        self.assertIn({"portName": DESCRIBED_PORT, "friendName": DESCRIBED_PORT}, ports)
        self.assertEqual(ports[-2:], [{"portName": "LPT1", "friendName": "LPT1"},
                                      {"portName": self.line.first, "friendName": self.line.first}])
        closed = vexotest.free_port()
        hostile = '1.2.3.4"},"x":\\'
        for params, reply in [
                ({"func": "connect"}, INPUT_ERROR),
                # Anything but exactly "serial" takes the TCP path, which wants its own parameters.
                ({"func": "connect", "connType": "Serial", "portSelect": "x"}, INPUT_ERROR),
                ({k: v for k, v in serial_connect_params(self.line.first).items() if k != "mode"}, INPUT_ERROR),
                (serial_connect_params("COM99"), {"error": "Selected serial port not found."}),
                (serial_connect_params("LPT1"), {"error": "Invalid port!"}),
                (serial_connect_params(self.line.first, baud=13), {"error": "Baud rate error!"}),
                (serial_connect_params(self.line.first, baud=-1), {"error": "Baud rate error!"}),
                (serial_connect_params("/nonexistent/vexo-tty"), {"error": "Could not connect to serial port!"}),
                (tcp_connect_params(self.device.port, host="no-such-device.invalid"), NOT_TCP),
                (tcp_connect_params(closed, timeout=300), NOT_TCP),
                (tcp_connect_params(closed, host=hostile), NOT_TCP)]:
            with self.subTest(params=params):
                self.assertEqual(call(self.vexo, params), reply)
        self.assertEqual(call(self.vexo, read_params(8, 1)), {"error": "Not connected"})
        # The refused address was stored all the same, and the reply still parses.
        user = self.settings()["userSettings"]
        self.assertEqual((user["tcpIp"], user["tcpPort"], user["isConnected"]), (hostile, closed, False))

    def test_reads_writes_identify_and_disconnect(self):
        self.assertEqual(call(self.vexo, tcp_connect_params(self.device.port, host="localhost")), TCP_OK)
        for params, reply in [
                (read_params(0, 3), [1234, -1, 16712]),
                (write_params(5500, 2, "[12.5,-2]", regType="float4321", **R32), SENT),
                (read_params(5500, 2, regType="float4321", floatPrec=1, **R32), [12.5, -2.0]),
                # raw asks for the registers of the same read.
                (read_params(1, 1, raw=1), {"values": [-1], "raw": [65535]}),
                (read_params(2, 1, regType="float4321", valSize=32, raw=1), {"values": [12.5], "raw": [16712, 0]}),
                (read_params(5000, 1, regType="uint", raw=1, **R32), {"values": [123456789], "raw": [123456789]}),
                (read_params(1, 1, raw=0), [-1]),
                ({"func": "identifySlave"}, {"id": 42, "desc": "Meter", "descArray": [42, 255, 77, 101, 116, 101,
                                                                                         114]})]:
            with self.subTest(params=params):
                self.assertEqual(call(self.vexo, params), reply)
        # 32-bit registers travel four bytes each, most significant first.
        start = call(self.vexo, {"func": "getTraffic", "since": 1 << 40})["next"]
        self.assertEqual(call(self.vexo, write_params(7000, 2, "[16909060,2695938256]", regType="uint", **R32)),
                         SENT)
        self.assertEqual(call(self.vexo, read_params(7000, 2, regType="uint", **R32)), [16909060, 2695938256])
        items = call(self.vexo, {"func": "getTraffic", "since": start})["items"]
        self.assertTrue(items[-1]["resp"].replace(" ", "").endswith("030801020304a0b0c0d0"), items[-1])

        self.assertEqual(call(self.vexo, {"func": "disconnect"}), {"ok": "Disconnected"})
        user = self.settings()["userSettings"]
        self.assertEqual((user["connectionType"], user["isConnected"], user["tcpPort"]),
                         ("tcp", False, self.device.port))
        # Unit id 70000 is stored as its low 16 bits, which the library refuses: nothing is sent.
        self.assertEqual(call(self.vexo, dict(tcp_connect_params(self.device.port), slaveID=70000)), TCP_OK)
        self.assertEqual(self.settings()["userSettings"]["slaveID"], 4464)
        before = self.device.request_count()
        for params in (read_params(8, 1), write_params(300, 1, "[1]"), {"func": "identifySlave"}):
            self.assertEqual(call(self.vexo, params), INPUT_ERROR)
        self.assertEqual(self.device.request_count(), before)

    def test_refusals_send_nothing(self):
        self.assertEqual(call(self.vexo, tcp_connect_params(self.device.port)), TCP_OK)
        before = self.device.request_count()
        for params, reply in REFUSALS:
            with self.subTest(params=params):
                self.assertEqual(call(self.vexo, params), reply)
        self.assertEqual(self.device.request_count(), before)

    def test_serial_line(self):
        # A part of the listed name is enough; mode 7 is 8N1 and stored as given.
        self.assertEqual(call(self.vexo, serial_connect_params("ptyA", baud=12, mode=7, timeout=30)), SERIAL_OK)
        user = self.settings()["userSettings"]
        self.assertEqual([user[k] for k in ("port", "baudRate", "mode", "timeout", "connectionType", "isConnected")],
                         ["ptyA", 12, 7, 30, "serial", True])
        self.assertEqual(call(self.vexo, write_params(500, 2, "[7,-7]")), SENT)
        self.assertEqual(call(self.vexo, read_params(500, 2)), [7, -7])
        self.assertEqual(call(self.vexo, {"func": "disconnect"}), {"ok": "Disconnected"})


class Identification(unittest.TestCase):
    def test_replies_for_the_reports_devices_send(self):
        vexo = vexotest.VexoInstance()
        self.addCleanup(vexo.cleanup)
        self.assertEqual(call(vexo, {"func": "identifySlave"}), {"error": "Not connected"})
        for args, fault, reply, requests in [
                (["--device-id", "5", "--run-indicator", "255", "--id-text", "A\"B\\\\C/D~E\\nF\\xc3\\xa9G\\x7dH\\x7f"],
                 "none", b'{"id":5,"desc":"A\\"B\\\\C\\/DEFG}H","descArray":[5,255,65,34,66,92,67,47,68,126,69,10,'
                         b'70,195,169,71,125,72,127]}', 1),
                (["--report-hex", "0900"], "none", {"id": 9, "desc": "", "descArray": [9, 0]}, 1),
                # A one-byte report lists only the byte that came.
                (["--report-hex", "07"], "none", {"id": 7, "desc": "", "descArray": [7]}, 1),
                # A quick failure is asked once more, then told.
                (["--report-hex", "07"], "malformed", INVALID_DATA, 2),
                (["--report-hex", ""], "none", INVALID_DATA, 2)]:
            with self.subTest(args=args, fault=fault), Devsim(["--tcp", "127.0.0.1:0"] + args) as device:
                self.assertEqual(call(vexo, tcp_connect_params(device.port)), TCP_OK)
                device.set_fault(fault)
                identify = {"func": "identifySlave"}
                self.assertEqual(body(vexo, identify) if isinstance(reply, bytes) else call(vexo, identify), reply)
                self.assertEqual(device.request_count(17), requests)


if __name__ == "__main__":
    unittest.main()
