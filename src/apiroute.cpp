#include "apiroute.h"

ApiRoute apiRouteOf(const QByteArray &path)
{
    if (path.contains("ajax.html"))
        return ApiRoute::Ajax;
    if (path.contains("saveFile.html"))
        return ApiRoute::SaveFile;
    if (path.contains("loadFile.html"))
        return ApiRoute::LoadFile;
    return ApiRoute::StaticFile;
}
