#ifndef MODBUSTRANSPORT_H
#define MODBUSTRANSPORT_H

#include <QtGlobal>

typedef struct _modbus modbus_t;

// How the engine reaches its device. It stays what the last successful connect made it, also
// after a disconnect: the port settings listing shows it.
enum class ConnectionType : quint16
{
    Serial = 0,
    Tcp = 1
};

// The engine's one library context, shared by the engine, which runs the transactions on it,
// and its transports, which open and close it. No context: not connected at all. A context
// that is not `connected`: a serial line that did not open again; transactions run on it and
// fail at the library.
struct ModbusLink
{
    modbus_t *modbusCtx = nullptr;
    bool connected = false;

    // Closes and frees the context, if there is one.
    void release();
    // How long the library waits for the first byte of an answer.
    void setResponseTimeout(int ms);
};

// What differs between Modbus RTU and Modbus TCP, as one table of operations with one
// implementation per transport (RtuTransport, TcpTransport), so that the engine's transactions
// and retransmission rules are written once.
// Threads: as the engine that owns it: a connection thread, under the Modbus lock.
class ModbusTransport
{
    Q_DISABLE_COPY(ModbusTransport)
public:
    explicit ModbusTransport(ModbusLink &link)
        : m_link(link)
    {}
    virtual ~ModbusTransport() = default;

    // How a transaction's link is reached. The device functions of the original set probe the
    // stored address before every transaction, as they always have; the data-table functions and
    // polling let the library's own connect find out, which waits no longer than the same
    // time-out and spares the device a second connection.
    enum class Reach
    {
        Probed,
        Direct
    };

    virtual ConnectionType type() const = 0;
    // Readies the link for one transaction: false when the device cannot be reached.
    virtual bool beginTransaction(Reach reach) = 0;
    // Called right after every transaction, whatever its result.
    virtual void endTransaction() = 0;
    // Whether a failed transaction may be sent again, after doing what that needs.
    virtual bool prepareRetransmission() = 0;

protected:
    ModbusLink &m_link;
};

#endif // MODBUSTRANSPORT_H
