#ifndef UPDATES_H
#define UPDATES_H

#include "getarray.h"

#include <QObject>

class QSettings;

// Checks the update server and downloads module updates into the document root.
class Updates : public QObject
{
    Q_OBJECT
public:
    Updates(QSettings *settings, QObject *parent = nullptr);

    QByteArray check4Updates(t_GetArray &params);
    QByteArray startUpdating(t_GetArray &params);
    QByteArray getUpdateStatus();
};

#endif // UPDATES_H
