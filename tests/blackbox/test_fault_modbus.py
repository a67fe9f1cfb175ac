"""The device side under load and faults, through the real vexo against vexo-devsim: many
connections calling into one slow device, and a device that vanishes mid-read and returns.
Bounded in count and time; loopback and pseudo-terminals only."""
import json
import signal
import threading
import time
import unittest
import urllib.parse

from devsim import Devsim, PtyPair
from loadkit import latencies_while, report, served
from vexotest import VexoInstance, read_http_response

# Registers 100-109 of the simulated device hold their own address.
FIRST_REGISTER = 100
DEVICE_REGISTERS = 10
LOCK_WAIT_S = 10.0
NO_ANSWER = b'{"error":"I/O error: did not receive any data from slave."}'


def ajax(vexo, params, timeout=30.0):
    with vexo.connect(timeout=timeout) as sock:
        sock.sendall(("GET /ajax.html?%s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
                      % urllib.parse.urlencode(params)).encode())
        status, _, body, _ = read_http_response(sock, timeout=timeout)
    return status, body


def read_register(vexo, address, timeout=30.0):
    return ajax(vexo, {"func": "readRegisters", "regAddr": address, "valuesCnt": 1}, timeout)


def connect_tcp(vexo, port):
    _, body = ajax(vexo, {"func": "connect", "connType": "tcp", "ipAddres_tcp": "127.0.0.1", "slaveID": 1,
                          "port_tcp": port, "timeout": 1000})
    return body


def is_error_object(body):
    try:
        reply = json.loads(body)
    except ValueError:
        return False
    return isinstance(reply, dict) and list(reply) == ["error"]


class SlowDeviceUnderLoad(unittest.TestCase):
    CALLERS = 40
    DELAY_MS = 200  # well inside the library's wait for a TCP answer, even in sanitizer builds

    def test_the_modbus_lock_serialises_many_connections_on_a_slow_device(self):
        with Devsim(["--tcp", "127.0.0.1:0"]) as device, VexoInstance() as vexo:
            self.assertEqual(connect_tcp(vexo, device.port), b'{"ok":"Connected with Modbus TCP."}')
            device.set_fault("none", delay_ms=self.DELAY_MS)
            before = device.request_count()
            results = [None] * self.CALLERS

            def call(i):
                address = FIRST_REGISTER + i % DEVICE_REGISTERS
                t0 = time.monotonic()
                status, body = read_register(vexo, address, timeout=LOCK_WAIT_S + 20)
                results[i] = (address, status, body, time.monotonic() - t0)

            threads = [threading.Thread(target=call, args=(i,)) for i in range(self.CALLERS)]
            start = time.monotonic()
            for t in threads:
                t.start()
            # Everything that does not need the device is served meanwhile.
            latencies = latencies_while(vexo, lambda: any(t.is_alive() for t in threads), 0.25, LOCK_WAIT_S + 20)
            for t in threads:
                t.join(5)
            elapsed = time.monotonic() - start

            answered = [r for r in results if r and r[2].startswith(b"[")]
            late = [r for r in results if r and r[2] == NO_ANSWER]
            gave_up = [r for r in results if r and not r[2]]
            self.assertEqual(len(answered) + len(late) + len(gave_up), self.CALLERS, results)
            for address, status, body, _ in results:
                self.assertEqual(status, "HTTP/1.1 200 OK")
                # Each caller gets its own register, after the lock wait nothing, or (on a
                # machine so loaded that the device missed the library's wait) the no-answer
                # error: never another caller's value, never an error from overlapping calls.
                self.assertIn(body, (b"[%d]" % address, b"", NO_ANSWER))
            for _, _, _, waited in gave_up:
                self.assertGreaterEqual(waited, LOCK_WAIT_S - 0.5)
            # One call at a time, each a settle time and the device's delay long: more callers
            # than fit into the lock wait, so some must give up; each call that got the lock
            # is exactly one transaction on the device.
            self.assertGreater(len(gave_up), 0)
            self.assertGreaterEqual(len(answered), 10)
            self.assertEqual(device.request_count() - before, len(answered) + len(late))
            self.assertLess(max(latencies), 2.0)
            report("modbus_lock", callers=self.CALLERS, device_delay_ms=self.DELAY_MS, answered=len(answered),
                   gave_up_after_lock_wait=len(gave_up), late=len(late), seconds="%.1f" % elapsed,
                   others_max_latency_ms="%.0f" % (max(latencies) * 1000))


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
                status, body = outcome["reply"]
                self.assertEqual(status, "HTTP/1.1 200 OK")
                self.assertTrue(is_error_object(body), body)
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
            report("device_vanished_tcp", failed_read_s="%.2f" % outcome["seconds"], reply=body.decode())

    def test_a_serial_answer_that_comes_too_late_is_not_taken_for_the_next_one(self):
        with PtyPair() as line, VexoInstance(config={"serial": {"extraPorts": line.first}}) as vexo, \
                Devsim(["--rtu", line.second]) as device:
            reply = ajax(vexo, {"func": "connect", "connType": "serial", "portSelect": line.first,
                                "slaveID": 1, "baudRate": 9, "mode": 3, "timeout": 50})[1]
            self.assertEqual(reply, b'{"ok":"Connected with serial port."}')
            # The time-out is 500 ms: this answer arrives after the read has given up.
            device.set_fault("none", delay_ms=900)
            self.assertEqual(read_register(vexo, 102)[1], NO_ANSWER)
            device.set_fault("none", delay_ms=0)
            time.sleep(1.0)  # the late answer is in the line's buffer now
            # Every later read shows its own register, not the answer one request behind.
            for address in (103, 104, 105):
                self.assertEqual(read_register(vexo, address)[1], b"[%d]" % address)

    def test_serial_device_killed_and_started_again_on_the_same_line(self):
        with PtyPair() as line, VexoInstance(config={"serial": {"extraPorts": line.first}}) as vexo:
            device = Devsim(["--rtu", line.second])
            try:
                reply = ajax(vexo, {"func": "connect", "connType": "serial", "portSelect": line.first,
                                    "slaveID": 1, "baudRate": 9, "mode": 3, "timeout": 50})[1]
                self.assertEqual(reply, b'{"ok":"Connected with serial port."}')
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
