#include "core/platform/FindData.h"

#include "core/platform/FileTime.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace dv {

namespace {

constexpr unsigned kStatMask = STATX_TYPE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME;

std::uint64_t ToFileTime(const struct statx_timestamp &t)
{
    return FileTimeFromUnixTime(t.tv_sec, t.tv_nsec);
}

EntryKind KindOfMode(unsigned mode)
{
    if (S_ISREG(mode))
        return EntryKind::File;
    if (S_ISDIR(mode))
        return EntryKind::Folder;
    return EntryKind::Other;
}

} // namespace

FindData::FindData(int pFolderFd, const char *pName, std::size_t pNameLength,
                   unsigned char pDirentType)
    : fFolderFd(pFolderFd), fName(pName), fNameLength(pNameLength), fDirentType(pDirentType)
{
    switch (pDirentType) {
    case DT_REG:
        fKind = EntryKind::File;
        fKindKnown = true;
        break;
    case DT_DIR:
        fKind = EntryKind::Folder;
        fKindKnown = true;
        break;
    case DT_LNK:
    case DT_UNKNOWN:
        break; // resolved on first use
    default:
        fKind = EntryKind::Other;
        fKindKnown = true;
        break;
    }
}

FindData::FindData(const QByteArray &pName, std::uint32_t pAttributes, std::int64_t pSize,
                   std::uint64_t pCreationTime, std::uint64_t pLastAccessTime,
                   std::uint64_t pLastWriteTime)
    : fOwnedName(pName),
      fKind((pAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File),
      fKindKnown(true), fStatKnown(true), fSize(pSize), fCreationTime(pCreationTime),
      fLastAccessTime(pLastAccessTime), fLastWriteTime(pLastWriteTime)
{
    fName = fOwnedName.constData();
    fNameLength = static_cast<std::size_t>(fOwnedName.size());
}

bool FindData::IsDotOrDotDot() const
{
    return (fNameLength == 1 && fName[0] == '.') ||
           (fNameLength == 2 && fName[0] == '.' && fName[1] == '.');
}

bool FindData::StatFollowing() const
{
    struct statx st;
    fStatKnown = true;
    if (statx(fFolderFd, fName, AT_STATX_SYNC_AS_STAT, kStatMask, &st) != 0) {
        fKind = EntryKind::Other; // dangling link or gone meanwhile
        return false;
    }
    fKind = KindOfMode(st.stx_mode);
    fSize = fKind == EntryKind::File ? static_cast<std::int64_t>(st.stx_size) : 0;
    fLastAccessTime = ToFileTime(st.stx_atime);
    fLastWriteTime = ToFileTime(st.stx_mtime);
    fCreationTime = (st.stx_mask & STATX_BTIME) ? ToFileTime(st.stx_btime) : fLastWriteTime;
    return true;
}

void FindData::ResolveKind() const
{
    fKindKnown = true;
    if (fDirentType == DT_UNKNOWN) {
        struct statx st;
        if (statx(fFolderFd, fName, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, STATX_TYPE, &st) !=
            0) {
            fKind = EntryKind::Other;
            fStatKnown = true;
            return;
        }
        if (!S_ISLNK(st.stx_mode)) {
            fKind = KindOfMode(st.stx_mode);
            return;
        }
    }
    fIsLink = true;
    StatFollowing();
}

EntryKind FindData::Kind() const
{
    if (!fKindKnown)
        ResolveKind();
    return fKind;
}

std::uint32_t FindData::Attributes() const
{
    std::uint32_t attributes = 0;
    if (IsHidden())
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (IsDirectory())
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    return attributes;
}

bool FindData::IsSymbolicLink() const
{
    Kind();
    return fIsLink;
}

void FindData::FetchStat() const
{
    Kind();
    if (fStatKnown)
        return;
    const EntryKind kind = fKind;
    StatFollowing();
    fKind = kind; // the listing decides the kind; a file gone meanwhile keeps it
}

std::int64_t FindData::Size() const
{
    if (Kind() == EntryKind::Folder)
        return 0;
    FetchStat();
    return fSize;
}

std::uint64_t FindData::CreationTime() const
{
    FetchStat();
    return fCreationTime;
}

std::uint64_t FindData::LastAccessTime() const
{
    FetchStat();
    return fLastAccessTime;
}

std::uint64_t FindData::LastWriteTime() const
{
    FetchStat();
    return fLastWriteTime;
}

} // namespace dv
