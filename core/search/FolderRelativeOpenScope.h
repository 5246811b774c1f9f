#pragma once

#include <QString>

namespace dv {

// While it lives, OpenFileForReading on this thread opens Path (exactly this text) as Name
// relative to the open folder FolderFd instead of by its whole path: the folder the walk
// found the file in is already open, so the kernel looks up one name, not every folder on
// the way, and the path is not encoded again. Scopes nest; the innermost one is asked first,
// and only it. FolderFd and Name must outlive the scope.
class FolderRelativeOpenScope
{
public:
    FolderRelativeOpenScope(const QString &path, int folderFd, const char *name);
    ~FolderRelativeOpenScope();
    FolderRelativeOpenScope(const FolderRelativeOpenScope &) = delete;
    FolderRelativeOpenScope &operator=(const FolderRelativeOpenScope &) = delete;

    // The innermost scope when it was opened for Path; nullptr otherwise.
    static const FolderRelativeOpenScope *Find(const QString &path);

    int FolderFd() const { return m_folderFd; }
    const char *Name() const { return m_name; }

private:
    const QString &m_path;
    int m_folderFd;
    const char *m_name;
    FolderRelativeOpenScope *m_outer;
};

} // namespace dv
