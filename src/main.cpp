#include "creator.h"
#include "instanceguard.h"
#include "ipchelper.h"
#include "quitsignals.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QLocalServer>
#include <QLocale>
#include <QSettings>

namespace {
struct StartupTexts
{
    QString progress;
    QString notClosed;
};

QString normalisedLanguageCode(const QString &candidate)
{
    QString code = candidate.trimmed().toLower();
    if (code.isEmpty())
        return code;
    const int underscore = code.indexOf(QLatin1Char('_'));
    if (underscore >= 0)
        code = code.left(underscore);
    return code.left(2);
}

QString startupLanguage(const QString &configPath)
{
    QString code;
    if (!configPath.isEmpty() && QFile::exists(configPath)) {
        QSettings settings(configPath, QSettings::IniFormat);
        settings.beginGroup("other");
        code = settings.value("prefLang").toString();
        settings.endGroup();
    }
    code = normalisedLanguageCode(code);
    if (code.isEmpty())
        code = normalisedLanguageCode(QLocale::system().name());
    return code.isEmpty() ? QStringLiteral("en") : code;
}

StartupTexts startupTexts(const QString &language)
{
    if (language == QLatin1String("pl"))
        return {QString::fromUtf8(
                    "Zamykanie poprzedniej instancji programu...\nProszę czekać – to może chwilę potrwać."),
                QString::fromUtf8("Poprzednia instancja nie zamknęła się w porę.")};
    if (language == QLatin1String("es"))
        return {QString::fromUtf8("Cerrando la instancia anterior de la aplicación...\nPor favor, espere: "
                                  "esto puede tardar un momento."),
                QString::fromUtf8("La instancia anterior no se cerró a tiempo.")};
    if (language == QLatin1String("de"))
        return {
            QString::fromUtf8(
                "Vorherige Programminstanz wird beendet...\nBitte warten – dies kann einen Moment dauern."),
            QString::fromUtf8("Die vorherige Instanz wurde nicht rechtzeitig beendet.")};
    return {QString::fromUtf8(
                "Closing the previous application instance...\nPlease wait – this may take a moment."),
            QString::fromUtf8("The previous instance did not close in time.")};
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const bool restarted = argc > 1 && qstrcmp(argv[1], "-r") == 0;
    QCoreApplication::setOrganizationName("Torva");
    QCoreApplication::setApplicationName("Vexo");
    QApplication::setQuitOnLastWindowClosed(false);

    const QString configPath = QCoreApplication::applicationDirPath() + "/config.ini";
    if (!QFile::exists(configPath))
        qFatal("Cannot find config file %s", qPrintable(configPath));
    qDebug("Using config file %s", qPrintable(configPath));

    const StartupTexts texts = startupTexts(startupLanguage(configPath));
    // Declared in the order of their creation so that they go in reverse: the IPC helper,
    // the IPC server, then the lock, and the application object with the service last.
    InstanceGuard guard;
    if (!guard.acquire(texts.progress, texts.notClosed))
        return 1;
    QLocalServer ipcServer;
    IpcHelper::startListening(&ipcServer);
    IpcHelper ipcHelper(&ipcServer, configPath);
    QObject::connect(&ipcServer, &QLocalServer::newConnection, &ipcHelper, &IpcHelper::onNewConnection);

    // A termination signal leaves the way an IPC "shutdown" does; caught from before the
    // listener opens, so whoever saw the port open may stop Vexo with one.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, &QCoreApplication::quit);
    new Creator(configPath, restarted, &app);
    return app.exec();
}
