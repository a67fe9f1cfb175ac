#ifndef EMAIL_H
#define EMAIL_H

#include "getarray.h"

#include <QObject>

// Sends the support message through the outside mail tool, within its rate limits.
class Email : public QObject
{
public:
    explicit Email(QObject *parent = nullptr);
    QByteArray sendEmail(t_GetArray &params);
};

#endif // EMAIL_H
