"""A device that vanishes mid-read and returns, or answers too late, through the real vexo
against vexo-devsim; loopback and pseudo-terminals only. (Registers 100-109 of the simulated
device hold their own address.)"""
import json
import signal
import threading
import time
import unittest

from devsim import NO_ANSWER, Devsim, PtyPair, ajax, body, read_params, serial_connect_params, tcp_connect_params
from loadkit import report, served
from vexotest import VexoInstance

NO_ANSWER = ('{"error":"%s"}' % NO_ANSWER).encode()


def read_register(vexo, address):
    return ajax(vexo, read_params(address, 1))[::2]


def connect_tcp(vexo, port):
    return body(vexo, tcp_connect_params(port))


def connect_serial(vexo, line):
    return body(vexo, serial_connect_params(line, timeout=50))


def is_error_object(reply):
    try:
        reply = json.loads(reply)
    except ValueError:
        return False
    return isinstance(reply, dict) and list(reply) == ["error"]


class VanishingDevice(unittest.TestCase):
    def test_tcp_device_killed_during_a_read_and_started_again(self):
        with VexoInstance() as vexo:
            device = Devsim(["--tcp", "127.0.0.1:0"])
            port = device.port
            try:
                self.assertEqual(connect_tcp(vexo, port), b'{"ok":"Connected with Modbus TCP."}')
                self.assertEqual(read_register(vexo, 105)[1], b"[105]")
                device.set_fault("none", delay_ms=400)
                outcome = {}

                def read():
                    t0 = time.monotonic()
                    outcome["reply"] = read_register(vexo, 106)
                    outcome["seconds"] = time.monotonic() - t0

                reader = threading.Thread(target=read)
                reader.start()
                time.sleep(0.3)  # the request is with the device now, its answer still pending
                device.process.send_signal(signal.SIGKILL)
                reader.join(30)
                self.assertFalse(reader.is_alive())
                status, reply = outcome["reply"]
                self.assertEqual(status, "HTTP/1.1 200 OK")
                self.assertTrue(is_error_object(reply), reply)
                self.assertLess(outcome["seconds"], 10)

                # While it is gone every read fails fast with an error, and nothing else suffers.
                t0 = time.monotonic()
                self.assertEqual(read_register(vexo, 107)[1], b'{"error":"Unable to connect with TCP socket."}')
                self.assertLess(time.monotonic() - t0, 5)
                self.assertTrue(served(vexo))
            finally:
                device.stop()

            # The device comes back on the same port: reads work again without a new connect.
            with Devsim(["--tcp", "127.0.0.1:%d" % port]):
                self.assertEqual(read_register(vexo, 108)[1], b"[108]")
            report("device_vanished_tcp", failed_read_s="%.2f" % outcome["seconds"], reply=reply.decode())

    def test_a_serial_answer_that_comes_too_late_is_not_taken_for_the_next_one(self):
        with PtyPair() as line, VexoInstance(config={"serial": {"extraPorts": line.first}}) as vexo, \
                Devsim(["--rtu", line.second]) as device:
            self.assertEqual(connect_serial(vexo, line.first), b'{"ok":"Connected with serial port."}')
            # The time-out is 500 ms: this answer arrives after the read has given up.
            device.set_fault("none", delay_ms=700)
            self.assertEqual(read_register(vexo, 102)[1], NO_ANSWER)
            device.set_fault("none", delay_ms=0)
            time.sleep(0.4)  # the late answer is in the line's buffer now
            # Every later read shows its own register, not the answer one request behind.
            for address in (103, 104, 105):
                self.assertEqual(read_register(vexo, address)[1], b"[%d]" % address)

    def test_serial_device_killed_and_started_again_on_the_same_line(self):
        with PtyPair() as line, VexoInstance(config={"serial": {"extraPorts": line.first}}) as vexo:
            device = Devsim(["--rtu", line.second])
            try:
                self.assertEqual(connect_serial(vexo, line.first), b'{"ok":"Connected with serial port."}')
                self.assertEqual(read_register(vexo, 101)[1], b"[101]")
            finally:
                device.stop()
            # Nobody answers on the line now: the no-answer error, no hang, no retry storm.
            t0 = time.monotonic()
            self.assertEqual(read_register(vexo, 102)[1], NO_ANSWER)
            silent_s = time.monotonic() - t0
            self.assertLess(silent_s, 5)
            with Devsim(["--rtu", line.second]):
                self.assertEqual(read_register(vexo, 103)[1], b"[103]")
            report("device_vanished_rtu", no_answer_reply_s="%.2f" % silent_s)


if __name__ == "__main__":
    unittest.main()
