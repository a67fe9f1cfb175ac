#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

// The script engine, temporary files and settings expect the application object main() makes;
// the fuzzer's main() does not. The program's diagnostics are dropped (written for every input
// they would slow the fuzzer and bury its findings); a fatal message still ends the run.
// Each target includes this header once: the fuzzer calls this before the first input.
extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    static int argc = 1;
    static QCoreApplication application(argc, *argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
            std::abort();
        }
    });
    return 0;
}

// A broken invariant is a finding: say which, and stop so the fuzzer keeps the input.
[[noreturn]] inline void fuzzFailure(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

#endif // FUZZSUPPORT_H
