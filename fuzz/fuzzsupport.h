#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

// Parts of the program (the script engine, temporary files, settings) expect the application
// object that main() creates; the fuzzer's own main() does not, so every target starts one.
// The program's diagnostics are dropped: written for every input they would slow the fuzzer
// down and bury its findings. A fatal message still ends the run.
inline void startFuzzApplication(const char *program)
{
    static int argc = 1;
    static char *argv[] = {const_cast<char *>(program), nullptr};
    static QCoreApplication application(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
            std::abort();
        }
    });
}

// Each fuzz target is one translation unit that includes this header once: the fuzzer calls
// this before the first input.
extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    startFuzzApplication((*argv)[0]);
    return 0;
}

// A broken invariant is a finding: say which, and stop so the fuzzer keeps the input.
[[noreturn]] inline void fuzzFailure(const char *target, const char *what)
{
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

#endif // FUZZSUPPORT_H
