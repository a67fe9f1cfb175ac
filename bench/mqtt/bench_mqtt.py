#!/usr/bin/python3
"""Publishes polled values to a local broker at a steady rate and counts what arrives.

  bench/mqtt/bench_mqtt.py [--seconds 60] [--definitions 10] [--interval-ms 100]
                           [--registers 10] [--qos 1] [--baseline]

Needs a build in build/ (or VEXO_BUILD_DIR), Debian's mosquitto and python3-paho-mqtt.
Everything runs on loopback: vexo-devsim over Modbus TCP, a mosquitto of the bench's own
(free port, own config file) and a paho subscriber. Vexo polls the definitions (by default
10 of 10 holding registers every 100 ms: 1000 values a second) for the given time and
publishes every read. Prints the messages and values Vexo published and the subscriber
received, the ones lost (published, never received) and duplicated, the delay from the read
to its arrival, and Vexo's CPU share over the run from /proc (100% = one core). --baseline
first runs the same polling without a broker, for the share that publishing adds.
"""
import argparse
import json
import os
import statistics
import sys
import threading
import time
from datetime import datetime

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "blackbox"))
os.environ.setdefault("VEXO_BUILD_DIR", os.path.join(ROOT, "build"))

import devsim  # noqa: E402
import vexotest  # noqa: E402
from vexotest import wait_until  # noqa: E402
from devsim import call, tcp_connect_params  # noqa: E402
from test_mqtt import Broker, Subscriber, broker_status  # noqa: E402


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def poll_for(vexo, device, args):
    """Polls the definitions for args.seconds; returns Vexo's CPU share in percent."""
    call(vexo, tcp_connect_params(device.port))
    for i in range(args.definitions):
        call(vexo, {"func": "saveDefinition", "name": "d%02d" % i, "table": "holding", "slave": 1,
                    "addr": i * args.registers, "count": args.registers, "intervalMs": args.interval_ms})
    cpu, start = cpu_seconds(vexo.process.pid), time.monotonic()
    call(vexo, {"func": "setPolling", "on": 1})
    time.sleep(args.seconds)
    call(vexo, {"func": "setPolling", "on": 0})
    return 100.0 * (cpu_seconds(vexo.process.pid) - cpu) / (time.monotonic() - start)


class Counter(Subscriber):
    """Keeps, per message, its definition and read time, its number of values and its delay."""

    def __init__(self, port, topic):
        self.arrivals = []
        self.lock = threading.Lock()
        super().__init__(port, topic)
        self.client.on_message = self.arrived

    def arrived(self, _client, _userdata, message):
        now = time.time()
        body = json.loads(message.payload)
        read = datetime.fromisoformat(body["time"].replace("Z", "+00:00")).timestamp()
        with self.lock:
            self.arrivals.append(((body["id"], body["time"]), len(body["values"]), now - read))


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def run(args):
    rate = args.definitions * args.registers * 1000.0 / args.interval_ms
    print("%d definitions x %d registers every %d ms = %.0f values/s for %d s, QoS %d"
          % (args.definitions, args.registers, args.interval_ms, rate, args.seconds, args.qos))
    with devsim.Devsim(["--tcp", "127.0.0.1:0"]) as device:
        if args.baseline:
            with vexotest.VexoInstance() as vexo:
                print("without a broker: Vexo CPU %.1f%%" % poll_for(vexo, device, args))
        broker = Broker()
        try:
            config = {"mqtt": {"enabled": "true", "host": "127.0.0.1", "port": broker.port, "qos": args.qos,
                               "device": "bench", "clientId": "vexo-bench"}}
            with vexotest.VexoInstance(config=config) as vexo:
                counter = Counter(broker.port, "vexo/bench/#")
                if not wait_until(lambda: broker_status(vexo)["connected"], 15):
                    raise RuntimeError("vexo did not connect to the broker")
                share = poll_for(vexo, device, args)
                wait_until(lambda: broker_status(vexo)["queued"] == 0, 30)
                status = broker_status(vexo)
                wait_until(lambda: len(counter.arrivals) >= status["published"], 30)
                time.sleep(1)
                counter.close()
                report(counter.arrivals, status, share, args.seconds)
        finally:
            broker.cleanup()


def report(arrivals, status, share, seconds):
    unique = {key: count for key, count, _ in arrivals}
    delays_ms = [delay * 1000.0 for _, _, delay in arrivals]
    print("published by Vexo (acknowledged): %d messages, dropped %d, still queued %d"
          % (status["published"], status["dropped"], status["queued"]))
    print("received: %d messages (%d duplicates), %d values = %.0f values/s"
          % (len(unique), len(arrivals) - len(unique), sum(unique.values()), sum(unique.values()) / seconds))
    print("lost: %d" % (status["published"] - len(unique)))
    print("read to arrival: median %.1f ms, p99 %.1f ms, worst %.1f ms"
          % (statistics.median(delays_ms), percentile(delays_ms, 0.99), max(delays_ms)))
    print("Vexo CPU while polling and publishing: %.1f%% of one core" % share)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--definitions", type=int, default=10)
    parser.add_argument("--interval-ms", type=int, default=100)
    parser.add_argument("--registers", type=int, default=10)
    parser.add_argument("--qos", type=int, default=1, choices=(0, 1))
    parser.add_argument("--baseline", action="store_true")
    run(parser.parse_args())


if __name__ == "__main__":
    main()
