#include "email.h"

Email::Email(QObject *parent) : QObject(parent) {}
QByteArray Email::sendEmail(t_GetArray &) { return {}; }
