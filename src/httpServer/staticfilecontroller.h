#ifndef STATICFILECONTROLLER_H
#define STATICFILECONTROLLER_H

#include "httprequesthandler.h"

class QSettings;

// Serves the document root with a small in-memory cache; runs on many threads at once.
class StaticFileController : public HttpRequestHandler
{
    Q_OBJECT
public:
    StaticFileController(const QSettings *settings, QObject *parent = nullptr);
    void service(HttpRequest &request, HttpResponse &response) override;
};

#endif // STATICFILECONTROLLER_H
