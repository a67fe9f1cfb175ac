#include "quitsignals.h"

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
// A signal handler may only write to a descriptor: the self-pipe's ends live here, not in the
// object. Both are -1 while no QuitSignals exists.
int gPipe[2] = {-1, -1};
const int kSignals[] = {SIGTERM, SIGINT};

void onSignal(int)
{
    const char byte = 1;
    // Nothing can be reported from here; a full pipe already holds a pending request.
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
}

bool openPipe()
{
    if (::pipe(gPipe) != 0)
        return false;
    for (int fd : gPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}
} // namespace

QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent)
{
    if (gPipe[0] >= 0 || !openPipe())
        return;
    m_notifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::onSignalArrived);
    setHandler(onSignal);
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    setHandler(SIG_DFL);
    delete m_notifier;
    for (int &fd : gPipe) {
        ::close(fd);
        fd = -1;
    }
}

void QuitSignals::onSignalArrived()
{
    char bytes[16];
    while (::read(gPipe[0], bytes, sizeof bytes) > 0) {
    }
    emit quitRequested();
}

#else

QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent)
{}

QuitSignals::~QuitSignals() = default;

void QuitSignals::onSignalArrived() {}

#endif
