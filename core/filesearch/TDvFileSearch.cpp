#include "core/filesearch/TDvFileSearch.h"

#include "core/filesearch/IDvFileSearchTarget.h"
#include "core/platform/DesktopFolder.h"
#include "core/platform/FileName.h"
#include "core/platform/TDvFindData.h"
#include "core/platform/Ticks.h"
#include "core/threads/MainThreadQueue.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <unistd.h>

namespace dv {

namespace {

constexpr std::uint32_t kBatchIntervalMs = 400;
constexpr std::uint32_t kResortIntervalMs = 1000;
constexpr int kResortItemLimit = 10000;
constexpr unsigned kEntriesPerCheck = 64;

// The pending paths are records of a tag, bytes and a '\0' (which no path holds): a folder
// (its path, ending with "/"), then the names found in it. A folder's path is kept once, not
// once per entry, which keeps a batch of a large tree small.
constexpr char kFolderRecord = 'F';
constexpr char kNameRecord = 'N';
constexpr std::size_t kPendingReserve = 4 << 20;

QString WithTrailingSeparator(const QString &pPath)
{
    return pPath.endsWith(QLatin1Char('/')) ? pPath : pPath + QLatin1Char('/');
}

// Closes a descriptor at the end of a scope.
class FdCloser
{
public:
    explicit FdCloser(int pFd) : fFd(pFd) {}
    ~FdCloser()
    {
        if (fFd >= 0)
            close(fFd);
    }
    FdCloser(const FdCloser &) = delete;
    FdCloser &operator=(const FdCloser &) = delete;

private:
    int fFd;
};

} // namespace

TDvFileSearch::TDvFileSearch(const TDvSearchOptions &aSearchOptions,
                             IDvFileSearchTarget *aDvFileList, const QString &aInitialPath,
                             bool pOnlyNewFiles)
    : fDvFileList(aDvFileList), fInitialPath(aInitialPath), fLastResortTickCount(GetTickCount()),
      fLastUpdateTickCount(GetTickCount()), fOnlyNewFiles(pOnlyNewFiles)
{
    fSearchOptions.Assign(aSearchOptions);
}

TDvFileSearch::~TDvFileSearch() = default;

void TDvFileSearch::DoWork()
{
    try {
        if (!IsCanceled()) {
            fMounts = TDvMountTable::Load();
            // Address space only: pages are used as paths arrive, and none is copied while
            // the batch of a tree the size of an operating system's sources grows.
            fItemsToAdd.reserve(kPendingReserve);
            if (!fInitialPath.isEmpty()) {
                SearchRoot(WithTrailingSeparator(fInitialPath), false);
            } else if (fSearchOptions.RecursiveSearch()) {
                for (const QString &drive : fMounts.ReadyDrives()) {
                    if (IsCanceled())
                        break;
                    SearchRoot(drive, true);
                }
            } else {
                SearchRoot(WithTrailingSeparator(DesktopFolder()), false);
            }
        }
    } catch (...) {
        // What is pending still goes to the list; the first failure is the one reported.
        const std::exception_ptr failure = std::current_exception();
        try {
            FinalFlush();
        } catch (...) {
        }
        std::rethrow_exception(failure);
    }
    FinalFlush();
}

void TDvFileSearch::FinalFlush()
{
    fSearchComplete = true;
    // A batch that fails part-way keeps the paths not yet offered; they are offered still,
    // and the first failure is the one passed on.
    std::exception_ptr failure;
    for (;;) {
        try {
            MainThreadQueue::RunBlocking([this] { FlushItemsToAdd(); });
            break;
        } catch (const TMainThreadQueueClosed &) {
            throw;
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
            if (!HasPending() || IsCanceled())
                break;
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TDvFileSearch::SearchRoot(const QString &pFolder, bool pStayOnDrive)
{
    const int fd = TDvDirectoryReader::OpenFolder(EncodeFileName(pFolder));
    if (fd < 0)
        return;
    FdCloser closer(fd);
    TDvFolderIdentity identity;
    if (!TDvDirectoryReader::Identify(fd, identity) || fMounts.IsPseudoDevice(identity.Device))
        return;
    fStayOnDrive = pStayOnDrive;
    fAncestors.clear();
    SearchFolder(fd, EncodeFileName(pFolder), identity);
}

void TDvFileSearch::SearchFolder(int pFolderFd, const QByteArray &pFolder,
                                 const TDvFolderIdentity &pIdentity)
{
    fAncestors.push_back(pIdentity);
    struct PopAncestor
    {
        std::vector<TDvFolderIdentity> &Stack;
        ~PopAncestor() { Stack.pop_back(); }
    } popAncestor{fAncestors};

    const bool recursive = fSearchOptions.RecursiveSearch();
    const bool includeHidden = fSearchOptions.IncludeHidden();
    const std::uint64_t folderSerial = ++fFolderSerial;

    // Subfolders to enter after this folder's own entries: names packed in one string.
    std::string subfolderNames;
    std::vector<std::pair<std::size_t, bool>> subfolders; // name offset, is a link

    TDvDirectoryReader::Entry entry;
    fReader.Start(pFolderFd);
    // The pending list stays locked while this folder's entries are judged; the lock is let
    // go before a batch can be handed over, which takes it on the main thread.
    std::unique_lock<std::mutex> pending(fItemsToAddLock, std::defer_lock);
    // Asking for a cancel or for the time costs more than judging an entry: every few entries.
    unsigned sinceCheck = 0;
    while (fReader.Next(entry)) {
        if (++sinceCheck == kEntriesPerCheck) {
            sinceCheck = 0;
            if (pending.owns_lock())
                pending.unlock();
            if (IsCanceled())
                return;
            CheckFlush();
        }
        TDvFindData data(pFolderFd, entry.Name, entry.Length, entry.Type);
        if (!data.IsDotOrDotDot()) {
            if (fSearchOptions.MatchesInFolder(data, pFolder)) {
                if (!pending.owns_lock())
                    pending.lock();
                if (fPendingFolder != folderSerial) {
                    fItemsToAdd.push_back(kFolderRecord);
                    fItemsToAdd.append(pFolder.constData(),
                                       static_cast<std::size_t>(pFolder.size()));
                    fItemsToAdd.push_back('\0');
                    fPendingFolder = folderSerial;
                }
                fItemsToAdd.push_back(kNameRecord);
                fItemsToAdd.append(entry.Name, entry.Length);
                if (data.IsDirectory())
                    fItemsToAdd.push_back('/');
                fItemsToAdd.push_back('\0');
            }
            if (recursive && data.IsDirectory() && (!data.IsHidden() || includeHidden)) {
                subfolders.emplace_back(subfolderNames.size(), data.IsSymbolicLink());
                subfolderNames.append(entry.Name, entry.Length);
                subfolderNames.push_back('\0');
            }
        }
    }
    if (pending.owns_lock())
        pending.unlock();
    if (IsCanceled())
        return;
    CheckFlush();

    for (const auto &[offset, isLink] : subfolders) {
        if (IsCanceled())
            return;
        const char *name = subfolderNames.c_str() + offset;
        const int fd = TDvDirectoryReader::OpenSubfolder(pFolderFd, name, isLink);
        if (fd < 0)
            continue; // unreadable or gone: skipped with its subtree
        FdCloser closer(fd);
        TDvFolderIdentity identity;
        if (!TDvDirectoryReader::Identify(fd, identity))
            continue;
        const bool otherMount = identity.IsMountRoot || (identity.Device != pIdentity.Device &&
                                                         fMounts.HasDevice(identity.Device));
        if (otherMount && (fStayOnDrive || fMounts.IsPseudoDevice(identity.Device)))
            continue;
        const bool isAncestor =
            std::any_of(fAncestors.begin(), fAncestors.end(), [&](const TDvFolderIdentity &a) {
                return a.Device == identity.Device && a.Inode == identity.Inode;
            });
        if (isAncestor)
            continue;
        QByteArray child;
        const std::size_t nameLength = std::strlen(name);
        child.reserve(pFolder.size() + static_cast<qsizetype>(nameLength) + 1);
        child.append(pFolder).append(name, static_cast<qsizetype>(nameLength)).append('/');
        SearchFolder(fd, child, identity);
    }
}

void TDvFileSearch::CheckFlush()
{
    if (!HasPending())
        return;
    if (GetTickCount() - fLastUpdateTickCount.load(std::memory_order_relaxed) <= kBatchIntervalMs)
        return;
    MainThreadQueue::RunBlocking([this] { FlushItemsToAdd(); });
}

void TDvFileSearch::FlushItemsToAdd()
{
    if (IsCanceled())
        return;
    {
        std::lock_guard<std::mutex> lock(fItemsToAddLock);
        fDvFileList->BeginUpdate();
        try {
            // Each path leaves the pending list before it is offered, so a path whose Add
            // fails is not offered again by the final batch, nor are those before it.
            std::size_t start = 0; // where the records not yet offered begin
            std::string path;      // the folder of the latest folder record, then a name
            std::size_t folderLength = 0;
            QString text;
            try {
                while (start < fItemsToAdd.size()) {
                    const char tag = fItemsToAdd[start];
                    const char *bytes = fItemsToAdd.data() + start + 1;
                    const std::size_t length = std::strlen(bytes);
                    start += length + 2;
                    if (tag == kFolderRecord) {
                        path.assign(bytes, length);
                        folderLength = length;
                        continue;
                    }
                    path.resize(folderLength);
                    path.append(bytes, length);
                    const QByteArrayView found(path.data(), static_cast<qsizetype>(path.size()));
                    if (fOnlyNewFiles) {
                        text.resize(0);
                        AppendDecodedFileName(text, path.data(), path.size());
                        if (fDvFileList->IsItemInList(text))
                            continue;
                        fWereItemsAddedSinceLastSort = true;
                        fDvFileList->AddPath(text);
                        continue;
                    }
                    fWereItemsAddedSinceLastSort = true;
                    fDvFileList->AddEncodedPath(found);
                }
            } catch (...) {
                // The records left keep their folder in front of them.
                if (start < fItemsToAdd.size()) {
                    std::string folder(1, kFolderRecord);
                    folder.append(path, 0, folderLength).push_back('\0');
                    fItemsToAdd.replace(0, start, folder);
                } else {
                    fItemsToAdd.clear();
                    fPendingFolder = 0;
                }
                throw;
            }
            fItemsToAdd.clear();
            fPendingFolder = 0;
        } catch (...) {
            fDvFileList->EndUpdate();
            fLastUpdateTickCount = GetTickCount();
            throw;
        }
        fDvFileList->EndUpdate();
    }
    fLastUpdateTickCount = GetTickCount();
    ResortIfNeeded();
}

void TDvFileSearch::ResortIfNeeded()
{
    if (!fWereItemsAddedSinceLastSort)
        return;
    if (!fSearchComplete) {
        if (GetTickCount() - fLastResortTickCount <= kResortIntervalMs ||
            fDvFileList->ItemCount() >= kResortItemLimit)
            return;
    }
    fDvFileList->Sort();
    fLastResortTickCount = GetTickCount();
    fWereItemsAddedSinceLastSort = false;
}

} // namespace dv
