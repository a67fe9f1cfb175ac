#include "modulesmngr.h"

#include "jsonwriter.h"

#include <QCoreApplication>
#include <QDir>

namespace {
const char noModules[] = "{\"modules\":{}}";
} // namespace

ModulesMngr::ModulesMngr(const QString &docRoot, QObject *parent)
    : QObject(parent)
    , m_docRoot(QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(docRoot))
{}

QByteArray ModulesMngr::getListOfInstalledModules() const
{
    const QDir root(m_docRoot);
    if (!root.exists())
        return noModules;
    const QDir modules(root.absoluteFilePath(QStringLiteral("modules")));
    if (!modules.exists())
        return noModules;

    JsonWriter json;
    json.beginObject();
    const QStringList names = modules.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &name : names) {
        json.name(name);
        moduleToJson(json, modules.absoluteFilePath(name));
    }
    json.endObject();
    return json.json();
}

void ModulesMngr::moduleToJson(JsonWriter &json, const QString &folder)
{
    json.beginObject();
    filesToJson(json, folder, QStringLiteral("html"));
    filesToJson(json, folder, QStringLiteral("css"));
    filesToJson(json, folder, QStringLiteral("js"));
    json.endObject();
}

void ModulesMngr::filesToJson(JsonWriter &json, const QString &folder, const QString &extension)
{
    json.name(extension).beginArray();
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.") + extension},
                                                     QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &file : files)
        json.string(file);
    json.endArray();
}
