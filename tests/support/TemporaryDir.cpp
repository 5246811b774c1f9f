#include "tests/support/TemporaryDir.h"

#include "core/platform/FileName.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace testsupport {

namespace {

// Empties the folder open as Fd (which it closes).
void EmptyFolder(int fd)
{
    DIR *dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    while (dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (unlinkat(dirfd(dir), name, 0) == 0)
            continue;
        // A folder (EISDIR on Linux; some systems say EPERM).
        const int child = openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0)
            continue;
        EmptyFolder(child);
        unlinkat(dirfd(dir), name, AT_REMOVEDIR);
    }
    closedir(dir);
}

} // namespace

TemporaryDir::~TemporaryDir()
{
    if (isValid() && autoRemove())
        RemoveTree(dv::EncodeFileName(path()));
}

bool TemporaryDir::RemoveTree(const QByteArray &path)
{
    const int fd = open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        EmptyFolder(fd);
        rmdir(path.constData());
    }
    return access(path.constData(), F_OK) != 0 && errno == ENOENT;
}

} // namespace testsupport
