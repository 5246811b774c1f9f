#pragma once

#include "core/platform/DirectoryReader.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace dv {

// The kinds of change a notifier reports.
enum TNotificationEvent : int
{
    neAssociationChange,
    neAttributesChange,
    neFileChange,
    neFileCreate,
    neFileDelete,
    neFileRename,
    neDriveAdd,
    neDriveRemove,
    neShellDriveAdd,
    neDriveSpaceChange,
    neMediaInsert,
    neMediaRemove,
    neFolderCreate,
    neFolderDelete,
    neFolderRename,
    neFolderUpdate,
    neNetShare,
    neServerDisconnect,
    neImageListChange,
    neUnknown,
    neAsyncResult,
    nePopulated
};

// Watches folders (each with its subfolders by default) through one inotify instance and
// reports changes on the main thread through OnChange. A thread of its own reads the events
// and adds the watches, a folder at a time, nearest the root first; subfolder watches can be
// held back while a search walks the same tree, and the walk then watches each folder itself
// just before it lists it (FolderWatch), so that no change after the listing is missed.
// Access and open are never watched, so reading the files causes nothing. Created disabled:
// the watch list is kept, nothing is received.
//
// Limits degrade: when the watches run out, the folders nearest the roots stay watched (said
// once on stderr, the others kept in UnwatchedFolders); when the kernel's queue overflows,
// OnOverflow is called (without one, each root gets a folder update).
class TDvShellChangeNotifier
{
public:
    using TOnChange = std::function<void(TDvShellChangeNotifier &Sender, TNotificationEvent pEvent,
                                         const QString &pPath1, const QString &pPath2)>;
    using TEventFilter = std::uint32_t;

    struct WatchOptions
    {
        bool Recursive = true;
        bool IncludeHidden = true;
    };

    TDvShellChangeNotifier();
    // Stops the thread; no event is delivered afterwards.
    ~TDvShellChangeNotifier();

    TDvShellChangeNotifier(const TDvShellChangeNotifier &) = delete;
    TDvShellChangeNotifier &operator=(const TDvShellChangeNotifier &) = delete;

    // The watch list. An empty folder stands for what a search of an empty root walks: every
    // ready drive, each kept on its drive (the desktop folder when not recursive).
    void AddWatch(const QString &pFolder, WatchOptions pOptions);
    void AddWatch(const QString &pFolder) { AddWatch(pFolder, WatchOptions()); }
    void RemoveWatch(const QString &pFolder);
    void ClearWatches();
    // The folders of the watch list, as given.
    const QStringList &WatchedFolders() const { return fWatchedFolders; }
    // Whether pPath is one of them (exactly; one trailing "/" not considered).
    bool IsWatchedFolder(QStringView pPath) const;

    // Called by a walk of a watched tree, on its own thread, with each folder it is about to
    // list (open as pFolderFd; pFolder ends with "/"): the folder is watched from now on,
    // under the root that holds it. Does nothing while disabled, or for a folder outside
    // every root. Safe to keep and call after the notifier is gone.
    using TFolderWatch = std::function<void(int pFolderFd, QByteArrayView pFolder,
                                            const FolderIdentity &pIdentity, bool pIsRoot)>;
    TFolderWatch FolderWatch() const;

    bool Enabled() const { return fEnabled; }
    void SetEnabled(bool pValue);

    // While held, only the listed folders themselves are watched, not their subfolders.
    bool SubfoldersHeld() const { return fHeld; }
    void SetSubfoldersHeld(bool pValue);

    static constexpr TEventFilter EventBit(TNotificationEvent pEvent)
    {
        return TEventFilter(1) << pEvent;
    }
    static constexpr TEventFilter kAllEvents = (TEventFilter(1) << (nePopulated + 1)) - 1;
    TEventFilter EventFilter() const { return fFilter; }
    void SetEventFilter(TEventFilter pValue) { fFilter = pValue; }

    // Called on the main thread for each change whose kind passes the filter.
    TOnChange OnChange;
    // Called on the main thread once a folder given to AddWatch has its own watch in place,
    // or could not get one (gone, a pseudo file system, no watches left): a change after
    // this is reported. Its subfolders may still be on the way.
    std::function<void(TDvShellChangeNotifier &Sender, const QString &pFolder)> OnWatchInPlace;
    // Called on the main thread when changes were lost (the kernel's queue overflowed), in
    // order with the changes before and after: everything under the roots may have changed.
    std::function<void(TDvShellChangeNotifier &Sender)> OnOverflow;

    // State of the watching, from any thread: inotify watches held, whether every folder
    // that can be watched now is (nothing left to add), and whether a limit stopped it.
    int WatchCount() const { return fWatchCount.load(); }
    bool AllWatchesAdded() const
    {
        return fEnabled && fSettled.load() && fTaken.load() == fSent.load();
    }
    bool LimitReached() const;
    // The folders left without a watch for lack of watches (none below another of them):
    // changes inside them are not reported.
    QStringList UnwatchedFolders() const;

    // Tests: while paused, the thread reads no events (so that the kernel's queue can fill).
    void SetReadingPaused(bool pValue);
    // Tests: the events queued so far are dropped, as the kernel drops what no longer fits its
    // queue, and the overflow is handled as the kernel's would be.
    void InjectOverflow();

    struct Change
    {
        TNotificationEvent Event;
        QString Path1;
        QString Path2;
    };

private:
    struct Command;
    class Worker;
    struct Shared;

    void Send(Command pCommand);
    void StartThread();
    void StopThread();
    void Deliver(std::vector<Change> pChanges, QStringList pInPlace);
    // Hands the changes received over, one slice of the main thread's time per turn.
    void DeliverReceived();

    // Received on the main thread, not yet handed over: a change, or a folder whose watch is
    // in place (InPlace, in Path1).
    struct Received
    {
        Change Item;
        bool InPlace = false;
    };
    std::deque<Received> fReceived;
    bool fDeliveryQueued = false;

    QStringList fWatchedFolders;
    std::vector<WatchOptions> fWatchOptions;
    bool fEnabled = false;
    bool fHeld = false;
    bool fPaused = false;
    TEventFilter fFilter = kAllEvents;

    std::unique_ptr<Worker> fWorker;
    std::thread fThread;
    std::atomic<int> fWatchCount{0};
    std::atomic<bool> fSettled{false};
    // Commands sent to the thread and taken by it: settled only counts once all are taken.
    std::atomic<unsigned> fSent{0};
    std::atomic<unsigned> fTaken{0};
    // The instance and what walks watched, shared with the walks' threads.
    std::shared_ptr<Shared> fShared;
    // Tells changes still queued for the main thread whether this object exists.
    std::shared_ptr<int> fAlive = std::make_shared<int>(0);
};

} // namespace dv
