"""Faulty devices through the real vexo against vexo-devsim: broken, late or missing answers and
retransmissions (a device that vanishes and returns is the browser journey's); loopback and
pseudo-terminals only. (Registers 100-109 of the simulated device hold their own address.)"""
import socket
import threading
import time
import unittest

from devsim import NO_ANSWER, Devsim, PtyPair, call, read_params, serial_connect_params, tcp_connect_params, \
    write_params
from vexotest import VexoInstance

NO_ANSWER = {"error": NO_ANSWER}
INVALID_DATA = {"error": "Protocol error! Invalid data"}
MISMATCH = {"error": "Number of registers returned does not match!"}
BAD_CRC = {"error": "Protocol error! Invalid CRC"}
R32 = {"regSize": 32, "valSize": 32}
# Fault of the device, parameters, reply, requests the device sees: a failure that is not a
# time-out is asked three times more, the line reopened in between.
TCP_FAULTS = [
    ("silent", read_params(0, 2), NO_ANSWER, 1),
    ("silent", read_params(5000, 2, **R32), NO_ANSWER, 1),
    ("short", read_params(5000, 2, regType="uint", **R32), MISMATCH, 4),
    ("short", write_params(5300, 2, "[1,2]", **R32), MISMATCH, 4),
    ("malformed", read_params(5000, 1, **R32), INVALID_DATA, 4),
    # The 32-bit block answers a 16-bit read with more bytes than were asked for.
    ("none", read_params(5000, 1), INVALID_DATA, 4),
    ("none", read_params(7999, 2, **R32), {"error": "Protocol error! Illegal data address"}, 4),
]
SERIAL_FAULTS = [
    ("bad-crc", read_params(100, 2), BAD_CRC, 4),
    ("bad-crc", write_params(410, 1, "[3]"), BAD_CRC, 4),
    ("bad-crc", {"func": "identifySlave"}, BAD_CRC, 2),
    ("silent", read_params(100, 2), NO_ANSWER, 1),
]


class DeviceFaults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.line = PtyPair()
        cls.device = Devsim(["--tcp", "127.0.0.1:0", "--rtu", cls.line.second])
        cls.vexo = VexoInstance(config={"serial": {"extraPorts": cls.line.first}})

    @classmethod
    def tearDownClass(cls):
        cls.vexo.cleanup()
        cls.device.stop()
        cls.line.stop()

    def assertSend(self, rows):
        for fault, params, reply, requests in rows:
            with self.subTest(fault=fault, params=params):
                self.device.set_fault(fault)
                before = self.device.request_count()
                self.assertEqual(call(self.vexo, params), reply)
                self.assertEqual(self.device.request_count() - before, requests)
        self.device.set_fault("none")

    def test_tcp(self):
        self.assertEqual(call(self.vexo, tcp_connect_params(self.device.port, timeout=300))["ok"],
                         "Connected with Modbus TCP.")
        self.assertSend(TCP_FAULTS)
        # An answer late but within the time-out is taken; the time-out is the answer's.
        self.device.set_fault("none", delay_ms=150)
        self.assertEqual(call(self.vexo, read_params(0, 1)), [1234])
        self.assertEqual(call(self.vexo, tcp_connect_params(self.device.port, timeout=1000))["ok"],
                         "Connected with Modbus TCP.")
        self.device.set_fault("none", delay_ms=600)
        self.assertEqual(call(self.vexo, read_params(0, 1)), [1234])

    def test_serial(self):
        self.assertEqual(call(self.vexo, serial_connect_params(self.line.first, timeout=50))["ok"],
                         "Connected with serial port.")
        self.assertSend(SERIAL_FAULTS)
        for attempt in (1, 2, 3):
            self.assertIn("CRC retransmission attempt number : %d" % attempt, self.vexo.log_text())
        # Identification's long time-outs end with it: a silent slave fails as fast as before.
        self.assertEqual(call(self.vexo, {"func": "identifySlave"})["id"], 42)
        self.device.set_fault("silent")
        started = time.monotonic()
        self.assertEqual(call(self.vexo, read_params(100, 1)), NO_ANSWER)
        self.assertLess(time.monotonic() - started, 5)
        # The time-out is 500 ms: this answer arrives after the read has given up.
        self.device.set_fault("none", delay_ms=700)
        self.assertEqual(call(self.vexo, read_params(102, 1)), NO_ANSWER)
        self.device.set_fault("none")
        time.sleep(0.4)  # the late answer is in the line's buffer now
        # Every later read shows its own register, not the answer one request behind.
        for address in (103, 104, 105):
            self.assertEqual(call(self.vexo, read_params(address, 1)), [address])


class WrongEchoDevice(threading.Thread):
    """A Modbus TCP device that answers every request with the address after the one asked for."""

    def __init__(self):
        super().__init__(daemon=True)
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        self.start()

    def run(self):
        try:
            while True:  # vexo reopens the connection between its attempts
                connection, _ = self.server.accept()
                with connection, connection.makefile("rb") as stream:
                    while len(header := stream.read(7)) == 7:
                        pdu = stream.read(int.from_bytes(header[4:6], "big") - 1)
                        answer = pdu[:1] + (int.from_bytes(pdu[1:3], "big") + 1).to_bytes(2, "big") + pdu[3:5]
                        connection.sendall(header[:4] + (len(answer) + 1).to_bytes(2, "big") + header[6:] + answer)
        except OSError:
            return  # closed by the test


class AnswerForAnotherAddress(unittest.TestCase):
    def test_a_write_echoed_for_another_address_is_refused(self):
        device = WrongEchoDevice()
        self.addCleanup(device.server.close)
        with VexoInstance() as vexo:
            self.assertEqual(call(vexo, tcp_connect_params(device.port))["ok"], "Connected with Modbus TCP.")
            self.assertEqual(call(vexo, {"func": "writeTable", "table": "holding", "addr": 7, "values": "[1,2]"}),
                             INVALID_DATA)


if __name__ == "__main__":
    unittest.main()
