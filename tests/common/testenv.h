#ifndef TESTENV_H
#define TESTENV_H

#include <QString>

// The source tree, for the helper programs kept there.
inline QString vexoSourceDir()
{
    return QStringLiteral(VEXO_SOURCE_DIR);
}

#endif // TESTENV_H
