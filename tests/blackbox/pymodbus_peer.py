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
import sys
import threading

from pymodbus.constants import Endian
from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.payload import BinaryPayloadBuilder, BinaryPayloadDecoder
from pymodbus.server import StartTcpServer

from vexotest import free_port, wait_for_port

HOLDING = 3
TABLES = {"co": 1, "di": 2, "hr": 3, "ir": 4}
ORDERS = {"big": Endian.Big, "little": Endian.Little}


def encode(slave, address, kind, order, text):
    builder = BinaryPayloadBuilder(byteorder=Endian.Big, wordorder=ORDERS[order])
    getattr(builder, "add_" + kind)(float(text) if kind.endswith("float") else int(text))
    slave.setValues(HOLDING, int(address), builder.to_registers())
    return "ok"


def decode(slave, address, kind, order):
    registers = slave.getValues(HOLDING, int(address), 1 if kind.startswith("16") else 2)
    decoder = BinaryPayloadDecoder.fromRegisters(registers, byteorder=Endian.Big, wordorder=ORDERS[order])
    return repr(getattr(decoder, "decode_" + kind)())


def set_values(slave, table, address, text):
    slave.setValues(TABLES[table], int(address), [int(v) for v in text.split(",")])
    return "ok"


def get_values(slave, table, address, count):
    return ",".join(str(int(v)) for v in slave.getValues(TABLES[table], int(address), int(count)))


COMMANDS = {"encode": encode, "decode": decode, "set": set_values, "get": get_values}


def main():
    logging.disable(logging.CRITICAL)
    blocks = {name: ModbusSequentialDataBlock(0, [0] * 1000) for name in TABLES}
    slave = ModbusSlaveContext(zero_mode=True, **blocks)
    context = ModbusServerContext(slaves=slave, single=True)
    port = free_port()
    threading.Thread(target=StartTcpServer, kwargs={"context": context, "address": ("127.0.0.1", port)},
                     daemon=True).start()
    wait_for_port(port)
    print("port %d" % port, flush=True)
    for line in sys.stdin:
        words = line.split()
        try:
            reply = COMMANDS[words[0]](slave, *words[1:])
        except Exception as error:  # the test reads the reason instead of a dead peer
            reply = "error %s" % error
        print("= " + reply, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
