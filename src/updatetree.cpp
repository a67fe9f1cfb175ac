#include "updatetree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace {
bool isMarker(const QString &part)
{
    return part == QLatin1String("root") || part == QLatin1String("modules") ||
           part == QLatin1String("install");
}

// Both separators count: a backslash separates folders on Windows.
bool climbsUp(const QString &relativePath)
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    return relativePath.split(separators).contains(QStringLiteral(".."));
}

bool isWebUrl(const QString &url)
{
    const QString scheme = QUrl(url).scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}
} // namespace

QString UpdateTree::relativePath(const QString &url)
{
    if (!isWebUrl(url))
        return QString();
    const QStringList parts = url.split(QLatin1Char('/'));
    int first = 0;
    while (first < parts.size() && !isMarker(parts.at(first)))
        ++first;
    if (first == parts.size())
        return QString();
    QString relative;
    for (int i = first; i < parts.size(); ++i)
        relative += QLatin1Char('/') + parts.at(i);
    return climbsUp(relative) ? QString() : relative;
}

QString UpdateTree::targetPath(const QString &tmpDir, const QString &relativePath)
{
    const QString separator = relativePath.startsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/");
    return QDir(tmpDir).absolutePath() + separator + relativePath;
}

bool UpdateTree::copyDir(const QString &source, const QString &destination)
{
    const QDir sourceDir(source);
    if (!sourceDir.exists())
        return false;
    QDir destinationDir(destination);
    if (!destinationDir.exists() && !QDir().mkdir(destination))
        return false;

    const QStringList files = sourceDir.entryList(QDir::Files, QDir::Unsorted);
    for (const QString &file : files) {
        const QString target = destinationDir.filePath(file);
        if (QFileInfo::exists(target))
            QFile::remove(target);
        if (!QFile::copy(sourceDir.filePath(file), target))
            return false;
    }
    const QStringList folders = sourceDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &folder : folders) {
        if (!copyDir(sourceDir.filePath(folder), destinationDir.filePath(folder)))
            return false;
    }
    return true;
}

bool UpdateTree::removeDir(const QString &path)
{
    QDir dir(path);
    if (!dir.exists())
        return true;
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::DirsFirst);
    for (const QFileInfo &entry : entries) {
        const bool removed = entry.isDir() && !entry.isSymLink() ? removeDir(entry.absoluteFilePath())
                                                                 : QFile::remove(entry.absoluteFilePath());
        if (!removed)
            return false;
    }
    return QDir().rmdir(dir.absolutePath());
}
