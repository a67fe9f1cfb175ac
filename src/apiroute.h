#ifndef APIROUTE_H
#define APIROUTE_H

#include <QByteArray>

// Where the application sends a request: substring tests on the decoded path, in this
// order, the first that matches wins. Everything else is a static file.
enum class ApiRoute
{
    Ajax,
    SaveFile,
    LoadFile,
    StaticFile
};

ApiRoute apiRouteOf(const QByteArray &path);

#endif // APIROUTE_H
