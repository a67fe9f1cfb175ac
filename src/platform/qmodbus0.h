#ifndef QMODBUS0_H
#define QMODBUS0_H

#include <QList>
#include <QString>

#include <cstdint>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/time.h>
#endif

// The library's own opaque context; only the layer's implementation sees its inside.
typedef struct _modbus modbus_t;
class TrafficRecorder;

// The Modbus master library as the engine uses it: libmodbus with 32-bit register
// transfers (four bytes per register, most significant byte first, the quantity counting
// 32-bit registers) and a serial port enumerator. After a failed call errno holds
// timedOutErrno when the slave did not answer in time, on every platform. Every transaction
// is recorded, frames and all, by trafficRecorder().
namespace QModBus0 {

// What a time-out looks like to callers, whatever the platform reports.
constexpr int timedOutErrno = 10060;

modbus_t *modbus_new_rtu(const char *device, int baud, char parity, int dataBits, int stopBits);
modbus_t *modbus_new_tcp(const char *address, int port);
int modbus_connect(modbus_t *ctx);
void modbus_close(modbus_t *ctx);
void modbus_free(modbus_t *ctx);
int modbus_set_slave(modbus_t *ctx, int slave);

// Response time-out (wait for the first byte of an answer) and byte time-out (between the
// bytes of an answer). The setters accept a microseconds field of a second or more and
// hold at most what the library's 32-bit seconds can; a negative time-out is none.
int modbus_get_timeout_begin(modbus_t *ctx, struct timeval *timeout);
int modbus_set_timeout_begin(modbus_t *ctx, const struct timeval *timeout);
int modbus_get_timeout_end(modbus_t *ctx, struct timeval *timeout);
int modbus_set_timeout_end(modbus_t *ctx, const struct timeval *timeout);

int modbus_read_registers(modbus_t *ctx, int address, int count, uint16_t *dest);
int modbus_read_registers_32(modbus_t *ctx, int address, int count, uint32_t *dest);
int modbus_write_registers(modbus_t *ctx, int address, int count, const uint16_t *data);
int modbus_write_registers_32(modbus_t *ctx, int address, int count, const uint32_t *data);
// Copies at most maxDest report bytes (device type id, run indicator, text) into dest and
// returns the number of bytes the slave reported.
int modbus_report_slave_id(modbus_t *ctx, int maxDest, uint8_t *dest);
const char *modbus_strerror(int errnum);

// The other data tables. Bits travel one per byte (0 or 1) on this side. Each returns the
// number of items read or written (1 for a single write), or -1 with errno set; an answer
// that does not match its request in every field (function, byte count, echo, slave) is
// EMBBADDATA or EMBBADSLAVE.
int modbus_read_bits(modbus_t *ctx, int address, int count, uint8_t *dest);             // coils, 01
int modbus_read_input_bits(modbus_t *ctx, int address, int count, uint8_t *dest);       // discrete inputs, 02
int modbus_read_input_registers(modbus_t *ctx, int address, int count, uint16_t *dest); // 04
int modbus_write_bit(modbus_t *ctx, int address, int status);                           // 05
int modbus_write_register(modbus_t *ctx, int address, uint16_t value);                  // 06
int modbus_write_bits(modbus_t *ctx, int address, int count, const uint8_t *data);      // 15

// The last transactions of every context and the counters over them.
TrafficRecorder &trafficRecorder();

struct PortInfo
{
    QString portName;   // what modbus_new_rtu is given
    QString friendName; // for people
};

// The system's serial ports, then the device paths listed under serial/extraPorts in the
// configuration file (ports the system does not enumerate, such as pseudo-terminals).
QList<PortInfo> getPorts();
// The configuration file getPorts reads; "config.ini" beside the executable unless set.
void setPortsConfigFile(const QString &path);
QString portsConfigFile();

} // namespace QModBus0

#endif // QMODBUS0_H
