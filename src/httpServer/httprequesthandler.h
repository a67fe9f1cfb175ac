#ifndef HTTPREQUESTHANDLER_H
#define HTTPREQUESTHANDLER_H

#include <QObject>

class HttpRequest;
class HttpResponse;

// Base of every request handler; the base answers 501.
// Threads: service() runs on the connection threads, several at once.
class HttpRequestHandler : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpRequestHandler)
public:
    explicit HttpRequestHandler(QObject *parent = nullptr);
    virtual void service(HttpRequest &request, HttpResponse &response);
};

#endif // HTTPREQUESTHANDLER_H
