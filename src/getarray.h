#ifndef GETARRAY_H
#define GETARRAY_H

#include <QByteArray>
#include <QMap>

// The decoded parameters of one request, copied once per request and handed to the
// engine operations, which may add entries. operator[] on an absent name yields an
// empty value (and inserts it).
typedef QMap<QByteArray, QByteArray> t_GetArray;

#endif // GETARRAY_H
