#pragma once

#include "core/filesearch/TDvSearchOptions.h"
#include "core/filesearch/TDvShellChangeNotifier.h"
#include "core/platform/DirectoryReader.h"
#include "core/platform/FolderIdentitySet.h"
#include "core/platform/MountTable.h"
#include "core/platform/UniqueFd.h"
#include "core/search/ContentPipeline.h"
#include "core/threads/TBasicWorkItem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace dv {

class IDvFileSearchTarget;

// The background enumeration of one search root: walks it depth first on a worker thread,
// judges every entry with its own copy of the criteria and hands the matching paths to the
// list on the main thread in batches (at most one per 400 ms, plus a final one).
//
// With a text to find, the content test runs ahead on a ContentPipeline: a path reaches the
// list only once its verdict is ready, in the order found, and the list's test takes that
// verdict (PreparedVerdictScope). The main thread never waits for a file to be judged.
//
// An empty root means every ready drive (recursive search) or the top level of the desktop
// folder. A root taken as a single entry (SetSingleEntry) is not walked: the enumeration
// offers that one entry, judged as a walk of its folder would judge it (MatchSingleEntry),
// through the same look-ahead and hand-over. Folders are opened relative to their parent, so depth
// is not limited by PATH_MAX. Each folder (device, inode) is entered once per walk, so a link to a
// folder is entered only when the folder has not been walked yet (never a link back to an
// ancestor), and no file is listed twice. No walk enters a pseudo file system, and a walk of a
// drive stays on that drive. The walk holds a bounded number of descriptors, however deep the tree.
class TDvFileSearch : public TBasicWorkItem
{
public:
    // Copies aSearchOptions; aDvFileList must outlive the enumeration (the list's Stop and
    // destructor end the pool first).
    TDvFileSearch(const TDvSearchOptions &aSearchOptions, IDvFileSearchTarget *aDvFileList,
                  const QString &aInitialPath, bool pOnlyNewFiles);
    ~TDvFileSearch() override;

    // Walks the root; on a worker thread of the list's pool.
    void DoWork() override;
    // Also drops the candidates judged ahead, at once.
    void Terminate() override;

    // The text the candidates are judged ahead for; empty (the default): none, every
    // candidate goes to the list as found. Before the enumeration is queued.
    void SetTextToFind(const QString &pText);

    // Takes the root as one entry (a file, or a folder as the entry of its parent) instead of
    // walking it. Before the enumeration is queued.
    void SetSingleEntry(bool pValue) { fSingleEntry = pValue; }
    bool SingleEntry() const { return fSingleEntry; }
    // Takes these paths as single entries, one after the other, instead of the root.
    void SetEntries(QStringList pPaths)
    {
        fEntries = std::move(pPaths);
        fSingleEntry = true;
    }

    // Called with each folder just before it is listed (on the walk's thread).
    void SetFolderWatch(TDvShellChangeNotifier::TFolderWatch pValue)
    {
        fFolderWatch = std::move(pValue);
    }

    const QString &InitialPath() const { return fInitialPath; }
    bool OnlyNewFiles() const { return fOnlyNewFiles; }
    bool SearchComplete() const { return fSearchComplete.load(); }

    // How many folder descriptors the walk keeps open at most (at least 3; 64 by default).
    // Deeper folders are reopened from an ancestor when the walk comes back to them.
    void SetFolderDescriptorBudget(int pBudget);

private:
    // A folder on the way from the root to the folder being walked.
    struct Frame
    {
        UniqueFd Fd; // empty while closed to stay within the descriptor budget
        FolderIdentity Identity;
        std::size_t PathLength = 0; // its path (ending with "/") is this much of fPath
        bool ThroughLink = false;   // entered through a symbolic link
        std::uint64_t Serial = 0;
        std::string SubfolderNames; // subfolders to enter, each name followed by '\0'
        std::vector<std::pair<std::size_t, bool>> Subfolders; // name offset, is a link
        std::size_t NextSubfolder = 0;
    };

    void SearchRoot(const QString &pFolder, bool pStayOnDrive);
    // Judges the entries of the folder on top and keeps its subfolders; false when cancelled.
    bool ListTopFolder();
    // Enters and lists the next subfolder of the top folder when it is to be walked; false
    // when cancelled.
    bool EnterNextSubfolder();
    // Goes back from the top folder to its parent, reopening the parent if it was closed.
    void LeaveTopFolder();
    // Reopens the top folder from the root, name by name; false when it is no longer there.
    bool ReopenTopFromRoot();
    // Opens pName in pParentFd; short of descriptors, gives back those of ancestors first.
    int OpenInFolder(int pParentFd, const char *pName, bool pFollowLink);
    // Closes the descriptor of the shallowest open folder below the top; false if none.
    bool ReleaseDescriptor();
    int OpenDescriptors() const;
    void CloseFrames();

    // Offers pPath as one entry when the criteria take it; false when cancelled.
    bool OfferSingleEntry(const QString &pPath);
    // Tells the list of a folder that cannot be searched (pPath: its bytes), with why; a
    // folder that vanished meanwhile (pErrorNumber ENOENT or ENOTDIR) is not worth a word.
    void FolderNotSearched(std::string_view pPath, int pErrorNumber);
    void FolderNotSearched(std::string_view pPath, const QString &pReason);
    // Keeps a matching entry of the folder fPath (numbered pFolderSerial) for the next batch;
    // fItemsToAddLock is held.
    void AppendPending(std::uint64_t pFolderSerial, const char *pName, std::size_t pNameLength,
                       bool pIsFolder);
    // Hands the candidate to the pipeline, first handing judged ones over while it is full;
    // false when cancelled.
    bool QueueCandidate(std::size_t pNameLength, const char *pName, bool pIsFolder);
    // Takes the judged candidates at the front of the pipeline and hands them to the list.
    void HandOverJudged();
    // The verdict at the front keeps the hand-over waiting: what is judged behind it goes to
    // the list, and the list is told which file it waits for (once per file).
    void NoteAwaitedPath();
    // On the main thread: offers the judged candidates to the list.
    void FlushJudged();
    // Hands the judged candidates over, as many calls on the main thread as their slices take.
    void HandOverJudgedInSlices();
    void FinalFlushJudged();

    bool HasPending() const { return !fItemsToAdd.empty(); }
    void CheckFlush();
    // On the main thread: offers the pending paths to the list; a refresh's only as many as
    // one slice of the main thread's time takes.
    void FlushItemsToAdd();
    // Hands the pending paths over, as many calls on the main thread as their slices take.
    void HandOverPending();
    void ResortIfNeeded();
    void FinalFlush();

    TDvSearchOptions fSearchOptions;
    // Found paths not yet handed over, in the order found: folder records, each followed by
    // the names found in that folder. Offered to the list as bytes while a batch is handed over.
    std::string fItemsToAdd;
    // The folder (by its serial) of the last folder record in fItemsToAdd; 0 for none.
    std::uint64_t fPendingFolder = 0;
    // How much of fPath still equals the path of that record's folder (worker thread only).
    std::size_t fPendingShared = 0;
    std::mutex fItemsToAddLock;
    IDvFileSearchTarget *fDvFileList;
    QString fInitialPath;
    bool fWereItemsAddedSinceLastSort = false;
    std::uint32_t fLastResortTickCount;
    std::atomic<std::uint32_t> fLastUpdateTickCount;
    std::atomic<bool> fSearchComplete{false};
    bool fOnlyNewFiles;
    bool fSingleEntry = false;
    QStringList fEntries;
    TDvShellChangeNotifier::TFolderWatch fFolderWatch;
    // Set before the walk starts, and only then; Terminate may cancel it from any thread.
    std::unique_ptr<ContentPipeline> fPipeline;
    std::deque<ContentPipeline::Judged> fJudged; // taken from the pipeline, not yet offered
    QString fAwaitedPath;                        // the list was last told of this one
    std::string fCandidate;                      // the path being queued
    // The folder the last candidate was queued from, shared with the pipeline (after it, so
    // that it goes first), and that folder's serial.
    ContentPipeline::FolderHandle fSharedFolder;
    std::uint64_t fSharedFolderSerial = 0;

    // Walk state, worker thread only.
    MountTable fMounts;
    DirectoryReader fReader;
    FolderIdentitySet fEntered; // every folder entered in this walk
    std::vector<Frame> fFrames; // the root first, the folder being walked last
    std::string fPath;          // the path of the top folder, ending with "/"
    // Frames from here to the top hold open descriptors, and so does the root; those between
    // are closed.
    std::size_t fLowestOpen = 0;
    int fDescriptorBudget;
    bool fStayOnDrive = false;
    std::uint64_t fFolderSerial = 0; // counts the folders entered
};

} // namespace dv
