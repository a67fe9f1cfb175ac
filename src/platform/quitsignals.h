#ifndef QUITSIGNALS_H
#define QUITSIGNALS_H

#include <QObject>

class QSocketNotifier;

// Turns the termination signals a service manager or a terminal sends (SIGTERM, SIGINT) into
// quitRequested(), delivered by the event loop, so the program leaves by its ordinary way out:
// the listener closes and settings are written. Without it the default action ends the process
// on the spot. Unix only; on Windows it never emits. One instance at a time.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

signals:
    void quitRequested();

private:
    void onSignalArrived();

    QSocketNotifier *m_notifier = nullptr;
};

#endif // QUITSIGNALS_H
