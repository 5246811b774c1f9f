#pragma once

#include "core/platform/UniqueFd.h"

#include <QString>

namespace dv {

// The private folder of one installer download, <cache>/Delvora/update-XXXXXX. It is reached
// only through folders that no other user can change, so nobody can swap it, or the file in
// it, between the download and the hand-over to the package installer.
class InstallerFolder
{
public:
    // Creates a new download folder (mode 0700) below CacheFolder, or below the user's cache
    // folder when it is empty, and removes the download folders of earlier runs. Refuses a
    // folder on the way that belongs to another user or that others may write into. Throws
    // InstallerDownloadError.
    static InstallerFolder Create(const QString &cacheFolder = {});

    InstallerFolder(InstallerFolder &&other) noexcept = default;
    InstallerFolder &operator=(InstallerFolder &&other) = delete;

    QString Path() const { return m_path; }
    // Creates the file Name in the folder, mode 0600, never over an existing entry and never
    // through a link; returns its descriptor, open for reading and writing. Throws
    // InstallerDownloadError.
    UniqueFd CreateFile(const QString &name) const;

    // Removes the folder with everything in it (a refused or failed download), never following
    // a link; what cannot be removed stays.
    void Remove() const;

    // $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
    static QString UserCacheFolder();

private:
    InstallerFolder(UniqueFd fd, QString path) : m_fd(std::move(fd)), m_path(std::move(path)) {}

    UniqueFd m_fd;
    QString m_path;
};

} // namespace dv
