#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace dv {

constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;

// What a directory entry is for the search: a file (a regular file or a link to one), a
// folder (or a link to one), or something that is never a candidate (FIFO, socket, device,
// dangling link).
enum class EntryKind
{
    File,
    Folder,
    Other
};

// One directory entry as the search judges it: name, hidden and folder attributes, size and
// the three file times. An entry read from a folder takes its kind from the listing and asks
// the file system for size and times only when they are first read.
class FindData
{
public:
    // An entry of the open folder pFolderFd; pName must outlive the object.
    FindData(int pFolderFd, const char *pName, std::size_t pNameLength, unsigned char pDirentType);
    // An entry given by its values (no file behind it).
    FindData(const QByteArray &pName, std::uint32_t pAttributes, std::int64_t pSize = 0,
             std::uint64_t pCreationTime = 0, std::uint64_t pLastAccessTime = 0,
             std::uint64_t pLastWriteTime = 0);

    FindData(const FindData &) = delete;
    FindData &operator=(const FindData &) = delete;

    const char *Name() const { return m_name; }
    std::size_t NameLength() const { return m_nameLength; }
    bool IsDotOrDotDot() const;

    EntryKind Kind() const;
    // FILE_ATTRIBUTE_HIDDEN when the name starts with "."; FILE_ATTRIBUTE_DIRECTORY for folders.
    std::uint32_t Attributes() const;
    bool IsDirectory() const { return Kind() == EntryKind::Folder; }
    bool IsHidden() const { return m_nameLength > 0 && m_name[0] == '.'; }
    // True for a symbolic link (to a folder or a file).
    bool IsSymbolicLink() const;

    // Size in bytes; 0 for a folder.
    std::int64_t Size() const;
    // UTC file times. Creation is the birth time, or the last write where none is kept.
    std::uint64_t CreationTime() const;
    std::uint64_t LastAccessTime() const;
    std::uint64_t LastWriteTime() const;

private:
    void ResolveKind() const;
    void FetchStat() const;
    bool StatFollowing() const;

    int m_folderFd = -1;
    const char *m_name = nullptr;
    std::size_t m_nameLength = 0;
    QByteArray m_ownedName;
    unsigned char m_direntType = 0;

    mutable EntryKind m_kind = EntryKind::Other;
    mutable bool m_kindKnown = false;
    mutable bool m_statKnown = false;
    mutable bool m_isLink = false;
    mutable std::int64_t m_size = 0;
    mutable std::uint64_t m_creationTime = 0;
    mutable std::uint64_t m_lastAccessTime = 0;
    mutable std::uint64_t m_lastWriteTime = 0;
};

} // namespace dv
