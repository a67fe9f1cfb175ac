#ifndef HTTPLISTENER_H
#define HTTPLISTENER_H

#include <QTcpServer>

class HttpRequestHandler;
class QSettings;

class HttpListener : public QTcpServer
{
    Q_OBJECT
public:
    HttpListener(QSettings *settings, HttpRequestHandler *requestHandler, QObject *parent = nullptr);
};

#endif // HTTPLISTENER_H
