#pragma once

#include "core/filesearch/TDvSearchOptions.h"
#include "core/platform/TDvDirectoryReader.h"
#include "core/platform/TDvMountTable.h"
#include "core/threads/BasicWorkItem.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace dv {

class IDvFileSearchTarget;

// The background enumeration of one search root: walks it depth first on a worker thread,
// judges every entry with its own copy of the criteria and hands the matching paths to the
// list on the main thread in batches (at most one per 400 ms, plus a final one).
//
// An empty root means every ready drive (recursive search) or the top level of the desktop
// folder. Folders are opened relative to their parent, so depth is not limited by PATH_MAX;
// a link to a folder is entered unless it leads back to one of its own ancestors; no walk
// enters a pseudo file system, and a walk of a drive stays on that drive.
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

    const QString &InitialPath() const { return fInitialPath; }
    bool OnlyNewFiles() const { return fOnlyNewFiles; }
    bool SearchComplete() const { return fSearchComplete.load(); }

private:
    void SearchRoot(const QString &pFolder, bool pStayOnDrive);
    // pFolder: the bytes of the folder's path, ending with "/".
    void SearchFolder(int pFolderFd, const QByteArray &pFolder, const TDvFolderIdentity &pIdentity);
    bool HasPending() const { return !fItemsToAdd.empty(); }
    void CheckFlush();
    void FlushItemsToAdd();
    void ResortIfNeeded();
    void FinalFlush();

    TDvSearchOptions fSearchOptions;
    // Found paths not yet handed over, in the order found: folder records, each followed by
    // the names found in that folder. Offered to the list as bytes while a batch is handed over.
    std::string fItemsToAdd;
    // The folder (by its serial) of the last folder record in fItemsToAdd; 0 for none.
    std::uint64_t fPendingFolder = 0;
    std::mutex fItemsToAddLock;
    IDvFileSearchTarget *fDvFileList;
    QString fInitialPath;
    bool fWereItemsAddedSinceLastSort = false;
    std::uint32_t fLastResortTickCount;
    std::atomic<std::uint32_t> fLastUpdateTickCount;
    std::atomic<bool> fSearchComplete{false};
    bool fOnlyNewFiles;

    // Walk state, worker thread only.
    TDvMountTable fMounts;
    TDvDirectoryReader fReader;
    std::vector<TDvFolderIdentity> fAncestors;
    bool fStayOnDrive = false;
    std::uint64_t fFolderSerial = 0; // counts the folders entered
};

} // namespace dv
