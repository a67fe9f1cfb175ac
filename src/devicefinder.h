#ifndef DEVICEFINDER_H
#define DEVICEFINDER_H

#include <QObject>

// One UDP broadcast search for network devices; lives on the thread that started it.
class DeviceFinder : public QObject
{
    Q_OBJECT
public:
    explicit DeviceFinder(QObject *parent = nullptr);
    QByteArray getSearchedDevices();
};

#endif // DEVICEFINDER_H
