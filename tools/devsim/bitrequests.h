#ifndef BITREQUESTS_H
#define BITREQUESTS_H

#include <QByteArray>

struct DeviceTables;

// Answers the requests on the bit tables: reading coils (01) and discrete inputs (02),
// writing one coil (05) and several (15). With shortAnswer a read answers with one data
// byte fewer, a single write echoes a value one smaller, a multiple write one coil fewer.
class BitRequests
{
public:
    explicit BitRequests(DeviceTables *tables);

    QByteArray read(const QByteArray &request, bool shortAnswer);
    QByteArray writeCoil(const QByteArray &request, bool shortAnswer);
    QByteArray writeCoils(const QByteArray &request, bool shortAnswer);

private:
    DeviceTables *m_tables;
};

#endif // BITREQUESTS_H
