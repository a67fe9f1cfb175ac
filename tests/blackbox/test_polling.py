"""Read definitions that the real vexo keeps across restarts and polls by itself, with no
browser, into the latest results and the value log; against vexo-devsim over TCP and RTU."""
import csv
import io
import os
import re
import threading
import time
import unittest

import devsim
import vexotest
from desktopsupport import successor
from devsim import ajax, call, serial_connect_params, tcp_connect_params
from vexotest import wait_until

BOILER = {"name": "Boiler, hall 2", "table": "holding", "slave": 1, "addr": 0, "count": 2, "intervalMs": 100}
PRESSURE = {"name": "Pressure", "table": "input", "slave": 1, "addr": 8, "count": 1, "type": "float32",
            "intervalMs": 200, "enabled": 0}
# Each refused with its text before anything is stored.
REFUSED = [
    (dict(BOILER, name=""), "Invalid name!"),
    (dict(BOILER, name="x" * 41), "Invalid name!"),
    (dict(BOILER, intervalMs=99), "Invalid interval!"),
    (dict(BOILER, intervalMs=86400001), "Invalid interval!"),
    (dict(BOILER, count=126), "Too many registers"),  # the table read's own checks, as for readTable
    (dict(BOILER, enabled=2), "Input parameters error!"),
    (dict(BOILER, id=99), "Unknown definition!"),
    ({k: v for k, v in BOILER.items() if k != "slave"}, "Input parameters error!"),
]
LINE = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d|Z)$")


def save(vexo, definition):
    return call(vexo, dict(definition, func="saveDefinition"))


def results_by_id(vexo):
    return {r["id"]: r for r in call(vexo, {"func": "getResults"})["results"]}


class PollingOverTcp(unittest.TestCase):
    def setUp(self):
        self.device = devsim.Devsim(["--tcp", "127.0.0.1:0"])
        self.addCleanup(self.device.stop)

    def test_definitions_persist_and_vexo_polls_alone_while_connected(self):
        vexo = vexotest.VexoInstance()
        self.addCleanup(vexo.cleanup)
        for definition, text in REFUSED:
            with self.subTest(definition=definition):
                self.assertEqual(save(vexo, definition), {"error": text})
        self.assertEqual(save(vexo, BOILER), {"ok": "Saved.", "id": 1})
        self.assertEqual(save(vexo, PRESSURE), {"ok": "Saved.", "id": 2})
        self.assertEqual(save(vexo, dict(PRESSURE, id=2, enabled=1, log=1)), {"ok": "Saved.", "id": 2})
        self.assertEqual(call(vexo, {"func": "setPolling", "on": 0}), {"ok": "Polling stopped."})
        listed = call(vexo, {"func": "getDefinitions"})
        self.assertEqual(listed["definitions"][0], {
            "id": 1, "name": "Boiler, hall 2", "table": "holding", "slave": 1, "addr": 0, "count": 2, "type": "int16",
            "order": "ABCD", "intervalMs": 100, "enabled": True, "log": False})

        vexo.stop()
        vexo.start()
        self.assertEqual(call(vexo, {"func": "getDefinitions"}), listed)
        for i in range(3, 17):
            self.assertEqual(save(vexo, dict(BOILER, name="n%d" % i))["id"], i)
        self.assertEqual(save(vexo, BOILER), {"error": "Too many definitions!"})
        for i in range(3, 17):
            self.assertEqual(call(vexo, {"func": "deleteDefinition", "id": i}), {"ok": "Deleted."})
        self.assertEqual(call(vexo, {"func": "deleteDefinition", "id": 3}), {"error": "Unknown definition!"})

        # Stopped, and not connected yet: nothing goes to the device.
        self.assertEqual(call(vexo, tcp_connect_params(self.device.port)), {"ok": "Connected with Modbus TCP."})
        time.sleep(0.3)
        self.assertEqual(self.device.request_count(), 0)
        self.assertEqual(call(vexo, {"func": "setPolling", "on": 1}), {"ok": "Polling started."})
        # Nothing but vexo talks to the device now; its reads and its log grow.
        polls = self.device.request_count
        self.assertTrue(wait_until(lambda: polls(3) >= 10 and polls(4) >= 5, 20))
        log = vexo.data_path("vexo-log.csv")
        self.assertTrue(wait_until(lambda: os.path.exists(log) and os.path.getsize(log), 20))
        size = os.path.getsize(log)
        self.assertTrue(wait_until(lambda: os.path.getsize(log) > size, 20))
        results = results_by_id(vexo)
        self.assertEqual((results[1]["values"], results[1]["regs"], results[1]["error"]),
                         ([1234, -1], [1234, 65535], ""))
        self.assertEqual(results[2]["values"], [123.456])
        self.assertGreater(results[1]["seq"], 0)
        self.assertRegex(results[1]["time"], LINE)

        self.assertEqual(call(vexo, {"func": "disconnect"}), {"ok": "Disconnected"})
        paused = self.device.request_count()
        time.sleep(0.5)
        self.assertEqual(self.device.request_count(), paused)
        self.assertEqual(call(vexo, tcp_connect_params(self.device.port)), {"ok": "Connected with Modbus TCP."})
        self.assertTrue(wait_until(lambda: self.device.request_count() > paused + 5, 20))
        # Replaced by a new instance, this one quits cleanly with its polling thread busy.
        second = successor(vexo)
        self.addCleanup(second.cleanup)
        second.start(wait=False)
        self.assertEqual(vexo.process.wait(15), 0)

    @staticmethod
    def log_is_still(vexo):
        before = call(vexo, {"func": "getLogInfo"})["bytes"]
        time.sleep(0.2)
        return call(vexo, {"func": "getLogInfo"})["bytes"] == before

    def test_value_log_is_capped_rotates_and_downloads(self):
        vexo = vexotest.VexoInstance(config={"log": {"maxBytes": 65536}})
        self.addCleanup(vexo.cleanup)
        self.assertEqual(call(vexo, tcp_connect_params(self.device.port)), {"ok": "Connected with Modbus TCP."})
        save(vexo, dict(BOILER, count=100, log=1))
        # Off the table: every read fails, and says so in the log.
        save(vexo, {"name": "Gone", "table": "input", "slave": 1, "addr": 10000, "count": 1, "intervalMs": 100,
                    "log": 1})
        older = vexo.data_path("vexo-log.1.csv")
        self.assertTrue(wait_until(lambda: os.path.exists(older), 20))
        call(vexo, {"func": "setPolling", "on": 0})
        self.assertTrue(wait_until(lambda: self.log_is_still(vexo), 20))
        info = call(vexo, {"func": "getLogInfo"})
        self.assertEqual(info["maxBytes"], 65536)
        self.assertLessEqual(info["bytes"], 65536)
        self.assertLessEqual(os.path.getsize(older), 65536)

        status, headers, body = ajax(vexo, {"func": "downloadLog"})
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(headers["content-type"], "text/csv; charset=utf-8")
        self.assertEqual(headers["content-disposition"], 'attachment; filename="vexo-log.csv"')
        self.assertEqual(len(body), info["bytes"])
        with open(older, "rb") as f:
            rows = list(csv.reader(io.StringIO((f.read() + body).decode())))
        for row in rows:
            self.assertEqual(len(row), 6)
            self.assertRegex(row[0], LINE)
        self.assertIn(["Boiler, hall 2", "1", "holding", "99", "0"], [r[1:] for r in rows])
        self.assertIn(["Gone", "1", "input", "10000", "Protocol error! Illegal data address"], [r[1:] for r in rows])

        self.assertEqual(call(vexo, {"func": "clearLog"}), {"ok": "Log cleared."})
        self.assertEqual(call(vexo, {"func": "getLogInfo"})["bytes"], 0)
        self.assertFalse(os.path.exists(older))


class PollingOverRtu(unittest.TestCase):
    WRITES = 20

    def test_browser_writes_during_polling_are_whole_transactions_and_land(self):
        # The device lock: twenty calls at once beside the poller, each a whole transaction.
        line = devsim.PtyPair()
        self.addCleanup(line.stop)
        device = devsim.Devsim(["--rtu", line.second, "--delay", "5"])
        self.addCleanup(device.stop)
        vexo = vexotest.VexoInstance(config={"serial": {"extraPorts": line.first}})
        self.addCleanup(vexo.cleanup)
        self.assertEqual(call(vexo, serial_connect_params(line.first)), {"ok": "Connected with serial port."})
        for i in range(3):
            save(vexo, dict(BOILER, name="poll%d" % i, addr=100 + 10 * i, count=10))
        self.assertTrue(wait_until(lambda: device.request_count(3) >= 6, 20))
        replies = []

        def write(i):
            replies.append(call(vexo, {"func": "writeTable", "table": "holding", "addr": 300 + 2 * i,
                                       "values": "[%d,%d]" % (i, -i)}))

        writers = [threading.Thread(target=write, args=(i,)) for i in range(self.WRITES)]
        for writer in writers:
            writer.start()
        for writer in writers:
            writer.join(60)
        self.assertEqual([r.get("ok") for r in replies], ["Values successfully sent."] * self.WRITES)
        for i in range(self.WRITES):
            reply = call(vexo, {"func": "readTable", "table": "holding", "addr": 300 + 2 * i, "count": 2})
            self.assertEqual(reply["values"], [i, -i])
        self.assertTrue(all(r["error"] == "" for r in results_by_id(vexo).values()))
        call(vexo, {"func": "setPolling", "on": 0})
        time.sleep(0.3)
        counters = call(vexo, {"func": "getCounters"})
        self.assertEqual(counters["requests"], counters["answers"])
        # Every frame the device saw was one whole request of one side or the other.
        self.assertEqual(device.request_count(), counters["requests"])
        requests = device.requests()
        expected = re.compile(r"^request function=(3 address=1[012]0 count=10|16 address=3\d\d count=2) ")
        self.assertEqual([r for r in requests if not expected.match(r) and "function=3 address=3" not in r], [])


if __name__ == "__main__":
    unittest.main()
