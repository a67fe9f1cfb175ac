#ifndef PROCESSEXIT_H
#define PROCESSEXIT_H

// Ends the process at once with a status: no event loop, no destructors, no tear-down.
// Buffered output is flushed first so the last log lines are not lost.
class ProcessExit
{
public:
    [[noreturn]] static void immediately(int status);
};

#endif // PROCESSEXIT_H
