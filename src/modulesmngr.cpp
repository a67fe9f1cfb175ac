#include "modulesmngr.h"

#include <QCoreApplication>
#include <QDir>

namespace {
const char noModules[] = "{\"modules\":{}}";

// Drops the comma after the last member, if any member was written.
void closeList(QByteArray &json, bool anyWritten, char closing)
{
    if (anyWritten)
        json.chop(1);
    json.append(closing);
}
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

    QByteArray json = "{";
    const QStringList names = modules.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &name : names)
        json += '"' + name.toUtf8() + "\":" + moduleToJson(modules.absoluteFilePath(name)) + ',';
    closeList(json, !names.isEmpty(), '}');
    return json;
}

QByteArray ModulesMngr::moduleToJson(const QString &folder)
{
    return '{' + filesToJson(folder, QStringLiteral("html")) + ',' +
           filesToJson(folder, QStringLiteral("css")) + ',' + filesToJson(folder, QStringLiteral("js")) + '}';
}

QByteArray ModulesMngr::filesToJson(const QString &folder, const QString &extension)
{
    QByteArray json = '"' + extension.toUtf8() + "\":[";
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.") + extension},
                                                     QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &file : files)
        json += '"' + file.toUtf8() + "\",";
    closeList(json, !files.isEmpty(), ']');
    return json;
}
