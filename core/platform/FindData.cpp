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
    : m_folderFd(pFolderFd), m_name(pName), m_nameLength(pNameLength), m_direntType(pDirentType)
{
    switch (pDirentType) {
    case DT_REG:
        m_kind = EntryKind::File;
        m_kindKnown = true;
        break;
    case DT_DIR:
        m_kind = EntryKind::Folder;
        m_kindKnown = true;
        break;
    case DT_LNK:
    case DT_UNKNOWN:
        break; // resolved on first use
    default:
        m_kind = EntryKind::Other;
        m_kindKnown = true;
        break;
    }
}

FindData::FindData(const QByteArray &pName, std::uint32_t pAttributes, std::int64_t pSize,
                   std::uint64_t pCreationTime, std::uint64_t pLastAccessTime,
                   std::uint64_t pLastWriteTime)
    : m_ownedName(pName),
      m_kind((pAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File),
      m_kindKnown(true), m_statKnown(true), m_size(pSize), m_creationTime(pCreationTime),
      m_lastAccessTime(pLastAccessTime), m_lastWriteTime(pLastWriteTime)
{
    m_name = m_ownedName.constData();
    m_nameLength = static_cast<std::size_t>(m_ownedName.size());
}

bool FindData::IsDotOrDotDot() const
{
    return (m_nameLength == 1 && m_name[0] == '.') ||
           (m_nameLength == 2 && m_name[0] == '.' && m_name[1] == '.');
}

bool FindData::StatFollowing() const
{
    struct statx st;
    m_statKnown = true;
    if (statx(m_folderFd, m_name, AT_STATX_SYNC_AS_STAT, kStatMask, &st) != 0) {
        m_kind = EntryKind::Other; // dangling link or gone meanwhile
        return false;
    }
    m_kind = KindOfMode(st.stx_mode);
    m_size = m_kind == EntryKind::File ? static_cast<std::int64_t>(st.stx_size) : 0;
    m_lastAccessTime = ToFileTime(st.stx_atime);
    m_lastWriteTime = ToFileTime(st.stx_mtime);
    m_creationTime = (st.stx_mask & STATX_BTIME) ? ToFileTime(st.stx_btime) : m_lastWriteTime;
    return true;
}

void FindData::ResolveKind() const
{
    m_kindKnown = true;
    if (m_direntType == DT_UNKNOWN) {
        struct statx st;
        if (statx(m_folderFd, m_name, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, STATX_TYPE,
                  &st) != 0) {
            m_kind = EntryKind::Other;
            m_statKnown = true;
            return;
        }
        if (!S_ISLNK(st.stx_mode)) {
            m_kind = KindOfMode(st.stx_mode);
            return;
        }
    }
    m_isLink = true;
    StatFollowing();
}

EntryKind FindData::Kind() const
{
    if (!m_kindKnown)
        ResolveKind();
    return m_kind;
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
    return m_isLink;
}

void FindData::FetchStat() const
{
    Kind();
    if (m_statKnown)
        return;
    const EntryKind kind = m_kind;
    StatFollowing();
    m_kind = kind; // the listing decides the kind; a file gone meanwhile keeps it
}

std::int64_t FindData::Size() const
{
    if (Kind() == EntryKind::Folder)
        return 0;
    FetchStat();
    return m_size;
}

std::uint64_t FindData::CreationTime() const
{
    FetchStat();
    return m_creationTime;
}

std::uint64_t FindData::LastAccessTime() const
{
    FetchStat();
    return m_lastAccessTime;
}

std::uint64_t FindData::LastWriteTime() const
{
    FetchStat();
    return m_lastWriteTime;
}

} // namespace dv
