#include "staticfilecontroller.h"

StaticFileController::StaticFileController(const QSettings *, QObject *parent) : HttpRequestHandler(parent) {}
void StaticFileController::service(HttpRequest &request, HttpResponse &response)
{
    HttpRequestHandler::service(request, response);
}
