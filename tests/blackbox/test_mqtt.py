"""Publishing to a real broker: Debian's mosquitto on a free loopback port with a config file of
the test's own, watched with paho and through the broker's own log."""
import csv, getpass, json, os, re, shutil, signal, socket, subprocess, tempfile, threading, time, unittest  # noqa
from datetime import datetime

import paho.mqtt.client as mqtt

import devsim
from desktopsupport import ipc_connect, wait_for_log
from devsim import call, table_params as read_params, tcp_connect_params
from vexotest import VexoInstance, free_port, wait_until

BOILER = {"name": "Boiler, hall/2", "table": "holding", "slave": 1, "addr": 0, "count": 2, "intervalMs": 100}
OFF_THE_MAP = {"name": "Off the map", "table": "input", "slave": 1, "addr": 20000, "count": 1, "intervalMs": 100}
TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d|Z)$")


class Broker:
    """One mosquitto, `lines` added to its config; its sessions outlive a restart, as a plant's do."""

    def __init__(self, lines=()):
        self.dir = tempfile.mkdtemp(prefix="vexo-broker-")
        self.port, self.log_path = free_port(), os.path.join(self.dir, "broker.log")
        open(self.log_path, "w").close()
        with open(os.path.join(self.dir, "mosquitto.conf"), "w") as f:
            f.write("listener %d 127.0.0.1\nuser %s\nlog_dest file %s\nlog_type all\npersistence true\n"
                    "persistence_location %s/\n" % (self.port, getpass.getuser(), self.log_path, self.dir))
            f.write("".join(line + "\n" for line in lines) or "allow_anonymous true\n")
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
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()


class Subscriber:
    """Keeps every message of `topic` as (topic, text, retained); with a client id its session
    outlives a broker restart."""

    def __init__(self, port, topic, client_id=""):
        self.messages, subscribed = [], threading.Event()
        self.client = mqtt.Client(client_id, clean_session=not client_id)
        self.client.reconnect_delay_set(1, 1)
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

    def ask(self, topic, payload, retain=False):
        """Publishes a command; its answer is the next message this subscriber gets."""
        count = len(self.messages)
        self.client.publish(topic, payload, qos=1, retain=retain)
        return json.loads(self.wait_for(count + 1)[count][1])

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def broker_status(vexo):
    return json.loads(vexo.get("/ajax.html?func=getBrokerStatus").body)


def wait_for_status(vexo, condition, timeout=15.0, step=0.05):
    seen = []
    if not wait_until(lambda: seen.append(broker_status(vexo)) or condition(seen[-1]), timeout, step):
        raise AssertionError("getBrokerStatus never matched: %r" % seen[-1])
    return seen[-1]


def settled(vexo):
    """The status once all is sent and no more comes (polling is off, the last read is in)."""
    counts = []

    def quiet(status):
        counts.append((status["published"], status["dropped"]))
        return status["queued"] == 0 and counts[-2:] == [counts[-1]] * 2
    return wait_for_status(vexo, quiet, step=0.3)


class BrokerFeedTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.broker, cls.device = Broker(), devsim.Devsim(["--tcp", "127.0.0.1:0"])
        cls.addClassCleanup(cls.broker.cleanup)
        cls.addClassCleanup(cls.device.stop)

    def keep(self, thing):
        self.addCleanup(thing.cleanup if hasattr(thing, "cleanup") else thing.close)
        return thing

    def vexo(self, broker=None, **keys):
        mqtt_group = {"enabled": "true", "host": "127.0.0.1", "port": (broker or self.broker).port}
        return self.keep(VexoInstance(config={"mqtt": dict(mqtt_group, **keys)}))

    def poll(self, vexo, *definitions):
        call(vexo, tcp_connect_params(self.device.port))
        for definition in definitions:
            call(vexo, dict(definition, func="saveDefinition", log=1))
        call(vexo, {"func": "setPolling", "on": 1})

    def test_reads_are_retained_messages_and_the_status_has_a_will(self):
        vexo = self.vexo(clientId="vexo-feed", topicPrefix="feed")
        wait_for_status(vexo, lambda s: s["connected"])
        watcher = self.keep(Subscriber(self.broker.port, "feed/#"))
        self.assertEqual(watcher.wait_for(1), [("feed/status", "online", True)])
        self.poll(vexo, BOILER, OFF_THE_MAP)
        # The computer and the slave name the device; a definition's name is made one topic level.
        device = "feed/%s-1/" % re.sub(r"[/+#\s]", "_", socket.gethostname())
        topics = [device + "Boiler,_hall_2", device + "Off_the_map"]
        wait_until(lambda: set(topics) <= {m[0] for m in watcher.messages}, 10)
        call(vexo, {"func": "setPolling", "on": 0})
        settled(vexo)
        last = {m[0]: m[1] for m in watcher.messages}
        boiler, broken = (json.loads(last[t]) for t in topics)
        self.assertRegex(boiler.pop("time"), TIME)
        self.assertGreater(min(boiler.pop("ms"), boiler.pop("seq")), 0)
        self.assertEqual(boiler, {"id": 1, "name": "Boiler, hall/2", "slave": 1, "table": "holding", "fc": 3,
                                  "addr": 0, "count": 2, "regs": [1234, 65535], "values": [1234, -1], "error": ""})
        self.assertEqual((broken["values"], broken["regs"], broken["error"]),
                         ([], [], call(vexo, read_params("input", 20000, 1))["error"]))
        # A new subscriber gets the latest read of each definition at once.
        late = self.keep(Subscriber(self.broker.port, "feed/+/+")).wait_for(2)
        self.assertEqual(sorted(late), [(t, last[t], True) for t in topics])
        vexo.process.send_signal(signal.SIGKILL)
        self.assertEqual(watcher.wait_for(len(watcher.messages) + 1)[-1], ("feed/status", "offline", False))
        count = len(watcher.messages)
        vexo = self.vexo(clientId="vexo-feed", topicPrefix="feed")
        self.assertEqual(watcher.wait_for(count + 1)[count], ("feed/status", "online", False))
        with ipc_connect(vexo.tmp) as client:
            client.sendall(b"shutdown")
            self.assertEqual(vexo.process.wait(10), 0)
        # A clean DISCONNECT fires no will: the retained offline is Vexo's own.
        self.assertIn("Received DISCONNECT from vexo-feed", self.broker.log())
        self.assertEqual(self.keep(Subscriber(self.broker.port, "feed/status")).wait_for(1),
                         [("feed/status", "offline", True)])

    def test_refused_or_untrusted_broker_waits_the_longest_pause_and_says_why(self):
        work = tempfile.mkdtemp(prefix="vexo-mqtt-tls-")
        self.addCleanup(shutil.rmtree, work, True)
        key, cert, passwords = (os.path.join(work, name) for name in ("key.pem", "cert.pem", "passwords"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
        subprocess.run(["mosquitto_passwd", "-b", "-c", passwords, "vexo", "secret"], check=True)
        os.chmod(work, 0o755)  # the broker reads them as its own user
        broker = self.keep(Broker(["allow_anonymous false", "password_file " + passwords,
                                   "certfile " + cert, "keyfile " + key]))
        cases = {"refused": (cert, "wrong"), "tls": ("", "secret"), "": (cert, "secret")}
        vexos = {problem: self.vexo(broker, tls="true", caFile=ca, user="vexo", password=password,
                                    clientId="c" + problem) for problem, (ca, password) in cases.items()}
        for problem, vexo in vexos.items():  # refused and untrusted: the next attempt in about 60 s
            wait_for_status(vexo, lambda s: (s["problem"], s["connected"], s["nextAttemptMs"] > 55000) ==
                            (problem, not problem, bool(problem)))
        time.sleep(1.5)  # long enough for a second attempt after the shortest pause
        self.assertEqual([broker_status(vexos[p])["attempts"] for p in cases], [1, 1, 1])
        self.assertEqual(["the longest pause" in vexos[p].log_text() for p in cases], [True, True, False])
        self.assertEqual(broker.log().count("New connection from"), 3, broker.log())

    def test_a_broker_restart_loses_nothing_the_queue_holds_and_drops_the_oldest(self):
        broker = self.keep(Broker())
        vexo = self.vexo(broker, device="line-3", maxQueued=5, allowWrites="true", commandTopic="plant/cmd")
        wait_for_status(vexo, lambda s: s["connected"])
        watcher = self.keep(Subscriber(broker.port, "vexo/line-3/#", client_id="watcher"))
        results = self.keep(Subscriber(broker.port, "plant/cmd/result"))
        self.poll(vexo, BOILER)
        # A retained command runs when it is sent, and never again when Vexo subscribes anew.
        retained = {"id": "r", "table": "holding", "addr": 100, "values": [5]}
        self.assertIn("ok", results.ask("plant/cmd", json.dumps(retained), retain=True))
        call(vexo, {"func": "writeTable", "table": "holding", "addr": 100, "values": "[9]"})
        watcher.wait_for(3)
        broker.stop()
        stopped = time.time()
        wait_for_status(vexo, lambda s: s["dropped"] > 0)
        wait_for_log(vexo, "next attempt in 2 s")
        broker.start()
        wait_for_status(vexo, lambda s: s["connected"] and s["queued"] == 0)
        call(vexo, {"func": "setPolling", "on": 0})
        wait_for_log(vexo, "a retained command on plant/cmd is not run")
        self.assertEqual(call(vexo, read_params("holding", 100, 1))["values"], [9])
        status = settled(vexo)
        with open(vexo.data_path("vexo-log.csv"), newline="", encoding="utf-8") as f:
            logged = list(dict.fromkeys(row[0] for row in csv.reader(f)))  # the value log: every read's time
        sent = status["published"] - 1  # the reads, without the command's answer
        self.assertEqual(sent + status["dropped"], len(logged))
        wait_until(lambda: len({m[1] for m in watcher.messages}) >= sent, 10)
        received = list(dict.fromkeys(json.loads(m[1])["time"] for m in watcher.messages))
        self.assertEqual(received, sorted(received))
        # The oldest went, and were counted: what is missing is one run of reads.
        missing = [t for t in logged if t not in received]
        self.assertEqual((len(missing), len(received)), (status["dropped"], sent))
        first = logged.index(missing[0])
        self.assertEqual(missing, logged[first:first + len(missing)])
        self.assertIn(next(t for t in logged if datetime.fromisoformat(t.replace("Z", "+00:00")).timestamp() > stopped),
                      missing)
        # The pause before each connection grows from 1 s and starts again after a connection.
        for run in re.split(r"MQTT: connected to", vexo.log_text()):
            pauses = [int(p) for p in re.findall(r"next attempt in (\d+) s", run)]
            self.assertEqual(pauses, [1, 2, 4, 8][:len(pauses)])

    def test_nothing_runs_unless_configured_and_writes_answer_as_writetable_does(self):
        for group, warned in [({}, False), ({"enabled": "0", "host": "127.0.0.1"}, False), ({"enabled": "1"}, True),
                              ({"enabled": "maybe", "host": "127.0.0.1"}, True)]:
            vexo = self.keep(VexoInstance(config={"mqtt": group}))
            self.assertEqual((broker_status(vexo), "MQTT" in vexo.log_text()), ({"configured": False}, warned))
        # A prefix with a wildcard or of slashes alone is refused: the default takes its place.
        instances = [self.vexo(clientId="no-topic", allowWrites="true", topicPrefix="a/#"),
                     self.vexo(clientId="not-allowed", commandTopic="off/cmd", topicPrefix="//"),
                     self.vexo(clientId="writer", allowWrites="true", commandTopic="plant/cmd", topicPrefix="w/")]
        self.assertEqual([(s["writes"], s["topicPrefix"]) for s in
                          (wait_for_status(v, lambda s: s["connected"]) for v in instances)],
                         [(False, "vexo"), (False, "vexo"), (True, "w")])
        vexo = instances[-1]
        call(vexo, tcp_connect_params(self.device.port))
        results = self.keep(Subscriber(self.broker.port, "+/cmd/result"))
        results.client.publish("off/cmd", json.dumps({"table": "holding", "addr": 200, "values": [77]}), qos=1)
        big = {"table": "holding", "addr": 100, "type": "int64"}
        for params, error in [
                ({"id": "w1", "table": "holding", "addr": 100, "values": [7, 8]}, None),
                (dict(big, id=2, values=["9007199254740993"]), None),
                ({"id": 3, "table": "discrete", "addr": 0, "values": [1]}, None),  # writeTable's own refusal
                (dict(big, values=[9007199254740993]), "64-bit integers from 2^53 on must be sent as decimal strings"),
                ({"id": "u", "table": "holding", "adr": 100, "values": [1]}, 'Unknown member "adr"'),
                ([7, 8], "A command is one JSON object"),
                ({"table": "holding", "addr": [100], "values": [1]}, "Input parameters error!"),
                ({"table": "holding", "addr": 100}, "Registers values error!"),
                ({"table": "holding", "addr": 100, "values": [1] * 8193}, "A command is at most 16384 bytes")]:
            reply, answer = results.ask("plant/cmd", json.dumps(params)), {"error": error}
            if not error:  # exactly what writeTable itself answers, ms aside
                direct = {k: json.dumps(v) if k == "values" else v for k, v in params.items() if k != "id"}
                answer, _ = call(vexo, dict(direct, func="writeTable")), reply.pop("ms", None)
                answer.pop("ms", None)
            self.assertEqual(reply, dict({"id": params["id"]} if "id" in params else {}, **answer), params)
        self.assertEqual(call(vexo, read_params("holding", 100, 1, "int64"))["values"], ["9007199254740993"])
        # Only the writer subscribed, and only it answered.
        subscribers = re.findall(r"Received SUBSCRIBE from (\S+)", self.broker.log())
        self.assertEqual([c for c in subscribers if c in ("no-topic", "not-allowed", "writer")], ["writer"])
        self.assertEqual({m[0] for m in results.messages}, {"plant/cmd/result"})


if __name__ == "__main__":
    unittest.main()
