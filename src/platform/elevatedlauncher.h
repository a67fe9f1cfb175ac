#ifndef ELEVATEDLAUNCHER_H
#define ELEVATEDLAUNCHER_H

#include <QString>

// Starts a sibling program with administrator rights: through the shell's "runas" verb on
// Windows, through pkexec elsewhere. Whether it really starts is not checked: a declined
// elevation prompt or a missing program simply starts nothing.
class ElevatedLauncher
{
public:
    static void start(const QString &program, const QString &parameter);
    // The setup program cannot be elevated through the shell on Windows XP.
    static bool isWindowsXp();
};

#endif // ELEVATEDLAUNCHER_H
