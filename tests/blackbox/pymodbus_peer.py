"""An independent Modbus TCP device for tests: a pymodbus server whose holding registers
are filled and read with pymodbus's own payload builder and decoder, and whose other
tables are set and read directly.

Prints "port N" once it listens on loopback, then answers commands on standard input,
one per line, each answered by one line that begins with "= ":
  encode ADDR KIND ORDER VALUE   builds VALUE and stores it at ADDR, prints "ok"
  decode ADDR KIND ORDER         prints the value decoded from ADDR
  set TABLE ADDR V1,V2,...       stores the values from ADDR on, prints "ok"
  get TABLE ADDR COUNT           prints COUNT values from ADDR, comma separated
KIND is one of 16bit_int, 16bit_uint, 32bit_int, 32bit_uint, 32bit_float; ORDER is the
word order, "big" (first register holds the high half) or "little". TABLE is co (coils),
di (discrete inputs), hr (holding registers) or ir (input registers); bits are 0 and 1.
"""
import logging
import socket
import sys
import threading
import time

from pymodbus.constants import Endian
from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.payload import BinaryPayloadBuilder, BinaryPayloadDecoder
from pymodbus.server import StartTcpServer

HOLDING = 3
TABLES = {"co": 1, "di": 2, "hr": 3, "ir": 4}
ORDERS = {"big": Endian.Big, "little": Endian.Little}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.02)
    return False


def encode(slave, address, kind, order, text):
    builder = BinaryPayloadBuilder(byteorder=Endian.Big, wordorder=ORDERS[order])
    value = float(text) if kind.endswith("float") else int(text)
    getattr(builder, "add_" + kind)(value)
    slave.setValues(HOLDING, address, builder.to_registers())
    return "ok"


def decode(slave, address, kind, order):
    registers = slave.getValues(HOLDING, address, 1 if kind.startswith("16") else 2)
    decoder = BinaryPayloadDecoder.fromRegisters(registers, byteorder=Endian.Big, wordorder=ORDERS[order])
    return repr(getattr(decoder, "decode_" + kind)())


def set_values(slave, table, address, text):
    slave.setValues(TABLES[table], address, [int(v) for v in text.split(",")])
    return "ok"


def get_values(slave, table, address, count):
    return ",".join(str(int(v)) for v in slave.getValues(TABLES[table], address, count))


def main():
    logging.disable(logging.CRITICAL)
    blocks = {name: ModbusSequentialDataBlock(0, [0] * 1000) for name in TABLES}
    slave = ModbusSlaveContext(zero_mode=True, **blocks)
    context = ModbusServerContext(slaves=slave, single=True)
    port = free_port()
    threading.Thread(target=StartTcpServer, kwargs={"context": context, "address": ("127.0.0.1", port)},
                     daemon=True).start()
    if not wait_listening(port):
        print("not listening", flush=True)
        return 1
    print("port %d" % port, flush=True)
    for line in sys.stdin:
        words = line.split()
        try:
            if words and words[0] == "encode":
                reply = encode(slave, int(words[1]), words[2], words[3], words[4])
            elif words and words[0] == "decode":
                reply = decode(slave, int(words[1]), words[2], words[3])
            elif words and words[0] == "set":
                reply = set_values(slave, words[1], int(words[2]), words[3])
            elif words and words[0] == "get":
                reply = get_values(slave, words[1], int(words[2]), int(words[3]))
            else:
                reply = "error unknown command"
        except Exception as error:  # the test reads the reason instead of a dead peer
            reply = "error %s" % error
        print("= " + reply, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
