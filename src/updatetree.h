#ifndef UPDATETREE_H
#define UPDATETREE_H

#include <QString>

// The file-system side of an update: where a downloaded file goes inside the temporary
// tree, and copying or removing whole trees.
// Threads: keeps no state; Updates calls it on its own thread and on connection threads,
// always under its disk lock.
class UpdateTree
{
public:
    // The path below the temporary tree for a file URL, starting at its leftmost "root",
    // "modules" or "install" part, e.g. "/root/css/a.css". Empty when the URL names none of
    // them, holds a ".." part there, or is not an HTTP(S) URL: such files are never written.
    static QString relativePath(const QString &url);
    // tmpDir followed by the relative path.
    static QString targetPath(const QString &tmpDir, const QString &relativePath);
    // Copies plain files and subfolders (hidden ones left out) over the destination.
    static bool copyDir(const QString &source, const QString &destination);
    // Removes a tree; a missing one counts as removed. Links are removed, never followed.
    static bool removeDir(const QString &path);
};

#endif // UPDATETREE_H
