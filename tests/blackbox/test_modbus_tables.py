"""The data table functions (readTable, writeTable) and the traffic view (getTraffic,
getCounters, resetCounters) through the real vexo, against vexo-devsim's documented preloads
and against pymodbus as an independent peer."""
import json
import unittest

import devsim
import vexotest
from devsim import call, serial_connect_params, table_params as read_params, tcp_connect_params

PI = 3.141592653589793
COILS_0_15 = [1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0]
DISCRETE_0_15 = [1, 1, 0, 0, 1, 0, 1, 0, 1, 1, 1, 1, 0, 0, 0, 0]

# table, addr, count, type, order, values, function code on the wire: each type once (every byte order
# is tst_valuecodec's, every preload as the page shows it the browser test's)
READS = [
    ("coils", 0, 16, None, None, COILS_0_15, 1),
    ("discrete", 0, 16, None, None, DISCRETE_0_15, 2),
    ("holding", 0, 2, None, None, [1234, -1], 3),
    ("holding", 4, 1, "float32", "CDAB", [12.5], 3),
    ("holding", 6, 1, "uint32", None, [65536], 3),
    ("input", 1, 1, "uint16", None, [40000], 4),
    ("input", 4, 1, "int32", None, [-123456789], 4),
    ("input", 16, 1, "int64", None, ["-1234567890123456789"], 4),
    ("input", 20, 1, "uint64", None, ["12345678901234567890"], 4),
    ("input", 28, 1, "float64", "CDAB", [PI], 4),
    ("input", 46, 6, "ascii", "BADC", ["Vexo devsim"], 4),
]

# table, addr, values, extra parameters, function code expected on the wire, values read back
WRITES = [
    ("coils", 100, "[1]", {}, 5, [1]),
    ("coils", 100, "[false,true,1]", {}, 15, [0, 1, 1]),
    ("coils", 100, "[0]", {"fc": 15}, 15, [0]),
    ("holding", 200, "[-2]", {}, 6, [-2]),
    ("holding", 200, "[7,8]", {}, 16, [7, 8]),
    ("holding", 200, "[9]", {"fc": 16}, 16, [9]),
    ("holding", 200, '["-9000000000"]', {"type": "int64", "order": "DCBA"}, 16, ["-9000000000"]),
]

INPUT_ERROR = "Input parameters error!"
TOO_MANY = "Too many registers"
# Refused before anything is sent.
REFUSALS = [
    ({"func": "readTable", "table": "nope", "addr": 0, "count": 1}, "Unknown table!"),
    ({"func": "readTable", "table": "input", "addr": 0, "count": 1, "type": "int8"}, "Unknown value type!"),
    ({"func": "readTable", "table": "input", "addr": 0, "count": 1, "order": "ABDC"}, "Unknown byte order!"),
    ({"func": "readTable", "table": "input", "addr": "0x10", "count": 1}, INPUT_ERROR),
    ({"func": "readTable", "table": "input", "addr": 0, "count": 0}, INPUT_ERROR),
    ({"func": "readTable", "table": "holding", "addr": 0, "count": 126}, TOO_MANY),
    ({"func": "readTable", "table": "holding", "addr": 0, "count": 32, "type": "float64"}, TOO_MANY),
    ({"func": "readTable", "table": "coils", "addr": 0, "count": 2001}, TOO_MANY),
    ({"func": "readTable", "table": "holding", "addr": 65535, "count": 2}, INPUT_ERROR),
    ({"func": "readTable", "table": "holding", "addr": 65533, "count": 1, "type": "int64"}, INPUT_ERROR),
    ({"func": "readTable", "table": "holding", "addr": 65536, "count": 1}, INPUT_ERROR),
    ({"func": "readTable", "table": "holding", "addr": 0, "count": 1, "slave": 248}, INPUT_ERROR),
    ({"func": "writeTable", "table": "discrete", "addr": 0, "values": "[1]"}, "Unknown table!"),
    ({"func": "writeTable", "table": "input", "addr": 0, "values": "[1]"}, "Unknown table!"),
    ({"func": "writeTable", "table": "coils", "addr": 0, "values": json.dumps([1] * 1969)}, TOO_MANY),
    ({"func": "writeTable", "table": "holding", "addr": 0, "values": json.dumps([1] * 124)}, TOO_MANY),
    ({"func": "writeTable", "table": "holding", "addr": 65535, "values": "[1,2]"}, INPUT_ERROR),
    ({"func": "writeTable", "table": "holding", "addr": 0, "values": "[1,70000]"}, "Value out of range: 70000"),
    ({"func": "writeTable", "table": "coils", "addr": 0, "values": "[2]"}, "Value out of range: 2"),
    ({"func": "writeTable", "table": "coils", "addr": 0, "values": "[1,1]", "fc": 5}, INPUT_ERROR),
    ({"func": "writeTable", "table": "coils", "addr": 0, "values": "[1]", "fc": 6}, INPUT_ERROR),
    ({"func": "writeTable", "table": "holding", "addr": 0, "values": "[1.5]", "type": "float32", "fc": 6},
     INPUT_ERROR),
]


# pymodbus kind, word order, readRegisters parameters, value, value shown.
PAYLOADS = [
    ("32bit_int", "little", {"regType": "int", "valSize": 32}, "-123456789", -123456789),
    # The high-half-first type is unsigned: a negative value shows as its 32-bit pattern.
    ("32bit_int", "big", {"regType": "long", "valSize": 32}, "-5", 4294967291),
    ("32bit_float", "little", {"regType": "float1234", "valSize": 32}, "-3.25", -3.25),
    ("32bit_float", "big", {"regType": "float4321", "valSize": 32}, "1234.5", 1234.5),
]


class TablesOverTcp(unittest.TestCase):
    def setUp(self):
        self.device = devsim.Devsim(["--tcp", "127.0.0.1:0"])
        self.addCleanup(self.device.stop)
        self.vexo = vexotest.VexoInstance()
        self.addCleanup(self.vexo.cleanup)
        self.assertEqual(call(self.vexo, tcp_connect_params(self.device.port)), {"ok": "Connected with Modbus TCP."})

    def test_reads_decode_the_documented_preloads(self):
        for table, addr, count, value_type, order, values, function in READS:
            with self.subTest(table=table, addr=addr, type=value_type, order=order):
                reply = call(self.vexo, read_params(table, addr, count, value_type, order))
                self.assertEqual(list(reply), ["fc", "addr", "count", "regs", "values", "ms"])
                self.assertEqual((reply["fc"], reply["addr"], reply["count"]), (function, addr, count))
                self.assertEqual(reply["values"], values)
                self.assertIn("request function=%d address=%d " % (function, addr), self.device.requests()[-1])
        reply = call(self.vexo, read_params("holding", 0, 2))
        self.assertEqual(reply["regs"], [1234, 65535])
        reply = call(self.vexo, read_params("coils", 0, 3, slave=7))
        self.assertEqual(reply["regs"], [1, 0, 1])
        # The unit id of the TCP frame (after the six header bytes) is the slave asked for.
        self.assertEqual(self.device.requests()[-1].split("frame=")[1][12:14], "07")

    def test_writes_choose_single_or_multiple_functions_and_land(self):
        for table, addr, values, extra, function, back in WRITES:
            with self.subTest(table=table, values=values, extra=extra):
                params = {"func": "writeTable", "table": table, "addr": addr, "values": values}
                params.update(extra)
                reply = call(self.vexo, params)
                self.assertEqual(list(reply), ["ok", "fc", "ms"])
                self.assertEqual((reply["ok"], reply["fc"]), ("Values successfully sent.", function))
                self.assertIn("request function=%d address=%d " % (function, addr), self.device.requests()[-1])
                read = call(self.vexo, read_params(table, addr, len(back), extra.get("type"), extra.get("order")))
                self.assertEqual(read["values"], back)

    def test_refusals_send_nothing_and_an_exception_is_told(self):
        before = self.device.request_count()
        for params, text in REFUSALS:
            with self.subTest(params=params):
                self.assertEqual(call(self.vexo, params), {"error": text})
        self.assertEqual(self.device.request_count(), before)
        # Off the table: an exception reply, repeated as readRegisters repeats a failure.
        self.assertEqual(call(self.vexo, read_params("input", 9999, 2)),
                         {"error": "Protocol error! Illegal data address"})
        self.assertEqual(self.device.request_count() - before, 4)
        # Answers that do not fit the request: the wrong length, or a broken frame.
        for fault, params in [("short", read_params("coils", 0, 16)), ("short", read_params("discrete", 0, 9)),
                              ("short", read_params("input", 0, 2)),
                              ("short", {"func": "writeTable", "table": "coils", "addr": 300, "values": "[1]"}),
                              ("short", {"func": "writeTable", "table": "holding", "addr": 300, "values": "[7]"}),
                              ("short", {"func": "writeTable", "table": "coils", "addr": 300, "values": "[1,0,1]"}),
                              ("short", {"func": "writeTable", "table": "holding", "addr": 300, "values": "[7,8]"}),
                              ("malformed", read_params("discrete", 0, 16)),
                              ("malformed", {"func": "writeTable", "table": "holding", "addr": 300, "values": "[7]"})]:
            with self.subTest(fault=fault, params=params):
                self.device.set_fault(fault)
                self.assertEqual(call(self.vexo, params), {"error": "Protocol error! Invalid data"})


class TrafficOverRtu(unittest.TestCase):
    def test_each_transaction_is_recorded_as_sent_and_counted(self):
        line = devsim.PtyPair()
        self.addCleanup(line.stop)
        device = devsim.Devsim(["--rtu", line.second])
        self.addCleanup(device.stop)
        vexo = vexotest.VexoInstance(config={"serial": {"extraPorts": line.first}})
        self.addCleanup(vexo.cleanup)
        self.assertEqual(call(vexo, serial_connect_params(line.first, timeout=30)),
                         {"ok": "Connected with serial port."})
        self.assertEqual(call(vexo, {"func": "resetCounters"}), {"ok": "Counters reset."})
        start = call(vexo, {"func": "getTraffic", "since": 1 << 40})["next"]
        # Fault, parameters, function code, answer length (address, PDU and CRC), error shown.
        for fault, params, function, answer, error in [
                ("none", read_params("coils", 0, 16), 1, 1 + 4 + 2, ""),
                ("none", read_params("input", 0, 52), 4, 1 + 106 + 2, ""),
                ("none", {"func": "writeTable", "table": "coils", "addr": 200, "values": "[1]"}, 5, 1 + 5 + 2, ""),
                ("none", {"func": "writeTable", "table": "holding", "addr": 200, "values": "[1,2]"}, 16, 8, ""),
                ("none", {"func": "identifySlave"}, 17, 1 + 25 + 2, ""),
                ("none", read_params("input", 10000, 1), 4, 1 + 2 + 2, "Illegal data address"),
                ("bad-crc", read_params("input", 0, 1), 4, 1 + 4 + 2, "Invalid CRC"),
                ("silent", read_params("holding", 0, 1), 3, 0, "Connection timed out")]:
            with self.subTest(fault=fault, params=params):
                device.set_fault(fault)
                call(vexo, params)
                item = call(vexo, {"func": "getTraffic", "since": start})["items"][-1]
                start = item["seq"] + 1
                self.assertEqual(list(item), ["seq", "time", "fc", "addr", "count", "req", "resp", "ms", "error"])
                self.assertRegex(item["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d|Z)$")
                # Exactly what reached the device, CRC included.
                self.assertEqual((item["fc"], item["req"].replace(" ", ""), item["error"]),
                                 (function, device.requests()[-1].split("frame=")[1], error))
                self.assertEqual(len(bytes.fromhex(item["resp"])), answer)
        counters = call(vexo, {"func": "getCounters"})
        self.assertEqual(list(counters), ["requests", "answers", "timeouts", "exceptions", "crcErrors", "lastMs",
                                          "avgMs"])
        # Failures other than the time-out were asked four times.
        self.assertEqual([counters[k] for k in ("requests", "answers", "timeouts", "exceptions", "crcErrors")],
                         [14, 5, 1, 4, 4])
        self.assertGreater(counters["avgMs"], 0)
        call(vexo, {"func": "resetCounters"})
        self.assertEqual(call(vexo, {"func": "getCounters"})["requests"], 0)
        self.assertEqual(len(call(vexo, {"func": "getTraffic", "since": 0})["items"]), 14)


class TablesAgainstPymodbus(unittest.TestCase):
    def test_bits_registers_and_payloads_agree(self):
        peer = devsim.PymodbusPeer()
        self.addCleanup(peer.stop)
        vexo = vexotest.VexoInstance()
        self.addCleanup(vexo.cleanup)
        self.assertEqual(call(vexo, tcp_connect_params(peer.port)), {"ok": "Connected with Modbus TCP."})
        for table, name in (("co", "coils"), ("di", "discrete")):
            peer.command("set %s 3 1,0,0,1,1,0,1,0,1" % table)
            self.assertEqual(call(vexo, read_params(name, 3, 9))["values"], [1, 0, 0, 1, 1, 0, 1, 0, 1])
        peer.command("set ir 10 65535,2,16712,0")
        self.assertEqual(call(vexo, read_params("input", 10, 2))["values"], [-1, 2])
        self.assertEqual(call(vexo, read_params("input", 12, 1, "float32"))["values"], [12.5])
        for params, table, expected in (({"table": "coils", "values": "[1]"}, "co", "1"),
                                        ({"table": "coils", "values": "[1,0,1]", "fc": 15}, "co", "1,0,1"),
                                        ({"table": "holding", "values": "[-3]"}, "hr", "65533")):
            params.update({"func": "writeTable", "addr": 20})
            self.assertEqual(call(vexo, params)["ok"], "Values successfully sent.")
            self.assertEqual(peer.command("get %s 20 %d" % (table, expected.count(",") + 1)), expected)
        # Values built and decoded by pymodbus's own payload classes, through readRegisters and
        # writeRegisters; "big" puts the high half in the first register.
        for kind, order, params, value, shown in PAYLOADS:
            with self.subTest(kind=kind, order=order, params=params):
                self.assertEqual(peer.command("encode 10 %s %s %s" % (kind, order, value)), "ok")
                self.assertEqual(call(vexo, devsim.read_params(10, 1, **params)), [shown])
                self.assertEqual(call(vexo, devsim.write_params(50, 1, "[%s]" % value, **params)),
                                 {"ok": "Values successfully sent."})
                self.assertEqual(peer.command("decode 50 %s %s" % (kind, order)), value)


if __name__ == "__main__":
    unittest.main()
