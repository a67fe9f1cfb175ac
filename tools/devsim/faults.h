#ifndef FAULTS_H
#define FAULTS_H

#include <QString>

// How the simulated device misbehaves when it answers.
struct Faults
{
    enum Mode
    {
        None,     // answer properly
        Silent,   // never answer
        BadCrc,   // answer with a broken checksum (RTU)
        Short,    // answer with one register fewer than asked, as a consistent frame
        Malformed // answer with a function code that does not match the request
    };
    Mode mode = None;
    int delayMs = 0; // wait this long before answering

    static bool parseMode(const QString &name, Mode *mode);
    static QString modeNames();
};

#endif // FAULTS_H
