"""Network devices for the discovery tests, run inside the lab's device namespace: answers
search requests on UDP port 30303. Every request datagram is logged as one line
"<sender ip> <sender port> <destination ip> <hex payload>" and answered with every --answer,
in order: the payload (hex; "{n}" in it becomes the number of the request, counting from 1)
sent from the given local address to the request's sender. Prints "ready" once it listens.
"""
import argparse
import socket
import struct
import sys

DISCOVERY_PORT = 30303
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)


def destination_of(ancillary):
    for level, kind, data in ancillary:
        if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(data) >= 12:
            _, _, header_destination = struct.unpack("i4s4s", data[:12])
            return socket.inet_ntoa(header_destination)
    return "?"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--log", required=True)
    parser.add_argument("--answer", nargs=2, action="append", default=[], metavar=("FROM_IP", "HEX"))
    options = parser.parse_args(argv)

    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
    listener.bind(("0.0.0.0", DISCOVERY_PORT))
    senders = []
    for address, payload in options.answer:
        sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sender.bind((address, 0))
        senders.append((sender, bytes.fromhex(payload)))
    print("ready", flush=True)

    count = 0
    while True:
        data, ancillary, _, peer = listener.recvmsg(2048, socket.CMSG_SPACE(64))
        count += 1
        with open(options.log, "a", encoding="ascii") as log:
            log.write("%s %d %s %s\n" % (peer[0], peer[1], destination_of(ancillary), data.hex()))
        for sender, payload in senders:
            sender.sendto(payload.replace(b"{n}", str(count).encode()), peer)


if __name__ == "__main__":
    sys.exit(main())
