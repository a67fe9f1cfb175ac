#include "modulesmngr.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {
void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
}

QStringList sortedNames(const QJsonValue &list)
{
    QStringList names;
    const QJsonArray array = list.toArray();
    for (const QJsonValue &value : array)
        names << value.toString();
    names.sort();
    return names;
}
} // namespace

class TestModulesMngr : public QObject
{
    Q_OBJECT
private slots:
    void answersNoModulesWithoutRootOrFolder()
    {
        QTemporaryDir dir;
        QCOMPARE(ModulesMngr(dir.filePath("missing")).getListOfInstalledModules(),
                 QByteArray("{\"modules\":{}}"));
        touch(dir.filePath("plainfile"));
        QCOMPARE(ModulesMngr(dir.filePath("plainfile")).getListOfInstalledModules(),
                 QByteArray("{\"modules\":{}}"));
        QCOMPARE(ModulesMngr(dir.path()).getListOfInstalledModules(), QByteArray("{\"modules\":{}}"));
        // A file called "modules" is not the folder.
        touch(dir.filePath("modules"));
        QCOMPARE(ModulesMngr(dir.path()).getListOfInstalledModules(), QByteArray("{\"modules\":{}}"));
    }

    void listsEmptyFolderAndEmptyModule()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("modules"));
        touch(dir.filePath("modules/notamodule.html"));
        touch(dir.filePath("modules/.hidden/index.html"));
        QCOMPARE(ModulesMngr(dir.path()).getListOfInstalledModules(), QByteArray("{}"));
        QVERIFY(QDir(dir.path()).mkpath("modules/bare"));
        QCOMPARE(ModulesMngr(dir.path()).getListOfInstalledModules(),
                 QByteArray("{\"bare\":{\"html\":[],\"css\":[],\"js\":[]}}"));
    }

    void listsMatchingFilesOfEveryModule()
    {
        QTemporaryDir dir;
        touch(dir.filePath("modules/meter/index.html"));
        touch(dir.filePath("modules/meter/main.js"));
        touch(dir.filePath("modules/panel/STYLE.CSS"));
        touch(dir.filePath("modules/panel/a.css"));
        touch(dir.filePath("modules/panel/page.htm"));
        touch(dir.filePath("modules/panel/.secret.js"));
        touch(dir.filePath("modules/panel/readme.txt"));
        touch(dir.filePath("modules/panel/sub/deep.js"));
        touch(dir.filePath("modules/panel/View.Html"));
        QVERIFY(QDir(dir.path()).mkpath("modules/panel/folder.js"));

        const QByteArray reply = ModulesMngr(dir.path()).getListOfInstalledModules();
        QVERIFY2(reply.contains("\"meter\":{\"html\":[\"index.html\"],\"css\":[],\"js\":[\"main.js\"]}"),
                 reply);
        QVERIFY2(!reply.contains(' ') && !reply.contains('\n'), reply);
        const QJsonObject modules = QJsonDocument::fromJson(reply).object();
        QCOMPARE(modules.keys(), QStringList({"meter", "panel"}));
        const QJsonObject panel = modules.value("panel").toObject();
        QCOMPARE(sortedNames(panel.value("html")), QStringList({"View.Html"}));
        QCOMPARE(sortedNames(panel.value("css")), QStringList({"STYLE.CSS", "a.css"}));
        QCOMPARE(sortedNames(panel.value("js")), QStringList());
    }

    void resolvesRelativeRootAgainstTheProgramFolder()
    {
        const QString name = QStringLiteral("tst_modulesmngr_root");
        QDir programDir(QCoreApplication::applicationDirPath());
        QVERIFY(programDir.mkpath(name + "/modules/rel"));
        const QByteArray reply = ModulesMngr(name).getListOfInstalledModules();
        QVERIFY(QDir(programDir.filePath(name)).removeRecursively());
        QCOMPARE(reply, QByteArray("{\"rel\":{\"html\":[],\"css\":[],\"js\":[]}}"));
    }
};

QTEST_GUILESS_MAIN(TestModulesMngr)
#include "tst_modulesmngr.moc"
