#include "core/filesearch/TDvFileSearch.h"

#include "core/filesearch/IDvFileSearchTarget.h"
#include "core/filesearch/MatchSingleEntry.h"
#include "core/i18n/Translation.h"
#include "core/platform/DesktopFolder.h"
#include "core/platform/FileName.h"
#include "core/platform/FindData.h"
#include "core/platform/Ticks.h"
#include "core/search/ContentTestFailure.h"
#include "core/search/PreparedVerdictScope.h"
#include "core/threads/MainThreadQueue.h"
#include "core/threads/MainThreadSlice.h"

#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string>
#include <unistd.h>

namespace dv {

namespace {

constexpr std::uint32_t kBatchIntervalMs = 400;
constexpr std::uint32_t kResortIntervalMs = 1000;
// Verdicts taken out of a full look-ahead at once: enough to make room for a good stretch of
// the walk, so that the walk does not wake for every verdict.
constexpr std::size_t kTakeBatch = ContentPipeline::kDefaultMaxQueued / 4;
// Verdicts the walk keeps for the next batch at most (a few megabytes): a batch goes to the
// list earlier when it reaches this size. Each batch costs the main thread a wake and a
// redraw of the rows, so the walk does not hand over whenever the look-ahead is full.
constexpr std::size_t kMaxJudgedHeld = 16384;
constexpr int kResortItemLimit = 10000;
constexpr unsigned kEntriesPerCheck = 64;
// Descriptors of open folders per walk: deeper than real trees go, far below the usual limit
// of 1024 even with a walk per processor. At least the root, a folder and its subfolder.
constexpr int kDefaultDescriptorBudget = 64;
constexpr int kMinDescriptorBudget = 3;

// The pending paths are records of a tag, bytes and a '\0' (which no path holds): a folder
// (its path, ending with "/"), then the names found in it. A folder's path is kept once, not
// once per entry, which keeps a batch of a large tree small; and a folder record holds only
// what differs from the folder before it: after the tag, the length of the path the two share
// (a size_t), then the rest of the path.
constexpr char kFolderRecord = 'F';
constexpr char kNameRecord = 'N';
constexpr std::size_t kPendingReserve = 4 << 20;

QString WithTrailingSeparator(const QString &pPath)
{
    return pPath.endsWith(QLatin1Char('/')) ? pPath : pPath + QLatin1Char('/');
}

// Offers one batch between BeginUpdate and EndUpdate: the list's update count is closed and the
// batch's time noted even when an Add throws (EndUpdate itself may throw on the normal path).
template <class Offer>
void OfferBatch(IDvFileSearchTarget &list, std::atomic<std::uint32_t> &lastUpdate, Offer &&offer)
{
    list.BeginUpdate();
    try {
        offer();
    } catch (...) {
        list.EndUpdate();
        lastUpdate = GetTickCount();
        throw;
    }
    list.EndUpdate();
    lastUpdate = GetTickCount();
}

// The final hand-over: a batch that fails part-way keeps the paths not yet offered, so it is
// tried again until it goes through or Done says nothing is left; the first failure is the one
// passed on. A closed main-thread queue ends it at once.
template <class Attempt, class Done> void OfferUntilDone(Attempt &&attempt, Done &&done)
{
    std::exception_ptr failure;
    for (;;) {
        try {
            attempt();
            break;
        } catch (const MainThreadQueueClosed &) {
            throw;
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
            if (done())
                break;
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

TDvFileSearch::TDvFileSearch(const TDvSearchOptions &aSearchOptions,
                             IDvFileSearchTarget *aDvFileList, const QString &aInitialPath,
                             bool pOnlyNewFiles)
    : fDvFileList(aDvFileList), fInitialPath(aInitialPath), fLastResortTickCount(GetTickCount()),
      fLastUpdateTickCount(GetTickCount()), fOnlyNewFiles(pOnlyNewFiles),
      fDescriptorBudget(kDefaultDescriptorBudget)
{
    fSearchOptions.Assign(aSearchOptions);
}

TDvFileSearch::~TDvFileSearch() = default;

void TDvFileSearch::SetTextToFind(const QString &pText)
{
    fPipeline = pText.isEmpty() ? nullptr : std::make_unique<ContentPipeline>(pText);
}

void TDvFileSearch::Terminate()
{
    TBasicWorkItem::Terminate();
    if (fPipeline)
        fPipeline->Cancel();
}

void TDvFileSearch::DoWork()
{
    // The pipeline's threads end with the walk, whichever way it ends.
    struct FinishPipeline
    {
        ContentPipeline *Pipeline;
        ~FinishPipeline()
        {
            if (Pipeline)
                Pipeline->Finish();
        }
    } finishPipeline{fPipeline.get()};
    try {
        if (fSingleEntry) {
            if (fEntries.isEmpty())
                fEntries.append(fInitialPath);
            for (const QString &entry : std::as_const(fEntries)) {
                if (IsCanceled() || !OfferSingleEntry(entry))
                    break;
                if (!fPipeline)
                    CheckFlush();
            }
        } else if (!IsCanceled()) {
            fMounts = MountTable::Load();
            // Address space only: pages are used as paths arrive, and none is copied while
            // the batch of a tree the size of an operating system's sources grows.
            if (!fPipeline)
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
    fSharedFolder.reset();
    if (fPipeline) {
        FinalFlushJudged();
        return;
    }
    fSearchComplete = true;
    OfferUntilDone([this] { HandOverPending(); }, [this] { return !HasPending() || IsCanceled(); });
}

void TDvFileSearch::SetFolderDescriptorBudget(int pBudget)
{
    fDescriptorBudget = std::max(pBudget, kMinDescriptorBudget);
}

void TDvFileSearch::SearchRoot(const QString &pFolder, bool pStayOnDrive)
{
    const QByteArray path = EncodeFileName(pFolder);
    const std::string_view shown(path.constData(), static_cast<std::size_t>(path.size()));
    UniqueFd fd(DirectoryReader::OpenFolder(path));
    if (!fd) {
        FolderNotSearched(shown, errno);
        return;
    }
    FolderIdentity identity;
    if (!DirectoryReader::Identify(fd.get(), identity)) {
        FolderNotSearched(shown, errno);
        return;
    }
    if (fMounts.IsPseudoDevice(identity.Device)) {
        FolderNotSearched(shown, Translate(QStringLiteral("Not searched: a pseudo file system")));
        return;
    }
    if (!fEntered.Insert(identity.Device, identity.Inode))
        return;
    fStayOnDrive = pStayOnDrive;
    fPath.assign(path.constData(), static_cast<std::size_t>(path.size()));
    fPendingShared = 0;
    fFrames.clear();
    Frame &root = fFrames.emplace_back();
    root.Fd = std::move(fd);
    root.Identity = identity;
    root.PathLength = fPath.size();
    fLowestOpen = 0;
    struct CloseAtEnd
    {
        TDvFileSearch &Search;
        ~CloseAtEnd() { Search.CloseFrames(); }
    } closeAtEnd{*this};

    // Depth first without recursion: the way down is fFrames, so neither the stack nor the
    // descriptors grow with the depth, and the paths of all the folders on the way share fPath.
    if (!ListTopFolder())
        return;
    while (!fFrames.empty()) {
        const Frame &top = fFrames.back();
        if (top.NextSubfolder == top.Subfolders.size()) {
            LeaveTopFolder();
            continue;
        }
        if (IsCanceled() || !EnterNextSubfolder())
            return;
    }
}

bool TDvFileSearch::EnterNextSubfolder()
{
    Frame &parent = fFrames.back();
    const auto [offset, isLink] = parent.Subfolders[parent.NextSubfolder++];
    const char *name = parent.SubfolderNames.c_str() + offset;
    UniqueFd fd(OpenInFolder(parent.Fd.get(), name, isLink));
    if (!fd) {
        // Skipped with its subtree; the search goes on.
        const int error = errno;
        FolderNotSearched(fPath + name, error);
        return true;
    }
    FolderIdentity identity;
    bool enter = DirectoryReader::Identify(fd.get(), identity);
    if (enter) {
        const bool otherMount =
            identity.IsMountRoot ||
            (identity.Device != parent.Identity.Device && fMounts.HasDevice(identity.Device));
        enter = !(otherMount && (fStayOnDrive || fMounts.IsPseudoDevice(identity.Device)));
    }
    // An ancestor (a loop), or a folder already walked under another path through a link.
    if (enter)
        enter = fEntered.Insert(identity.Device, identity.Inode);
    if (!enter)
        return true;
    const std::size_t nameLength = std::strlen(name);
    fPath.append(name, nameLength).push_back('/');
    Frame &child = fFrames.emplace_back(); // parent is not used from here on
    child.Fd = std::move(fd);
    child.Identity = identity;
    child.PathLength = fPath.size();
    child.ThroughLink = isLink;
    if (OpenDescriptors() > fDescriptorBudget)
        ReleaseDescriptor();
    return ListTopFolder();
}

bool TDvFileSearch::ListTopFolder()
{
    Frame &frame = fFrames.back();
    frame.Serial = ++fFolderSerial;
    const int folderFd = frame.Fd.get();
    const QByteArrayView folder(fPath.data(), static_cast<qsizetype>(fPath.size()));
    const bool recursive = fSearchOptions.RecursiveSearch();
    const bool includeHidden = fSearchOptions.IncludeHidden();

    // Watched before it is listed: whatever changes in it after the listing is reported.
    if (fFolderWatch)
        fFolderWatch(folderFd, folder, frame.Identity, fFrames.size() == 1);
    DirectoryReader::Entry entry;
    fReader.Start(folderFd);
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
                return false;
            CheckFlush();
        }
        FindData data(folderFd, entry.Name, entry.Length, entry.Type);
        if (data.IsDotOrDotDot())
            continue;
        const bool matches = fSearchOptions.MatchesInFolder(data, folder);
        if (matches && fPipeline) {
            if (!QueueCandidate(entry.Length, entry.Name, data.IsDirectory()))
                return false;
        } else if (matches) {
            if (!pending.owns_lock())
                pending.lock();
            AppendPending(frame.Serial, entry.Name, entry.Length, data.IsDirectory());
        }
        if (recursive && data.IsDirectory() && (!data.IsHidden() || includeHidden)) {
            frame.Subfolders.emplace_back(frame.SubfolderNames.size(), data.IsSymbolicLink());
            frame.SubfolderNames.append(entry.Name, entry.Length);
            frame.SubfolderNames.push_back('\0');
        }
    }
    if (pending.owns_lock())
        pending.unlock();
    if (IsCanceled())
        return false;
    CheckFlush();
    return true;
}

void TDvFileSearch::AppendPending(std::uint64_t pFolderSerial, const char *pName,
                                  std::size_t pNameLength, bool pIsFolder)
{
    if (fPendingFolder != pFolderSerial) {
        // Only what differs from the folder of the record before is kept; a deep tree would
        // otherwise keep its long paths once per folder.
        const std::size_t shared = fPendingFolder == 0 ? 0 : fPendingShared;
        fItemsToAdd.push_back(kFolderRecord);
        fItemsToAdd.append(reinterpret_cast<const char *>(&shared), sizeof shared);
        fItemsToAdd.append(fPath, shared);
        fItemsToAdd.push_back('\0');
        fPendingFolder = pFolderSerial;
        fPendingShared = fPath.size();
    }
    fItemsToAdd.push_back(kNameRecord);
    fItemsToAdd.append(pName, pNameLength);
    if (pIsFolder)
        fItemsToAdd.push_back('/');
    fItemsToAdd.push_back('\0');
}

bool TDvFileSearch::OfferSingleEntry(const QString &pPath)
{
    const QByteArray path = EncodeFileName(pPath);
    const SingleEntryMatch match = MatchSingleEntry(fSearchOptions, path);
    if (!match.Matches)
        return true;
    fPath.assign(path.constData(), match.FolderLength);
    fPendingShared = 0;
    const char *name = path.constData() + match.FolderLength;
    const std::size_t nameLength = static_cast<std::size_t>(path.size()) - match.FolderLength;
    if (fPipeline)
        return QueueCandidate(nameLength, name, match.IsFolder);
    const std::lock_guard<std::mutex> pending(fItemsToAddLock);
    AppendPending(++fFolderSerial, name, nameLength, match.IsFolder);
    return true;
}

void TDvFileSearch::FolderNotSearched(std::string_view pPath, int pErrorNumber)
{
    if (pErrorNumber != ENOENT && pErrorNumber != ENOTDIR)
        FolderNotSearched(pPath, ContentTestError::CannotOpen(pErrorNumber).Reason);
}

void TDvFileSearch::FolderNotSearched(std::string_view pPath, const QString &pReason)
{
    // The refresh's own walks after a search have nobody to tell.
    if (fOnlyNewFiles || IsCanceled())
        return;
    if (pPath.size() > 1 && pPath.back() == '/')
        pPath.remove_suffix(1);
    const QString path = DecodeFileName(pPath.data(), pPath.size());
    MainThreadQueue::RunBlocking([&] { fDvFileList->FolderNotSearched(path, pReason); });
}

void TDvFileSearch::LeaveTopFolder()
{
    UniqueFd childFd = std::move(fFrames.back().Fd);
    const bool childThroughLink = fFrames.back().ThroughLink;
    fFrames.pop_back();
    if (fFrames.empty())
        return;
    const std::size_t top = fFrames.size() - 1;
    fPath.resize(fFrames[top].PathLength);
    fPendingShared = std::min(fPendingShared, fPath.size());
    fLowestOpen = std::min(fLowestOpen, top + 1);
    Frame &parent = fFrames[top];
    if (parent.Fd)
        return;
    // The parent's descriptor was given back on the way down. Its child knows it as "..",
    // unless the child was reached through a link or the tree has changed meanwhile.
    if (childFd && !childThroughLink) {
        UniqueFd fd(OpenInFolder(childFd.get(), "..", false));
        FolderIdentity identity;
        if (fd && DirectoryReader::Identify(fd.get(), identity) &&
            identity.Device == parent.Identity.Device && identity.Inode == parent.Identity.Inode) {
            parent.Fd = std::move(fd);
            fLowestOpen = top;
        }
    }
    childFd.reset(); // before reopening: the budget counts it no more
    if (!parent.Fd && parent.NextSubfolder < parent.Subfolders.size() && !ReopenTopFromRoot())
        parent.NextSubfolder = parent.Subfolders.size(); // gone or replaced: nothing more below
}

bool TDvFileSearch::ReopenTopFromRoot()
{
    // Every folder between the root and the top is closed. Reopen them name by name, each
    // with the same link rule as when it was entered and checked to be the same folder, and
    // keep the deepest ones open: the way back up passes them next.
    const std::size_t top = fFrames.size() - 1;
    const std::size_t keep = static_cast<std::size_t>(fDescriptorBudget - 2);
    std::size_t lowestKept = top + 1 > keep ? std::max<std::size_t>(top + 1 - keep, 1) : 1;
    int fd = fFrames[0].Fd.get();
    UniqueFd passing; // the folder on the way when its frame does not keep it
    std::string name;
    for (std::size_t i = 1; i <= top; ++i) {
        Frame &frame = fFrames[i];
        const std::size_t from = fFrames[i - 1].PathLength;
        name.assign(fPath, from, frame.PathLength - 1 - from);
        UniqueFd next;
        for (;;) {
            next.reset(DirectoryReader::OpenSubfolder(fd, name.c_str(), frame.ThroughLink));
            if (next || (errno != EMFILE && errno != ENFILE) || lowestKept + 1 >= i)
                break;
            // Short of descriptors: keep fewer of the folders on the way.
            fFrames[lowestKept].Fd.reset();
            ++lowestKept;
        }
        passing.reset();
        FolderIdentity identity;
        if (next &&
            (!DirectoryReader::Identify(next.get(), identity) ||
             identity.Device != frame.Identity.Device || identity.Inode != frame.Identity.Inode))
            next.reset();
        if (!next) {
            for (std::size_t k = lowestKept; k < i; ++k)
                fFrames[k].Fd.reset();
            fLowestOpen = top + 1;
            return false;
        }
        fd = next.get();
        if (i >= lowestKept)
            frame.Fd = std::move(next);
        else
            passing = std::move(next);
    }
    fLowestOpen = std::min(lowestKept, top);
    return true;
}

int TDvFileSearch::OpenInFolder(int pParentFd, const char *pName, bool pFollowLink)
{
    for (;;) {
        const int fd = DirectoryReader::OpenSubfolder(pParentFd, pName, pFollowLink);
        if (fd >= 0 || (errno != EMFILE && errno != ENFILE))
            return fd;
        // The process is out of descriptors: what the walk holds beyond the root and the top
        // can be reopened later, and the budget shrinks to what the process allows.
        if (!ReleaseDescriptor())
            return fd;
        fDescriptorBudget = std::max(OpenDescriptors(), kMinDescriptorBudget);
    }
}

bool TDvFileSearch::ReleaseDescriptor()
{
    const std::size_t top = fFrames.size() - 1;
    const std::size_t lowest = std::max<std::size_t>(fLowestOpen, 1);
    if (lowest >= top)
        return false;
    fFrames[lowest].Fd.reset();
    fLowestOpen = lowest + 1;
    return true;
}

int TDvFileSearch::OpenDescriptors() const
{
    const std::size_t top = fFrames.size() - 1;
    const std::size_t lowest = std::max<std::size_t>(fLowestOpen, 1);
    return 1 + static_cast<int>(top >= lowest ? top - lowest + 1 : 0);
}

void TDvFileSearch::CloseFrames()
{
    fFrames.clear(); // each frame closes its folder
}

bool TDvFileSearch::QueueCandidate(std::size_t pNameLength, const char *pName, bool pIsFolder)
{
    fCandidate.assign(fPath).append(pName, pNameLength);
    if (pIsFolder)
        fCandidate.push_back('/');
    // The file is opened relative to its folder when the walk has it open; a single entry
    // has no open folder and is opened by its whole path.
    if (fFrames.empty()) {
        fSharedFolder = {};
        fSharedFolderSerial = 0;
    } else if (fSharedFolderSerial != fFrames.back().Serial) {
        fSharedFolder = fPipeline->ShareFolder(fFrames.back().Fd.get());
        fSharedFolderSerial = fFrames.back().Serial;
    }
    // Full: what is judged at the front makes room and waits here for the next batch, in
    // steps of a good part of the look-ahead (or what there is once a batch is due).
    while (!fPipeline->Queue(fCandidate, fSharedFolder, fPath.size())) {
        if (IsCanceled() || fPipeline->IsCancelled())
            return false;
        const bool ready = fPipeline->WaitForReady(100, kTakeBatch);
        const bool batchDue = GetTickCount() - fLastUpdateTickCount.load() > kBatchIntervalMs;
        if (ready || batchDue)
            fPipeline->TakeReady(fJudged);
        if (!fJudged.empty() && (batchDue || fJudged.size() >= kMaxJudgedHeld))
            HandOverJudged();
        else if (!ready && !fPipeline->IsReady())
            NoteAwaitedPath();
    }
    return true;
}

void TDvFileSearch::HandOverJudged()
{
    fPipeline->TakeReady(fJudged);
    if (!fJudged.empty())
        HandOverJudgedInSlices();
}

void TDvFileSearch::NoteAwaitedPath()
{
    QString path = fPipeline->AwaitedPath();
    if (path.isEmpty() || path == fAwaitedPath)
        return;
    fAwaitedPath = path;
    if (!fJudged.empty())
        HandOverJudgedInSlices();
    MainThreadQueue::RunBlocking([this] {
        if (!IsCanceled())
            fDvFileList->AwaitingVerdict(fAwaitedPath);
    });
}

void TDvFileSearch::FlushJudged()
{
    if (IsCanceled())
        return;
    // The rows of a refresh go in slices: what is left waits for the next call.
    const MainThreadSlice slice;
    OfferBatch(*fDvFileList, fLastUpdateTickCount, [&] {
        while (!fJudged.empty()) {
            // Each path leaves the list of judged ones before it is offered, so a path whose
            // Add fails is not offered again by the final batch.
            const ContentPipeline::Judged judged = std::move(fJudged.front());
            fJudged.pop_front();
            const QByteArrayView bytes(judged.Bytes.data(),
                                       static_cast<qsizetype>(judged.Bytes.size()));
            const PreparedVerdictScope prepared(judged.Path, bytes, fPipeline->TextToFind(),
                                                judged.Verdict);
            fWereItemsAddedSinceLastSort = true;
            if (!fOnlyNewFiles && !judged.Path.isEmpty()) {
                // The content test needed the text of the path: it is not made again here.
                fDvFileList->AddPath(judged.Path);
            } else if (!fOnlyNewFiles) {
                fDvFileList->AddEncodedPath(bytes);
            } else {
                fDvFileList->AddNewPath(judged.Path);
                if (slice.Spent())
                    break;
            }
        }
    });
    if (fJudged.empty())
        ResortIfNeeded();
}

void TDvFileSearch::HandOverJudgedInSlices()
{
    do
        MainThreadQueue::RunBlocking([this] { FlushJudged(); });
    while (!fJudged.empty() && !IsCanceled());
}

void TDvFileSearch::FinalFlushJudged()
{
    // As the walk's batches: the verdicts still being judged go in batches, then the last
    // one, which also sorts; the search is complete after them, whatever they do.
    const auto complete = qScopeGuard([this] { fSearchComplete = true; });
    OfferUntilDone(
        [this] {
            while (!IsCanceled() && !fPipeline->IsEmpty()) {
                if (fPipeline->WaitForReady(100))
                    fPipeline->TakeReady(fJudged);
                else
                    NoteAwaitedPath();
                if (!fJudged.empty() &&
                    GetTickCount() - fLastUpdateTickCount.load() > kBatchIntervalMs)
                    HandOverJudgedInSlices();
            }
            fSearchComplete = true;
            HandOverJudgedInSlices();
        },
        [this] { return IsCanceled() || (fJudged.empty() && fPipeline->IsEmpty()); });
}

void TDvFileSearch::CheckFlush()
{
    if (fPipeline) {
        if (GetTickCount() - fLastUpdateTickCount.load(std::memory_order_relaxed) <=
            kBatchIntervalMs)
            return;
        if (!fJudged.empty() || fPipeline->IsReady())
            HandOverJudged();
        return;
    }
    if (!HasPending())
        return;
    if (GetTickCount() - fLastUpdateTickCount.load(std::memory_order_relaxed) <= kBatchIntervalMs)
        return;
    HandOverPending();
}

void TDvFileSearch::HandOverPending()
{
    do
        MainThreadQueue::RunBlocking([this] { FlushItemsToAdd(); });
    while (HasPending() && !IsCanceled());
}

void TDvFileSearch::FlushItemsToAdd()
{
    if (IsCanceled())
        return;
    {
        std::lock_guard<std::mutex> lock(fItemsToAddLock);
        OfferBatch(*fDvFileList, fLastUpdateTickCount, [&] {
            // Each path leaves the pending list before it is offered, so a path whose Add
            // fails is not offered again by the final batch, nor are those before it.
            std::size_t start = 0; // where the records not yet offered begin
            std::string path;      // the folder of the latest folder record, then a name
            std::size_t folderLength = 0;
            QString text;
            // The rows of a refresh go in slices: what is left waits for the next call.
            const MainThreadSlice slice;
            // The records left keep their folder in front of them.
            auto keepRest = [&] {
                if (start < fItemsToAdd.size()) {
                    std::string folder(1, kFolderRecord);
                    const std::size_t shared = 0;
                    folder.append(reinterpret_cast<const char *>(&shared), sizeof shared);
                    folder.append(path, 0, folderLength).push_back('\0');
                    fItemsToAdd.replace(0, start, folder);
                } else {
                    fItemsToAdd.clear();
                    fPendingFolder = 0;
                }
            };
            try {
                while (start < fItemsToAdd.size()) {
                    const char tag = fItemsToAdd[start];
                    if (tag == kFolderRecord) {
                        std::size_t shared;
                        std::memcpy(&shared, fItemsToAdd.data() + start + 1, sizeof shared);
                        const char *rest = fItemsToAdd.data() + start + 1 + sizeof shared;
                        const std::size_t length = std::strlen(rest);
                        start += 1 + sizeof shared + length + 1;
                        path.resize(shared);
                        path.append(rest, length);
                        folderLength = path.size();
                        continue;
                    }
                    const char *bytes = fItemsToAdd.data() + start + 1;
                    const std::size_t length = std::strlen(bytes);
                    start += length + 2;
                    path.resize(folderLength);
                    path.append(bytes, length);
                    const QByteArrayView found(path.data(), static_cast<qsizetype>(path.size()));
                    if (fOnlyNewFiles) {
                        text.resize(0);
                        AppendDecodedFileName(text, path.data(), path.size());
                        if (fDvFileList->AddNewPath(text))
                            fWereItemsAddedSinceLastSort = true;
                        if (slice.Spent()) {
                            keepRest();
                            return;
                        }
                        continue;
                    }
                    fWereItemsAddedSinceLastSort = true;
                    fDvFileList->AddEncodedPath(found);
                }
            } catch (...) {
                keepRest();
                throw;
            }
            fItemsToAdd.clear();
            fPendingFolder = 0;
        });
    }
    // Sorted once the last slice is in.
    if (!HasPending())
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
