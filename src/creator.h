#ifndef CREATOR_H
#define CREATOR_H

#include <QObject>

class HttpListener;
class MyHttpRequestHandler;

// Assembles the running service: static files, the request handler and the listener.
class Creator : public QObject
{
    Q_OBJECT
public:
    Creator(const QString &configPath, bool restarted, QObject *parent = nullptr);

    HttpListener *listener() const { return m_listener; }

private:
    MyHttpRequestHandler *m_requestHandler = nullptr;
    HttpListener *m_listener = nullptr;
};

#endif // CREATOR_H
