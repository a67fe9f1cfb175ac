#ifndef TESTENV_H
#define TESTENV_H

#include <QString>

// Where the build put the executables the black-box tests start.
inline QString vexoBuildDir()
{
    return QStringLiteral(VEXO_BUILD_DIR);
}
inline QString vexoSourceDir()
{
    return QStringLiteral(VEXO_SOURCE_DIR);
}

#endif // TESTENV_H
