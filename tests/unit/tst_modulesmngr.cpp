#include "modulesmngr.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}
} // namespace

class TestModulesMngr : public QObject
{
    Q_OBJECT
private slots:
    void answersNoModulesWithoutRootOrFolder()
    {
        QTemporaryDir dir;
        const QByteArray none = "{\"modules\":{}}";
        QCOMPARE(ModulesMngr(dir.filePath("missing")).getListOfInstalledModules(), none);
        QVERIFY(touch(dir.filePath("plainfile")));
        QCOMPARE(ModulesMngr(dir.filePath("plainfile")).getListOfInstalledModules(), none);
        // A file called "modules" is not the folder.
        QVERIFY(touch(dir.filePath("modules")));
        QCOMPARE(ModulesMngr(dir.path()).getListOfInstalledModules(), none);
    }

    void skipsWhatIsNotAModuleOrNotItsFile()
    {
        QTemporaryDir dir;
        QVERIFY(touch(dir.filePath("modules/notamodule.html")));
        QVERIFY(touch(dir.filePath("modules/.hidden/index.html")));
        QCOMPARE(ModulesMngr(dir.path()).getListOfInstalledModules(), QByteArray("{}"));

        QVERIFY(touch(dir.filePath("modules/panel/View.Html")));
        QVERIFY(touch(dir.filePath("modules/panel/.secret.js")));
        QVERIFY(touch(dir.filePath("modules/panel/readme.txt")));
        QVERIFY(touch(dir.filePath("modules/panel/sub/deep.js")));
        QVERIFY(QDir(dir.path()).mkpath("modules/panel/folder.css"));
        QCOMPARE(ModulesMngr(dir.path()).getListOfInstalledModules(),
                 QByteArray("{\"panel\":{\"html\":[\"View.Html\"],\"css\":[],\"js\":[]}}"));
    }

    void escapesNamesSoTheListParses()
    {
        QTemporaryDir dir;
        QVERIFY(touch(dir.filePath("modules/say \"hi\"/a\\b.js")));
        QCOMPARE(ModulesMngr(dir.path()).getListOfInstalledModules(),
                 QByteArray("{\"say \\\"hi\\\"\":{\"html\":[],\"css\":[],\"js\":[\"a\\\\b.js\"]}}"));
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
