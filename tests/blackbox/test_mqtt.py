"""Publishing to a real broker: Debian's mosquitto on a free loopback port with a config file of
the test's own, watched with paho and through the broker's own log."""
import csv
import getpass
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.request

import paho.mqtt.client as mqtt
from paho.mqtt import publish

import devsim
from desktopsupport import ipc_connect, wait_for_log
from httpwire import wait_until
from test_modbus_tables import call, read_params, tcp_connect_params
from vexotest import VexoInstance, free_port

CLIENT_ID = "vexo-under-test"
BOILER = {"name": "Boiler, hall/2", "table": "holding", "slave": 1, "addr": 0, "count": 2, "intervalMs": 100}
OFF_THE_MAP = {"name": "Off the map", "table": "input", "slave": 1, "addr": 20000, "count": 1, "intervalMs": 100}
TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d|Z)$")


class Broker:
    """One mosquitto; `lines` configure its listener beyond the port. It keeps its sessions
    across a restart, as a plant's broker does."""

    def __init__(self, lines=(), start=True):
        self.dir = tempfile.mkdtemp(prefix="vexo-broker-")
        self.port = free_port()
        self.log_path = os.path.join(self.dir, "broker.log")
        with open(os.path.join(self.dir, "mosquitto.conf"), "w") as f:
            f.write("listener %d 127.0.0.1\nuser %s\nlog_dest file %s\nlog_type all\npersistence true\n"
                    "persistence_location %s/\n" % (self.port, getpass.getuser(), self.log_path, self.dir))
            f.write("".join(line + "\n" for line in lines) or "allow_anonymous true\n")
        if start:
            self.start()

    def start(self):
        started = self.log().count(" running")
        self.process = subprocess.Popen(["mosquitto", "-c", os.path.join(self.dir, "mosquitto.conf")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Not by connecting: the broker counts connections.
        if not wait_until(lambda: self.log().count(" running") > started, 10):
            raise RuntimeError("mosquitto did not start: " + self.log())

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def log(self):
        if not os.path.exists(self.log_path):
            return ""
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def connections(self):
        return self.log().count("New connection from")


class Subscriber:
    """A paho client that keeps every message of `topic` as (topic, payload text, retained).
    With a client id its session outlives a broker restart."""

    def __init__(self, port, topic, client_id=""):
        self.messages = []
        self.client = mqtt.Client(client_id, clean_session=not client_id)
        self.client.reconnect_delay_set(1, 1)
        subscribed = threading.Event()
        self.client.on_connect = lambda client, *_: client.subscribe(topic, qos=1)
        self.client.on_subscribe = lambda *_: subscribed.set()
        self.client.on_message = lambda _c, _u, m: self.messages.append((m.topic, m.payload.decode(), m.retain))
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()
        if not subscribed.wait(10):
            raise RuntimeError("could not subscribe to " + topic)

    def wait_for(self, count, timeout=10.0):
        if not wait_until(lambda: len(self.messages) >= count, timeout):
            raise AssertionError("%d of %d messages: %r" % (len(self.messages), count, self.messages))
        return self.messages

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def broker_status(vexo):
    with urllib.request.urlopen(vexo.url("/ajax.html?func=getBrokerStatus"), timeout=10) as reply:
        return json.loads(reply.read())


def mqtt_config(broker, **keys):
    config = {"enabled": "true", "host": "127.0.0.1", "port": broker.port, "clientId": CLIENT_ID}
    config.update(keys)
    return {"mqtt": config}


def start_polling(vexo, device, *definitions):
    """Connects to the device and polls the definitions, each also into the value log."""
    call(vexo, tcp_connect_params(device.port))
    for definition in definitions:
        call(vexo, dict(definition, func="saveDefinition", log=1))
    call(vexo, {"func": "setPolling", "on": 1})


def logged_times(vexo):
    """The time of every read in the value log, oldest first."""
    with open(vexo.data_path("vexo-log.csv"), newline="", encoding="utf-8") as f:
        return list(dict.fromkeys(row[0] for row in csv.reader(f)))


def pauses_per_connection(log):
    """The pauses Vexo announced before each connection it made, and after the last one."""
    runs = [[]]
    for connected, pause in re.findall(r"MQTT: (connected) to|next attempt in (\d+) s", log):
        if connected:
            runs.append([])
        else:
            runs[-1].append(int(pause))
    return runs


def make_certificate(directory):
    """A self-signed certificate for 127.0.0.1, which is also its own CA."""
    key, cert = os.path.join(directory, "broker-key.pem"), os.path.join(directory, "broker-cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    return key, cert


class BrokerFeedTest(unittest.TestCase):
    def keep(self, thing):
        self.addCleanup(thing.cleanup if hasattr(thing, "cleanup") else thing.close)
        return thing

    def wait_for_status(self, vexo, condition, timeout=15.0):
        seen = [None]

        def matches():
            seen[0] = broker_status(vexo)
            return condition(seen[0])

        if not wait_until(matches, timeout, step=0.1):
            raise AssertionError("getBrokerStatus never matched: %r" % seen[0])
        return seen[0]

    def device(self):
        device = devsim.Devsim(["--tcp", "127.0.0.1:0"])
        self.addCleanup(device.stop)
        return device

    def test_without_a_broker_nothing_starts(self):
        for mqtt_group, warned in [(None, False), ({"enabled": "false", "host": "127.0.0.1"}, False),
                                   ({"enabled": "true"}, True)]:
            with self.subTest(mqtt=mqtt_group):
                vexo = self.keep(VexoInstance(config={"mqtt": mqtt_group} if mqtt_group else None))
                self.assertEqual(broker_status(vexo), {"configured": False})
                self.assertEqual("MQTT" in vexo.log_text(), warned, vexo.log_text())

    def test_status_is_retained_online_and_offline_comes_from_the_will_or_a_clean_quit(self):
        broker = self.keep(Broker())
        vexo = self.keep(VexoInstance(config=mqtt_config(broker)))
        self.wait_for_status(vexo, lambda s: s["connected"])
        watcher = self.keep(Subscriber(broker.port, "vexo/status"))
        self.assertEqual(watcher.wait_for(1), [("vexo/status", "online", True)])

        vexo.process.send_signal(signal.SIGKILL)
        self.assertEqual(watcher.wait_for(2)[1], ("vexo/status", "offline", False))

        vexo = self.keep(VexoInstance(config=mqtt_config(broker)))
        self.assertEqual(watcher.wait_for(3)[2], ("vexo/status", "online", False))
        with ipc_connect(vexo.tmp) as client:
            client.sendall(b"shutdown")
            self.assertEqual(vexo.process.wait(10), 0)
        # A clean DISCONNECT fires no will: the retained offline is Vexo's own.
        self.assertIn("Received DISCONNECT from " + CLIENT_ID, broker.log())
        late = self.keep(Subscriber(broker.port, "vexo/status"))
        self.assertEqual(late.wait_for(1), [("vexo/status", "offline", True)])

    def test_refused_or_untrusted_broker_waits_the_longest_pause_and_says_why(self):
        work = tempfile.mkdtemp(prefix="vexo-mqtt-tls-")
        self.addCleanup(shutil.rmtree, work, True)
        key, cert = make_certificate(work)
        passwords = os.path.join(work, "passwords")
        subprocess.run(["mosquitto_passwd", "-b", "-c", passwords, "vexo", "secret"], check=True)
        os.chmod(work, 0o755)
        private = ["allow_anonymous false", "password_file " + passwords]
        tls = ["allow_anonymous true", "certfile " + cert, "keyfile " + key]
        for lines, keys, problem in [
                (private, {"user": "vexo", "password": "wrong"}, "refused"),
                (private, {"user": "vexo", "password": "secret"}, None),
                (tls, {"tls": "true"}, "tls"),
                (tls, {"tls": "true", "caFile": cert}, None)]:
            with self.subTest(problem=problem, keys=keys):
                broker = self.keep(Broker(lines))
                vexo = self.keep(VexoInstance(config=mqtt_config(broker, **keys)))
                if problem is None:
                    self.wait_for_status(vexo, lambda s: s["connected"])
                    continue
                status = self.wait_for_status(vexo, lambda s: s["problem"] == problem)
                self.assertFalse(status["connected"])
                self.assertGreater(status["nextAttemptMs"], 55000)
                time.sleep(3)
                self.assertEqual((broker.connections(), broker_status(vexo)["attempts"]), (1, 1), vexo.log_text())
                self.assertIn("next attempt in 60 s, the longest pause", vexo.log_text())

    def test_every_read_is_one_retained_message_under_its_definitions_topic(self):
        broker = self.keep(Broker())
        vexo = self.keep(VexoInstance(config=mqtt_config(broker)))
        watcher = self.keep(Subscriber(broker.port, "vexo/+/+"))
        start_polling(vexo, self.device(), BOILER, OFF_THE_MAP)
        # The computer and the slave name the device; a definition's name is made one topic level.
        device = "vexo/%s-1/" % re.sub(r"[/+#\s]", "_", socket.gethostname())
        topics = [device + "Boiler,_hall_2", device + "Off_the_map"]
        wait_until(lambda: {m[0] for m in watcher.messages} >= set(topics), 10)
        boiler, broken = (json.loads(next(m[1] for m in watcher.messages if m[0] == t)) for t in topics)
        self.assertRegex(boiler.pop("time"), TIME)
        self.assertGreater(boiler.pop("ms"), 0)
        self.assertGreater(boiler.pop("seq"), 0)
        self.assertEqual(boiler, {"id": 1, "name": "Boiler, hall/2", "slave": 1, "table": "holding", "fc": 3,
                                  "addr": 0, "count": 2, "regs": [1234, 65535], "values": [1234, -1], "error": ""})
        self.assertEqual((broken["values"], broken["regs"], broken["error"]),
                         ([], [], call(vexo, read_params("input", 20000, 1))["error"]))

        late = self.keep(Subscriber(broker.port, "vexo/+/+"))
        wait_until(lambda: len([m for m in late.messages if m[2]]) >= 2, 10)
        self.assertEqual(sorted(m[0] for m in late.messages if m[2]), topics)

    def test_a_broker_restart_loses_nothing_the_queue_holds_and_the_pause_grows(self):
        device = self.device()
        for max_queued in (10000, 5):
            with self.subTest(maxQueued=max_queued):
                broker = self.keep(Broker(start=False))
                vexo = self.keep(VexoInstance(config=mqtt_config(broker, device="line-3", maxQueued=max_queued)))
                wait_for_log(vexo, "next attempt in 2 s")
                broker.start()
                self.wait_for_status(vexo, lambda s: s["connected"])
                watcher = self.keep(Subscriber(broker.port, "vexo/line-3/#", client_id="watcher"))
                start_polling(vexo, device, BOILER)
                watcher.wait_for(3)
                broker.stop()
                self.wait_for_status(vexo, lambda s: s["queued"] + s["dropped"] >= 10)
                broker.start()
                self.wait_for_status(vexo, lambda s: s["connected"] and s["queued"] == 0)
                call(vexo, {"func": "setPolling", "on": 0})
                time.sleep(0.5)
                logged = logged_times(vexo)
                status = broker_status(vexo)
                wait_until(lambda: len({m[1] for m in watcher.messages}) >= len(logged) - status["dropped"], 10)

                received = list(dict.fromkeys(json.loads(m[1])["time"] for m in watcher.messages))
                self.assertEqual(received, sorted(received))
                missing = [t for t in logged if t not in received]
                self.assertEqual((len(missing), len(received)), (status["dropped"], status["published"]))
                self.assertEqual(status["dropped"] > 0, max_queued == 5)
                # The oldest went: what is missing is one run of reads.
                if missing:
                    first = logged.index(missing[0])
                    self.assertEqual(missing, logged[first:first + len(missing)])
                for run in pauses_per_connection(vexo.log_text()):
                    self.assertEqual(run, [1, 2, 4, 8][:len(run)])

    def test_writes_run_only_when_allowed_and_answer_as_writetable_does(self):
        device = self.device()
        command = {"id": "w1", "table": "holding", "addr": 100, "values": [7, 8]}
        for keys, subscribed in [({"commandTopic": "plant/cmd"}, False),
                                 ({"allowWrites": "true"}, False),
                                 ({"allowWrites": "true", "commandTopic": "plant/cmd"}, True)]:
            with self.subTest(keys=keys):
                broker = self.keep(Broker())
                vexo = self.keep(VexoInstance(config=mqtt_config(broker, **keys)))
                call(vexo, tcp_connect_params(device.port))
                self.wait_for_status(vexo, lambda s: s["connected"])
                self.assertEqual(broker_status(vexo)["writes"], subscribed)
                self.assertEqual("Received SUBSCRIBE from " + CLIENT_ID in broker.log(), subscribed)
                if not subscribed:
                    self.assertEqual(self.command(broker, json.dumps(command), wait=1.5), None)
                    continue
                self.check_commands(broker, vexo)

    def command(self, broker, payload, retain=False, wait=10.0):
        """Publishes one command; its answer, or None when none comes within wait seconds."""
        results = Subscriber(broker.port, "plant/cmd/result")
        try:
            publish.single("plant/cmd", payload, qos=1, retain=retain, hostname="127.0.0.1", port=broker.port)
            wait_until(lambda: results.messages, wait)
            return json.loads(results.messages[0][1]) if results.messages else None
        finally:
            results.close()

    def check_commands(self, broker, vexo):
        for params, answer in [
                ({"id": "w1", "table": "holding", "addr": 100, "values": [7, 8]}, "writeTable"),
                ({"id": 2, "table": "holding", "addr": 100, "values": ["9007199254740993"], "type": "int64"},
                 "writeTable"),
                ({"id": 3, "table": "discrete", "addr": 0, "values": [1]}, "writeTable"),
                ({"table": "holding", "addr": 100, "values": [9007199254740993], "type": "int64"},
                 {"error": "64-bit integers from 2^53 on must be sent as decimal strings"}),
                ({"id": "u", "table": "holding", "adr": 100, "values": [1]}, {"id": "u", "error": 'Unknown member "adr"'}),
                ([7, 8], {"error": "A command is one JSON object"})]:
            with self.subTest(command=params):
                reply = self.command(broker, json.dumps(params))
                if answer == "writeTable":
                    direct = dict((k, json.dumps(v) if k == "values" else v) for k, v in params.items() if k != "id")
                    answer = dict({"id": params["id"]}, **call(vexo, dict(direct, func="writeTable")))
                    reply.pop("ms", None), answer.pop("ms", None)
                self.assertEqual(reply, answer)
        self.assertEqual(call(vexo, read_params("holding", 100, 1, "int64"))["values"], ["9007199254740993"])
        # A retained command runs when it is sent, and never again when Vexo subscribes anew.
        retained = {"id": "r", "table": "holding", "addr": 100, "values": [5]}
        self.assertIn("ok", self.command(broker, json.dumps(retained), retain=True))
        call(vexo, {"func": "writeTable", "table": "holding", "addr": 100, "values": "[9]"})
        broker.stop()
        broker.start()
        wait_for_log(vexo, "a retained command on plant/cmd is not run")
        self.assertEqual(call(vexo, read_params("holding", 100, 1))["values"], [9])

if __name__ == "__main__":
    unittest.main()
