"""Publishing to a real broker: Debian's mosquitto on a free loopback port with a config file of
the test's own, watched with paho and through the broker's own log."""
import getpass
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import urllib.request

import paho.mqtt.client as mqtt

from desktopsupport import ipc_connect
from httpwire import wait_until
from vexotest import VexoInstance, free_port

CLIENT_ID = "vexo-under-test"


class Broker:
    """One mosquitto; `lines` configure its listener beyond the port."""

    def __init__(self, lines=()):
        self.dir = tempfile.mkdtemp(prefix="vexo-broker-")
        self.port = free_port()
        self.log_path = os.path.join(self.dir, "broker.log")
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
        if not os.path.exists(self.log_path):
            return ""
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def connections(self):
        return self.log().count("New connection from")


class Subscriber:
    """A paho client that keeps every message of `topic` as (topic, payload text, retained)."""

    def __init__(self, port, topic):
        self.messages = []
        self.client = mqtt.Client()
        self.client.on_connect = lambda client, *_: client.subscribe(topic, qos=1)
        self.client.on_message = lambda _c, _u, m: self.messages.append((m.topic, m.payload.decode(), m.retain))
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()

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


if __name__ == "__main__":
    unittest.main()
