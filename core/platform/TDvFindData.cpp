#include "core/platform/TDvFindData.h"

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

TDvEntryKind KindOfMode(unsigned mode)
{
    if (S_ISREG(mode))
        return TDvEntryKind::File;
    if (S_ISDIR(mode))
        return TDvEntryKind::Folder;
    return TDvEntryKind::Other;
}

} // namespace

TDvFindData::TDvFindData(int pFolderFd, const char *pName, std::size_t pNameLength,
                         unsigned char pDirentType)
    : fFolderFd(pFolderFd), fName(pName), fNameLength(pNameLength), fDirentType(pDirentType)
{
    switch (pDirentType) {
    case DT_REG:
        fKind = TDvEntryKind::File;
        fKindKnown = true;
        break;
    case DT_DIR:
        fKind = TDvEntryKind::Folder;
        fKindKnown = true;
        break;
    case DT_LNK:
    case DT_UNKNOWN:
        break; // resolved on first use
    default:
        fKind = TDvEntryKind::Other;
        fKindKnown = true;
        break;
    }
}

TDvFindData::TDvFindData(const QByteArray &pName, std::uint32_t pAttributes, std::int64_t pSize,
                         std::uint64_t pCreationTime, std::uint64_t pLastAccessTime,
                         std::uint64_t pLastWriteTime)
    : fOwnedName(pName),
      fKind((pAttributes & FILE_ATTRIBUTE_DIRECTORY) ? TDvEntryKind::Folder : TDvEntryKind::File),
      fKindKnown(true), fStatKnown(true), fSize(pSize), fCreationTime(pCreationTime),
      fLastAccessTime(pLastAccessTime), fLastWriteTime(pLastWriteTime)
{
    fName = fOwnedName.constData();
    fNameLength = static_cast<std::size_t>(fOwnedName.size());
}

bool TDvFindData::IsDotOrDotDot() const
{
    return (fNameLength == 1 && fName[0] == '.') ||
           (fNameLength == 2 && fName[0] == '.' && fName[1] == '.');
}

bool TDvFindData::StatFollowing() const
{
    struct statx st;
    fStatKnown = true;
    if (statx(fFolderFd, fName, AT_STATX_SYNC_AS_STAT, kStatMask, &st) != 0) {
        fKind = TDvEntryKind::Other; // dangling link or gone meanwhile
        return false;
    }
    fKind = KindOfMode(st.stx_mode);
    fSize = fKind == TDvEntryKind::File ? static_cast<std::int64_t>(st.stx_size) : 0;
    fLastAccessTime = ToFileTime(st.stx_atime);
    fLastWriteTime = ToFileTime(st.stx_mtime);
    fCreationTime = (st.stx_mask & STATX_BTIME) ? ToFileTime(st.stx_btime) : fLastWriteTime;
    return true;
}

void TDvFindData::ResolveKind() const
{
    fKindKnown = true;
    if (fDirentType == DT_UNKNOWN) {
        struct statx st;
        if (statx(fFolderFd, fName, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, STATX_TYPE, &st) !=
            0) {
            fKind = TDvEntryKind::Other;
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

TDvEntryKind TDvFindData::Kind() const
{
    if (!fKindKnown)
        ResolveKind();
    return fKind;
}

std::uint32_t TDvFindData::Attributes() const
{
    std::uint32_t attributes = 0;
    if (IsHidden())
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (IsDirectory())
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    return attributes;
}

bool TDvFindData::IsSymbolicLink() const
{
    Kind();
    return fIsLink;
}

void TDvFindData::FetchStat() const
{
    Kind();
    if (fStatKnown)
        return;
    const TDvEntryKind kind = fKind;
    StatFollowing();
    fKind = kind; // the listing decides the kind; a file gone meanwhile keeps it
}

std::int64_t TDvFindData::Size() const
{
    if (Kind() == TDvEntryKind::Folder)
        return 0;
    FetchStat();
    return fSize;
}

std::uint64_t TDvFindData::CreationTime() const
{
    FetchStat();
    return fCreationTime;
}

std::uint64_t TDvFindData::LastAccessTime() const
{
    FetchStat();
    return fLastAccessTime;
}

std::uint64_t TDvFindData::LastWriteTime() const
{
    FetchStat();
    return fLastWriteTime;
}

} // namespace dv
