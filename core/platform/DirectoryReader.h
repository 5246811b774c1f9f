#pragma once

#include <QByteArray>

#include <cstddef>
#include <sys/types.h>
#include <vector>

namespace dv {

// Where an open folder lives: its device and inode, and whether it is the root of a mount.
struct FolderIdentity
{
    dev_t Device = 0;
    ino_t Inode = 0;
    bool IsMountRoot = false;
};

// Lists the entries of an open folder straight from the kernel (getdents64) through one
// reusable buffer, so listing a folder costs no allocation per entry. Folders are opened
// relative to their parent's descriptor, which puts no limit on the depth of a path.
class DirectoryReader
{
public:
    struct Entry
    {
        const char *Name; // valid until the next call of Next
        std::size_t Length;
        unsigned char Type; // d_type
    };

    explicit DirectoryReader(std::size_t pBufferSize = 64 * 1024);

    // Starts listing the folder open as pFolderFd, freshly opened (its position is not reset).
    void Start(int pFolderFd);
    // The next entry; false at the end of the listing or when reading fails.
    bool Next(Entry &pEntry);

    // Opens a folder by path; -1 when it cannot be opened as a folder.
    static int OpenFolder(const QByteArray &pPath);
    // Opens the subfolder pName of the open folder pParentFd; a symbolic link is followed
    // only when pFollowLink is set. -1 when it cannot be opened as a folder.
    static int OpenSubfolder(int pParentFd, const char *pName, bool pFollowLink);
    // Identity of an open folder; false when it cannot be queried.
    static bool Identify(int pFolderFd, FolderIdentity &pIdentity);

private:
    // Made at the first listing: a reader that lists nothing (a walk of one entry) costs none.
    std::vector<char> m_buffer;
    std::size_t m_bufferSize;
    int m_fd = -1;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_done = true;
};

} // namespace dv
