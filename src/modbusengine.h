#ifndef MODBUSENGINE_H
#define MODBUSENGINE_H

#include "getarray.h"
#include "rtutransport.h"
#include "tableoutcome.h"
#include "tablerequest.h"
#include "tcptransport.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVector>

class JsonWriter;

// The one Modbus master connection (RTU or TCP): its settings, register reads and writes
// with their retransmissions, slave identification. What differs per transport is behind
// ModbusTransport.
// Threads: runs on the connection threads; not thread-safe: the request handler's Modbus lock
// lets one call in at a time.
class ModbusEngine : public QObject
{
    Q_OBJECT
public:
    explicit ModbusEngine(QObject *parent = nullptr);
    ~ModbusEngine() override;

    QByteArray getPortSettings();
    QByteArray connectModbus(t_GetArray &params);
    QByteArray disconnectModbus();
    QByteArray readRegisters(t_GetArray &params, unsigned attempt);
    QByteArray writeRegisters(t_GetArray &params, unsigned attempt);
    QByteArray identifySlave(unsigned attempt);

    // The four data tables, with no fixed wait before a transaction (docs/master-api.md).
    QByteArray readTable(const t_GetArray &params);
    QByteArray writeTable(const t_GetArray &params);
    // A checked request in one transaction, repeated as readRegisters repeats a failed one;
    // also what the poller reads through.
    TableOutcome transferTable(const TableRequest &request, bool writing);
    // Whether a device is there to be polled: a connection made and not lost.
    bool isConnected() const { return m_link.modbusCtx && m_link.connected; }

    QByteArray connectSerial(t_GetArray &params);
    QByteArray connectWitchTCP(t_GetArray &params);
    // The reconnections, done by the transports: RtuTransport::reopen and ::reconnect,
    // TcpTransport::reconnect.
    bool reconnectPort_serial();
    bool reconnectSerial();
    bool reconnectPort_tcp();
    // Stores new communication settings and, on a serial line whose rate or mode changed,
    // reopens it with them.
    void saveSerialSettings(int slaveId, int baudIndex, int modeIndex);

    static int baudRateFromIndex(int index);
    static int baudIndexOf(int value);

    // The texts of the 13 rates and the 4 modes, listed by getPortSettings (see SerialLine).
    static const QStringList baudRateList;
    static const QStringList modeList;

private:
    struct RegisterRequest;

    QByteArray error(const char *key) const;
    QString errorText(const char *key) const;
    void writeUserSettings(JsonWriter &json) const;
    QByteArray checkRegisterRequest(t_GetArray &params, bool writing, RegisterRequest *request) const;
    // The request's checks, then the stored slave address handed to the library.
    QByteArray acceptRequest(t_GetArray &params, bool writing, int slaveId, RegisterRequest *request);
    // Reads or writes the request's registers in one transaction on the transport. Empty when
    // all went through; else the error reply, or nothing with *retry set when the whole call is
    // to be made again.
    QByteArray transferRegisters(const RegisterRequest &request, bool writing, QVector<quint16> *words,
                                 QVector<quint32> *registers, unsigned attempt, bool *retry);
    static void readNewCommunicationSettings(const t_GetArray &params);
    QByteArray failureReply(int result, int error, unsigned attempt, const char *logPrefix, bool *retry);
    QString failureText(int result, int error, unsigned attempt, const char *logPrefix, bool *retry);
    QByteArray tableReply(const t_GetArray &params, bool writing);
    QString tableTransaction(const TableRequest &request, bool writing, int slaveId, unsigned attempt,
                             TableOutcome *outcome, bool *retry);
    int reportSlaveIdExchange(QByteArray *report, int *error);
    QByteArray identificationReply(const QByteArray &report);

    ModbusLink m_link;
    RtuTransport m_rtu;
    TcpTransport m_tcp;
    // The transport of the last successful connect (the design's connectionType); serial at
    // start, kept by a disconnect.
    ModbusTransport *m_transport;
    QMap<QByteArray, QString> errorMessages;
};

#endif // MODBUSENGINE_H
