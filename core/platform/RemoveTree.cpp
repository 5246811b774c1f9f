#include "core/platform/RemoveTree.h"

#include "core/platform/UniqueFd.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dv {

namespace {

// Each level holds a descriptor and a stack frame; deeper than this is left in place.
constexpr int kMaxDepth = 4096;

void RemoveTreeAt(int parent, const char *name, int depth)
{
    if (depth > kMaxDepth)
        return;
    UniqueFd owned(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!owned)
        return;
    const int fd = owned.get();
    DIR *dir = ::fdopendir(fd);
    if (!dir)
        return;
    owned.release(); // closedir closes it
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat st
        {
        };
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            RemoveTreeAt(fd, entry->d_name, depth + 1);
        else
            ::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(dir);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

} // namespace

void RemoveTreeAt(int pParent, const char *pName)
{
    RemoveTreeAt(pParent, pName, 0);
}

} // namespace dv
