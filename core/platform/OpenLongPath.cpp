#include "core/platform/OpenLongPath.h"

#include "core/platform/UniqueFd.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace dv {

int OpenLongPath(const char *path, int flags)
{
    const int fd = ::open(path, flags);
    if (fd >= 0 || errno != ENAMETOOLONG)
        return fd;
    const std::string whole(path);
    std::size_t pos = 0;
    // Relative paths start at the working folder (AT_FDCWD, held by no one).
    UniqueFd held;
    int dir = AT_FDCWD;
    if (!whole.empty() && whole[0] == '/') {
        held.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!held)
            return -1;
        dir = held.get();
        pos = whole.find_first_not_of('/');
        if (pos == std::string::npos)
            pos = whole.size();
    }
    // Each piece is as many whole components as fit well within PATH_MAX; the kernel follows
    // links inside a piece as it would in the whole path.
    constexpr std::size_t kPiece = PATH_MAX / 2;
    for (;;) {
        std::size_t end = whole.size();
        if (end - pos > kPiece) {
            end = whole.rfind('/', pos + kPiece);
            if (end == std::string::npos || end <= pos) {
                // A single name longer than a piece: let the kernel refuse it.
                end = whole.find('/', pos);
                if (end == std::string::npos)
                    end = whole.size();
            }
        }
        const std::string piece = whole.substr(pos, end - pos);
        pos = whole.find_first_not_of('/', end);
        const bool last = pos == std::string::npos;
        const int next = last ? ::openat(dir, piece.c_str(), flags)
                              : ::openat(dir, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        held.reset(next); // keeps the errno of a failed openat
        if (next < 0 || last)
            return held.release();
        dir = next;
    }
}

} // namespace dv
