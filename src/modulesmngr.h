#ifndef MODULESMNGR_H
#define MODULESMNGR_H

#include <QObject>

class JsonWriter;

// Lists the interface modules installed below the document root's "modules" folder.
// Threads: any connection thread may ask; it keeps no state beyond the root.
class ModulesMngr : public QObject
{
    Q_OBJECT
public:
    ModulesMngr(const QString &docRoot, QObject *parent = nullptr);
    QByteArray getListOfInstalledModules() const;

private:
    static void moduleToJson(JsonWriter &json, const QString &folder);
    static void filesToJson(JsonWriter &json, const QString &folder, const QString &extension);

    QString m_docRoot;
};

#endif // MODULESMNGR_H
