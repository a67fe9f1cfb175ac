#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

// Parts of the program (the script engine, temporary files, settings) expect the application
// object that main() creates; the fuzzer's own main() does not, so every target starts one.
inline void startFuzzApplication(const char *program)
{
    static int argc = 1;
    static char *argv[] = {const_cast<char *>(program), nullptr};
    static QCoreApplication application(argc, argv);
}

// A broken invariant is a finding: say which, and stop so the fuzzer keeps the input.
[[noreturn]] inline void fuzzFailure(const char *target, const char *what)
{
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

#endif // FUZZSUPPORT_H
