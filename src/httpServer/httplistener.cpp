#include "httplistener.h"

HttpListener::HttpListener(QSettings *, HttpRequestHandler *, QObject *parent) : QTcpServer(parent) {}
