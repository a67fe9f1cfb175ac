#include "systemfun.h"

#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
// The text pdftotext finds in the PDF.
QByteArray pdfText(const QByteArray &pdf)
{
    QTemporaryFile file;
    if (!file.open())
        return QByteArray();
    file.write(pdf);
    file.flush();
    QProcess process;
    process.start("pdftotext", {file.fileName(), "-"});
    return process.waitForFinished(10000) && process.exitCode() == 0 ? process.readAllStandardOutput()
                                                                     : QByteArray();
}
} // namespace

class TestSystemFun : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_settingsHome;

    void storeSettings(const QVariantMap &values)
    {
        QSettings settings;
        settings.clear();
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            settings.setValue(it.key(), it.value());
        settings.sync();
    }

private slots:
    void initTestCase()
    {
        // The per-user store of this test lives in a private folder.
        qputenv("XDG_CONFIG_HOME", m_settingsHome.path().toUtf8());
        QCoreApplication::setOrganizationName("Torva");
        QCoreApplication::setApplicationName("Vexo");
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("poppler-utils (pdftotext) is not installed");
    }

    void firmwareArgumentsFromStoredSettings()
    {
        SystemFun systemFun;
        storeSettings({});
        QCOMPARE(systemFun.getFirmwareUpdaterArgs(), QStringList({"-1", "2", "3", "0", "0"}));

        storeSettings(
            {{"Selected_Port", "3"}, {"baudRate", 3}, {"mode", 0}, {"slaveID", 1}, {"Torva_ID", "17"}});
        QCOMPARE(systemFun.getFirmwareUpdaterArgs(), QStringList({"2", "2", "3", "1", "17"}));

        // 57600 and 115200 have codes of their own; 1200, 28800 and indexes out of range do not.
        const QList<QPair<int, QString>> baudCodes = {{8, "7"}, {9, "9"}, {1, "0"},  {5, "4"},
                                                      {0, "2"}, {6, "2"}, {13, "2"}, {-1, "2"}};
        for (const auto &baud : baudCodes) {
            storeSettings({{"baudRate", baud.first}});
            QCOMPARE(systemFun.getFirmwareUpdaterArgs().at(1), baud.second);
        }

        // Port, mode and slave id travel as 16-bit signed numbers; the device type does not.
        storeSettings({{"Selected_Port", 0}, {"mode", 32767}, {"slaveID", 65537}, {"Torva_ID", 70000}});
        QCOMPARE(systemFun.getFirmwareUpdaterArgs(), QStringList({"-1", "2", "-32766", "1", "70000"}));
    }

    void onlyImagesInsideTheTextAreDrawn()
    {
        // A page may embed its images as data; a path would let it read this machine's files.
        QTemporaryDir dir;
        QImage image(37, 23, QImage::Format_RGB32);
        image.fill(Qt::red);
        const QString imagePath = dir.filePath("secret.png");
        QVERIFY(image.save(imagePath));
        QBuffer png;
        QVERIFY(png.open(QIODevice::WriteOnly) && image.save(&png, "PNG"));

        SystemFun systemFun;
        const QByteArray fromDisk = systemFun.createAndRetPdf(
            QStringLiteral("<html><head><link rel=\"stylesheet\" href=\"%1\"></head><body><p>before</p>"
                           "<img src=\"%1\"><img src=\"file://%1\"><table background=\"%1\"><tr><td>cell</td>"
                           "</tr></table><p style=\"background-image: url(%1)\">after</p></body></html>")
                .arg(imagePath));
        QVERIFY(!fromDisk.contains("/Width 37"));
        const QByteArray text = pdfText(fromDisk);
        QVERIFY2(text.contains("before") && text.contains("after"), text);

        const QByteArray inline_ =
            systemFun.createAndRetPdf("<img src=\"data:image/png;base64," + png.data().toBase64() + "\">");
        QVERIFY2(inline_.contains("/Width 37"), inline_);
    }

    void deeplyNestedHtmlIsLaidOutAsItsSource()
    {
        // A hundred nested tables would take longer to lay out than anyone waits.
        QString html;
        for (int i = 0; i < 100; ++i)
            html += QStringLiteral("<table><tr><td>");
        html += QStringLiteral("deepest cell");
        const QByteArray text = pdfText(SystemFun().createAndRetPdf(html));
        QVERIFY2(text.contains("deepest cell") && text.contains("<table><tr><td>"), text.left(200));
    }

    void rendersOnSeveralThreadsAtOnce()
    {
        SystemFun systemFun;
        const int threadCount = 4;
        std::vector<QByteArray> texts(threadCount);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int i = 0; i < threadCount; ++i) {
            threads.emplace_back(QThread::create([&systemFun, &texts, i] {
                texts[i] = pdfText(systemFun.createAndRetPdf(QStringLiteral("<p>thread %1</p>").arg(i)));
            }));
            threads.back()->start();
        }
        for (auto &thread : threads)
            QVERIFY(thread->wait(30000));
        for (int i = 0; i < threadCount; ++i)
            QVERIFY2(texts[i].contains(QStringLiteral("thread %1").arg(i).toUtf8()), texts[i]);
    }
};

QTEST_MAIN(TestSystemFun)
#include "tst_systemfun.moc"
