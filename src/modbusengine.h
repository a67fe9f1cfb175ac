#ifndef MODBUSENGINE_H
#define MODBUSENGINE_H

#include "getarray.h"

#include <QMap>
#include <QObject>
#include <QStringList>

typedef struct _modbus modbus_t;

// The one Modbus master connection (RTU or TCP). Not thread-safe: callers serialise
// every operation with the Modbus lock of the request handler.
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

    QByteArray connectSerial(t_GetArray &params);
    QByteArray connectWitchTCP(t_GetArray &params);
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

    static int findPort(const QString &requested, QString *enumeratedName);
    QByteArray error(const char *key) const;
    void releaseContext();
    bool openSerialContext(const QString &portName, int baudIndex, int modeIndex, int timeout);
    void setResponseTimeout(int ms);
    bool isTcp() const { return connectionType == 1; }
    QByteArray checkRegisterRequest(t_GetArray &params, bool writing, RegisterRequest *request) const;
    bool retransmissionPossible(unsigned attempt);
    QByteArray failureReply(int result, int error, unsigned attempt, const char *logPrefix, bool *retry);
    int reportSlaveIdExchange(QByteArray *report, int *error);
    QByteArray identificationReply(const QByteArray &report);

    modbus_t *modbusCtx;
    bool connected;
    quint16 connectionType;
    QMap<QByteArray, QByteArray> errorMessages;
};

#endif // MODBUSENGINE_H
