#include "core/filesearch/TDvShellChangeNotifier.h"

#include "core/platform/DesktopFolder.h"
#include "core/platform/DirectoryReader.h"
#include "core/platform/FileName.h"
#include "core/platform/MountTable.h"
#include "core/platform/PathCompare.h"
#include "core/platform/Ticks.h"
#include "core/platform/UniqueFd.h"
#include "core/platform/WatchBudget.h"
#include "core/threads/MainThreadQueue.h"
#include "core/threads/MainThreadSlice.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace dv {

namespace {

// Never IN_ACCESS or IN_OPEN: a content search reads every file it finds.
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                     IN_ONLYDIR;
// A moved-from event whose moved-to half has not come by then is a deletion.
constexpr std::uint64_t kMovePairMs = 20;
// Writes and attribute changes of one path within this time are one change.
constexpr std::uint64_t kCoalesceMs = 50;
// Folders watched between two looks at the event queue.
constexpr int kFoldersPerRound = 64;

std::once_flag gWatchLimitWarning;
std::once_flag gInstanceLimitWarning;

QByteArray WithSlash(QByteArray pPath)
{
    if (!pPath.endsWith('/'))
        pPath.append('/');
    return pPath;
}

QString Decode(const QByteArray &pPath)
{
    QByteArrayView path(pPath);
    if (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return DecodeFileName(path.data(), static_cast<std::size_t>(path.size()));
}

struct PairHash
{
    std::size_t operator()(const std::pair<dev_t, ino_t> &p) const noexcept
    {
        return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(p.second) * 1000003u ^
                                          static_cast<std::uint64_t>(p.first));
    }
};

} // namespace

struct TDvShellChangeNotifier::Shared
{
    // A watch a walk added, for the thread to take over.
    struct Walked
    {
        int Wd;
        QByteArray Path; // ends with "/"
        FolderIdentity Identity;
        unsigned Generation;
    };

    std::mutex Lock;
    int Fd = -1;             // the instance walks add their watches to; -1 while none
    unsigned Generation = 0; // counts the instances
    // The watches of this instance taken from the budget (the thread's and those walks added),
    // so that a folder watched twice costs one.
    std::unordered_set<int> Held;
    std::vector<Walked> Walks;
    std::set<QByteArray> Unwatched; // each ends with "/"; none below another
    std::atomic<bool> LimitReached{false};

    // Adds a watch to pFd, taking it from the budget unless it is held already; Lock is held.
    int AddWatch(int pFd, const char *pTarget, bool pIsRoot)
    {
        const int wd = inotify_add_watch(pFd, pTarget, kWatchMask);
        if (wd < 0 || Held.count(wd) > 0)
            return wd;
        if (!WatchBudget::Acquire(pIsRoot ? 0 : WatchBudget::SharedReserve())) {
            inotify_rm_watch(pFd, wd);
            errno = ENOSPC;
            return -1;
        }
        Held.insert(wd);
        return wd;
    }

    // Notes a folder left without a watch; Lock is held.
    void NoteUnwatched(const QByteArray &pPath)
    {
        LimitReached = true;
        for (qsizetype slash = pPath.indexOf('/', 1); slash >= 0 && slash + 1 < pPath.size();
             slash = pPath.indexOf('/', slash + 1))
            if (Unwatched.count(pPath.left(slash + 1)) > 0)
                return; // an ancestor is unwatched already
        // Those below it are covered now.
        for (auto it = Unwatched.lower_bound(pPath);
             it != Unwatched.end() && it->startsWith(pPath);)
            it = Unwatched.erase(it);
        Unwatched.insert(pPath);
        std::call_once(gWatchLimitWarning, [] {
            std::fprintf(stderr, "delvora: the limit of inotify watches is reached "
                                 "(fs.inotify.max_user_watches); deeper folders of the "
                                 "results are read again from time to time instead\n");
        });
    }
};

struct TDvShellChangeNotifier::Command
{
    enum TKind
    {
        Add,
        Remove,
        Clear,
        Hold,
        Pause,
        Overflow,
        Stop
    } Kind;
    QString Folder;
    WatchOptions Options;
    bool Flag = false;
    int Fd = -1;             // Clear: the new instance
    unsigned Generation = 0; // Clear: its number
};

class TDvShellChangeNotifier::Worker
{
public:
    // Opens the instance here, on the caller's thread, so that walks queued right after the
    // notifier is enabled already watch their folders.
    Worker(TDvShellChangeNotifier &aOwner)
        : fOwner(aOwner), fShared(aOwner.fShared), fAlive(aOwner.fAlive),
          fWakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        OpenInstance();
        std::lock_guard<std::mutex> lock(fShared->Lock);
        fShared->Fd = fInotify.get();
        fShared->Held.clear();
        fGeneration = ++fShared->Generation;
    }

    void Send(Command pCommand)
    {
        {
            std::lock_guard<std::mutex> lock(fLock);
            fCommands.push_back(std::move(pCommand));
        }
        const std::uint64_t one = 1;
        if (write(fWakeFd.get(), &one, sizeof one) < 0) {
            // The counter is full: the thread is woken anyway.
        }
    }

    void Run();

private:
    struct Root
    {
        int Id;
        QString Text;
        QByteArray Path; // ends with "/"
        WatchOptions Options;
        bool StayOnDrive = false;
        dev_t Device = 0;
    };
    struct Watch
    {
        QByteArray Path; // ends with "/"
        int RootId;
        bool IsRoot;
        bool IsMountRoot;
        dev_t Device;
        ino_t Inode;
    };
    struct Pending
    {
        QByteArray Path; // ends with "/"
        int RootId;
        bool IsRoot;
        bool ReportContents; // a folder that appeared: what it holds was not seen arrive
    };

    bool TakeCommands();
    // Takes over the watches walks added to this instance.
    void AdoptWalked();
    void HandleOverflow();
    void ReadEvents();
    void HandleEvent(const inotify_event &pEvent);
    void AddRoot(const QString &pFolder, WatchOptions pOptions);
    void DropRoot(int pRootId);
    void WatchFolder(const Pending &pFolder);
    void FolderAppeared(const QByteArray &pPath, int pRootId);
    void RebaseWatches(const QByteArray &pOldPath, const QByteArray &pNewPath);
    void RemoveWatchesBelow(const QByteArray &pPath);
    void FlushMovedFrom();
    void FlushChanges();
    void ReportChange(const QByteArray &pPath);
    void Emit(TNotificationEvent pEvent, const QString &pPath1, const QString &pPath2 = {});
    void Deliver();
    void UpdateSettled();
    const Root *RootOf(int pId) const;
    void ReleaseAll();
    // Forgets a watch that is gone: its folder (or a new one on the same inode) may be
    // watched again.
    void Forget(std::unordered_map<int, Watch>::iterator pWatch);
    void OpenInstance();
    // inotify_add_watch within the budget: the watch, or -1 with errno (ENOSPC when the
    // watches ran out).
    int AddWatch(const QByteArray &pTarget, bool pIsRoot);
    // Drops the instance (every watch goes with it); walks add nothing more to it.
    void CloseInstance();

    TDvShellChangeNotifier &fOwner;
    std::shared_ptr<Shared> fShared;
    unsigned fGeneration = 0;
    std::weak_ptr<int> fAlive;
    UniqueFd fWakeFd;
    std::mutex fLock;
    std::vector<Command> fCommands;

    // Thread state.
    UniqueFd fInotify;
    bool fHeld = false;
    bool fPaused = false;
    bool fStop = false;
    bool fInstanceFailed = false;
    int fNextRootId = 1;
    std::vector<Root> fRoots;
    std::unordered_map<int, Watch> fWatches;
    std::unordered_set<std::pair<dev_t, ino_t>, PairHash> fSeen;
    std::deque<Pending> fUrgent;  // roots and folders that appeared: not held back
    std::deque<Pending> fPending; // subfolders of the watched trees, level by level
    MountTable fMounts;
    DirectoryReader fReader{16 * 1024};
    std::vector<Change> fOut;
    QStringList fInPlace; // folders of the watch list whose own watch was just tried
    struct
    {
        bool Valid = false;
        std::uint32_t Cookie = 0;
        QByteArray Path;
        bool IsDir = false;
        int RootId = 0;
        std::uint64_t Due = 0;
    } fMovedFrom;
    std::vector<QByteArray> fChangedOrder;
    std::unordered_set<QByteArray> fChanged;
    std::uint64_t fChangesDue = 0;
};

void TDvShellChangeNotifier::Worker::OpenInstance()
{
    fInotify.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fInotify) {
        fInstanceFailed = true;
        std::call_once(gInstanceLimitWarning, [] {
            std::fprintf(stderr, "delvora: no inotify instance is available (fs.inotify."
                                 "max_user_instances); results are not refreshed automatically\n");
        });
    }
}

void TDvShellChangeNotifier::Worker::CloseInstance()
{
    {
        std::lock_guard<std::mutex> lock(fShared->Lock);
        if (fShared->Generation == fGeneration) {
            fShared->Fd = -1;
            fShared->Held.clear();
        }
    }
    ReleaseAll();
}

void TDvShellChangeNotifier::Worker::Run()
{
    pthread_setname_np(pthread_self(), "dv-notifier");
    fMounts = MountTable::Load();
    while (!fStop) {
        const std::uint64_t now = GetTickCount64();
        const bool walk =
            !fPaused && fInotify.isValid() && (!fUrgent.empty() || (!fHeld && !fPending.empty()));
        int timeout = walk ? 0 : -1;
        auto until = [&](std::uint64_t pDue) {
            const int ms = pDue > now ? static_cast<int>(pDue - now) : 0;
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        };
        if (fMovedFrom.Valid)
            until(fMovedFrom.Due);
        if (!fChangedOrder.empty())
            until(fChangesDue);

        pollfd fds[2] = {{fWakeFd.get(), POLLIN, 0}, {fInotify.get(), POLLIN, 0}};
        const nfds_t count = (fInotify.isValid() && !fPaused) ? 2 : 1;
        const int ready = poll(fds, count, timeout);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            std::uint64_t value;
            if (read(fWakeFd.get(), &value, sizeof value) < 0) {
                // Nothing to take: a spurious wake.
            }
            if (!TakeCommands())
                break;
        }
        AdoptWalked();
        if (ready > 0 && count == 2 && !fPaused && (fds[1].revents & POLLIN))
            ReadEvents();
        const std::uint64_t after = GetTickCount64();
        if (fMovedFrom.Valid && after >= fMovedFrom.Due)
            FlushMovedFrom();
        if (!fChangedOrder.empty() && after >= fChangesDue)
            FlushChanges();
        if (!fPaused && fInotify.isValid()) {
            for (int i = 0; i < kFoldersPerRound; ++i) {
                if (!fUrgent.empty()) {
                    const Pending next = std::move(fUrgent.front());
                    fUrgent.pop_front();
                    WatchFolder(next);
                    const Root *root = next.IsRoot ? RootOf(next.RootId) : nullptr;
                    if (root != nullptr && !fInPlace.contains(root->Text))
                        fInPlace.append(root->Text);
                } else if (!fHeld && !fPending.empty()) {
                    const Pending next = std::move(fPending.front());
                    fPending.pop_front();
                    WatchFolder(next);
                } else {
                    break;
                }
            }
        }
        UpdateSettled();
        Deliver();
    }
    CloseInstance();
    AdoptWalked(); // gives back what walks still took from the budget
}

void TDvShellChangeNotifier::Worker::ReleaseAll()
{
    fInotify.reset();
    for (std::size_t i = 0; i < fWatches.size(); ++i)
        WatchBudget::Release();
    fWatches.clear();
    fOwner.fWatchCount = 0;
}

void TDvShellChangeNotifier::Worker::AdoptWalked()
{
    std::vector<Shared::Walked> walked;
    {
        std::lock_guard<std::mutex> lock(fShared->Lock);
        if (fShared->Walks.empty())
            return;
        // Those of a newer instance wait until this thread has taken it (the command that
        // hands it over is on its way).
        auto newer = std::stable_partition(
            fShared->Walks.begin(), fShared->Walks.end(),
            [this](const Shared::Walked &w) { return w.Generation <= fGeneration; });
        walked.assign(std::make_move_iterator(fShared->Walks.begin()),
                      std::make_move_iterator(newer));
        fShared->Walks.erase(fShared->Walks.begin(), newer);
    }
    for (Shared::Walked &w : walked) {
        if (w.Generation != fGeneration || !fInotify.isValid()) {
            WatchBudget::Release(); // it went with its instance
            continue;
        }
        if (fWatches.count(w.Wd) > 0)
            continue; // taken over already (the budget counts it once)
        // The deepest root that holds the folder.
        const Root *holder = nullptr;
        for (const Root &root : fRoots)
            if (w.Path.startsWith(root.Path) &&
                (holder == nullptr || root.Path.size() > holder->Path.size()))
                holder = &root;
        if (holder == nullptr) {
            inotify_rm_watch(fInotify.get(), w.Wd);
            WatchBudget::Release();
            std::lock_guard<std::mutex> lock(fShared->Lock);
            if (fShared->Generation == fGeneration)
                fShared->Held.erase(w.Wd);
            continue;
        }
        fWatches.emplace(w.Wd, Watch{w.Path, holder->Id, w.Path == holder->Path,
                                     w.Identity.IsMountRoot, w.Identity.Device, w.Identity.Inode});
        fSeen.emplace(w.Identity.Device, w.Identity.Inode);
    }
    fOwner.fWatchCount = static_cast<int>(fWatches.size());
}

bool TDvShellChangeNotifier::Worker::TakeCommands()
{
    std::vector<Command> commands;
    {
        std::lock_guard<std::mutex> lock(fLock);
        commands.swap(fCommands);
    }
    fOwner.fSettled = false;
    fOwner.fTaken += static_cast<unsigned>(commands.size());
    for (Command &command : commands) {
        switch (command.Kind) {
        case Command::Add:
            AddRoot(command.Folder, command.Options);
            break;
        case Command::Remove:
            for (std::size_t i = fRoots.size(); i-- > 0;)
                if (fRoots[i].Text == command.Folder)
                    DropRoot(fRoots[i].Id);
            break;
        case Command::Clear:
            // A fresh instance drops every watch at once, and every event still queued.
            fMovedFrom.Valid = false;
            fChangedOrder.clear();
            fChanged.clear();
            fOut.clear();
            fInPlace.clear();
            ReleaseAll();
            fRoots.clear();
            fSeen.clear();
            fUrgent.clear();
            fPending.clear();
            // The new instance was opened by the caller, and walks may already use it.
            fInotify.reset(command.Fd);
            fGeneration = command.Generation;
            break;
        case Command::Overflow:
            if (fInotify.isValid()) {
                char buffer[4096];
                while (read(fInotify.get(), buffer, sizeof buffer) > 0) {
                }
                HandleOverflow();
            }
            break;
        case Command::Hold:
            fHeld = command.Flag;
            break;
        case Command::Pause:
            fPaused = command.Flag;
            break;
        case Command::Stop:
            fStop = true;
            return false;
        }
    }
    return true;
}

void TDvShellChangeNotifier::Worker::AddRoot(const QString &pFolder, WatchOptions pOptions)
{
    if (!fInotify.isValid())
        fInPlace.append(pFolder); // no watch will come: nobody waits for one
    if (pFolder.isEmpty() && pOptions.Recursive) {
        // Every ready drive, as a search of an empty root walks them: each on its own drive.
        for (const QString &drive : fMounts.ReadyDrives()) {
            Root root{fNextRootId++, pFolder, EncodeFileName(drive), pOptions, true, 0};
            fRoots.push_back(root);
            fUrgent.push_back({root.Path, root.Id, true, false});
        }
        return;
    }
    // The top level of the desktop folder stands for an empty root searched without
    // subfolders.
    const QString folder = pFolder.isEmpty() ? DesktopFolder() : pFolder;
    Root root{fNextRootId++, pFolder, WithSlash(EncodeFileName(folder)), pOptions, false, 0};
    fRoots.push_back(root);
    fUrgent.push_back({root.Path, root.Id, true, false});
}

void TDvShellChangeNotifier::Worker::DropRoot(int pRootId)
{
    for (auto it = fWatches.begin(); it != fWatches.end();) {
        auto next = std::next(it);
        if (it->second.RootId == pRootId) {
            // The IN_IGNORED that follows finds nothing left to release.
            inotify_rm_watch(fInotify.get(), it->first);
            Forget(it);
        }
        it = next;
    }
    auto other = [pRootId](const Pending &p) { return p.RootId == pRootId; };
    fUrgent.erase(std::remove_if(fUrgent.begin(), fUrgent.end(), other), fUrgent.end());
    fPending.erase(std::remove_if(fPending.begin(), fPending.end(), other), fPending.end());
    fRoots.erase(std::remove_if(fRoots.begin(), fRoots.end(),
                                [pRootId](const Root &r) { return r.Id == pRootId; }),
                 fRoots.end());
}

void TDvShellChangeNotifier::Worker::Forget(std::unordered_map<int, Watch>::iterator pWatch)
{
    {
        std::lock_guard<std::mutex> lock(fShared->Lock);
        if (fShared->Generation == fGeneration)
            fShared->Held.erase(pWatch->first);
    }
    fSeen.erase({pWatch->second.Device, pWatch->second.Inode});
    WatchBudget::Release();
    fWatches.erase(pWatch);
    fOwner.fWatchCount = static_cast<int>(fWatches.size());
}

int TDvShellChangeNotifier::Worker::AddWatch(const QByteArray &pTarget, bool pIsRoot)
{
    std::lock_guard<std::mutex> lock(fShared->Lock);
    if (fShared->Generation != fGeneration) {
        errno = ESTALE;
        return -1; // a new instance is on its way: this one is dropped
    }
    return fShared->AddWatch(fInotify.get(), pTarget.constData(), pIsRoot);
}

const TDvShellChangeNotifier::Worker::Root *TDvShellChangeNotifier::Worker::RootOf(int pId) const
{
    for (const Root &root : fRoots)
        if (root.Id == pId)
            return &root;
    return nullptr;
}

void TDvShellChangeNotifier::Worker::WatchFolder(const Pending &pFolder)
{
    Root *root = const_cast<Root *>(RootOf(pFolder.RootId));
    if (root == nullptr || !fInotify.isValid())
        return;
    const UniqueFd owned(DirectoryReader::OpenFolder(pFolder.Path));
    if (!owned)
        return;
    const int fd = owned.get();
    FolderIdentity identity;
    if (!DirectoryReader::Identify(fd, identity) || fMounts.IsPseudoDevice(identity.Device))
        return;
    if (pFolder.IsRoot) {
        root->Device = identity.Device;
    } else if (identity.Device != root->Device &&
               (identity.IsMountRoot || fMounts.HasDevice(identity.Device)) && root->StayOnDrive) {
        return; // another drive's mount point: watched as a drive of its own
    }
    // A folder reached twice (a link back to an ancestor, or to a folder watched already)
    // is watched once. A root watched by a walk first still becomes a root here.
    if (!fSeen.emplace(identity.Device, identity.Inode).second && !pFolder.IsRoot)
        return;

    // Deep paths go through the open descriptor; PATH_MAX does not limit a watch.
    const QByteArray target = pFolder.Path.size() < PATH_MAX - 1
                                  ? pFolder.Path
                                  : QByteArray("/proc/self/fd/") + QByteArray::number(fd);
    const int wd = AddWatch(target, pFolder.IsRoot);
    if (wd >= 0) {
        AdoptWalked(); // a walk may hold it already
        auto [it, inserted] =
            fWatches.try_emplace(wd, Watch{pFolder.Path, pFolder.RootId, pFolder.IsRoot,
                                           identity.IsMountRoot, identity.Device, identity.Inode});
        if (!inserted) {
            // The kernel gave an existing watch back.
            if (pFolder.IsRoot && !it->second.IsRoot)
                it->second = Watch{pFolder.Path,         pFolder.RootId,  true,
                                   identity.IsMountRoot, identity.Device, identity.Inode};
            else if (pFolder.IsRoot)
                return; // watched and listed already
        }
        fOwner.fWatchCount = static_cast<int>(fWatches.size());
        errno = 0;
    }
    if (errno == ENOSPC) {
        // Nearest the root first: what is still queued lies as deep or deeper.
        std::lock_guard<std::mutex> lock(fShared->Lock);
        fShared->NoteUnwatched(pFolder.Path);
        for (const Pending &pending : fPending)
            fShared->NoteUnwatched(pending.Path);
        fPending.clear();
        return;
    }
    if (errno != 0)
        return;

    if (!root->Options.Recursive && !pFolder.ReportContents)
        return;
    // Subfolders are found after the watch exists, so one created meanwhile is reported by
    // the watch, not missed.
    DirectoryReader::Entry entry;
    fReader.Start(fd);
    const bool recursive = root->Options.Recursive;
    while (fReader.Next(entry)) {
        if (entry.Name[0] == '.' &&
            (entry.Length == 1 || (entry.Length == 2 && entry.Name[1] == '.')))
            continue;
        unsigned char type = entry.Type;
        if (type == DT_UNKNOWN || type == DT_LNK) {
            struct stat st;
            if (fstatat(fd, entry.Name, &st, 0) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        QByteArray path = pFolder.Path;
        path.append(entry.Name, static_cast<qsizetype>(entry.Length));
        if (type == DT_DIR) {
            const bool hidden = entry.Name[0] == '.';
            if (pFolder.ReportContents)
                Emit(neFolderCreate, Decode(path));
            if (recursive && (!hidden || root->Options.IncludeHidden)) {
                path.append('/');
                if (pFolder.ReportContents)
                    fUrgent.push_back({path, pFolder.RootId, false, true});
                else
                    fPending.push_back({path, pFolder.RootId, false, false});
            }
        } else if (type == DT_REG && pFolder.ReportContents) {
            Emit(neFileCreate, Decode(path));
        }
    }
}

void TDvShellChangeNotifier::Worker::FolderAppeared(const QByteArray &pPath, int pRootId)
{
    const Root *root = RootOf(pRootId);
    if (root == nullptr || !root->Options.Recursive)
        return;
    const qsizetype slash = pPath.lastIndexOf('/', pPath.size() - 2);
    if (!root->Options.IncludeHidden && pPath.at(slash + 1) == '.')
        return;
    fUrgent.push_back({pPath, pRootId, false, true});
}

void TDvShellChangeNotifier::Worker::ReadEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = read(fInotify.get(), buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            HandleEvent(*event);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void TDvShellChangeNotifier::Worker::HandleEvent(const inotify_event &pEvent)
{
    const std::uint32_t mask = pEvent.mask;
    if (mask & IN_Q_OVERFLOW) {
        HandleOverflow();
        return;
    }
    auto found = fWatches.find(pEvent.wd);
    if (found == fWatches.end()) {
        // A walk may have added it since the last look.
        AdoptWalked();
        found = fWatches.find(pEvent.wd);
        if (found == fWatches.end())
            return;
    }
    if (mask & IN_IGNORED) {
        Forget(found);
        return;
    }
    const Watch watch = found->second;
    const bool isDir = mask & IN_ISDIR;
    QByteArray path = watch.Path;
    if (pEvent.len > 0)
        path.append(pEvent.name, static_cast<qsizetype>(std::strlen(pEvent.name)));
    else if (path.size() > 1)
        path.chop(1); // the folder itself, named as its parent's watch names it

    // The half of a move not followed by its other half is a deletion.
    if (fMovedFrom.Valid && !((mask & IN_MOVED_TO) && pEvent.cookie == fMovedFrom.Cookie))
        FlushMovedFrom();
    // Changes are merged only while nothing else happens, so that the order stays: a list
    // may take a file's change differently once other files have gone.
    if (!(mask & (IN_CLOSE_WRITE | IN_ATTRIB)) && !fChangedOrder.empty()) {
        if (mask & (IN_DELETE | IN_MOVED_FROM))
            fChanged.erase(path);
        FlushChanges();
    }

    if (mask & IN_CREATE) {
        Emit(isDir ? neFolderCreate : neFileCreate, Decode(path));
        if (isDir)
            FolderAppeared(WithSlash(path), watch.RootId);
    } else if (mask & IN_DELETE) {
        Emit(isDir ? neFolderDelete : neFileDelete, Decode(path));
    } else if (mask & IN_MOVED_FROM) {
        fMovedFrom.Valid = true;
        fMovedFrom.Cookie = pEvent.cookie;
        fMovedFrom.Path = path;
        fMovedFrom.IsDir = isDir;
        fMovedFrom.RootId = watch.RootId;
        fMovedFrom.Due = GetTickCount64() + kMovePairMs;
    } else if (mask & IN_MOVED_TO) {
        if (fMovedFrom.Valid) {
            fMovedFrom.Valid = false;
            Emit(isDir ? neFolderRename : neFileRename, Decode(fMovedFrom.Path), Decode(path));
            if (isDir)
                RebaseWatches(WithSlash(fMovedFrom.Path), WithSlash(path));
        } else {
            Emit(isDir ? neFolderCreate : neFileCreate, Decode(path));
            if (isDir)
                FolderAppeared(WithSlash(path), watch.RootId);
        }
    } else if (mask & (IN_CLOSE_WRITE | IN_ATTRIB)) {
        ReportChange(path);
    } else if (mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
        if (watch.IsRoot) {
            const Root *root = RootOf(watch.RootId);
            Emit(neFolderDelete, root ? root->Text : Decode(watch.Path));
        }
    } else if (mask & IN_UNMOUNT) {
        if (watch.IsMountRoot || watch.IsRoot)
            Emit(neDriveRemove, Decode(watch.Path));
    }
}

void TDvShellChangeNotifier::Worker::HandleOverflow()
{
    // Changes were lost: the owner reads everything again, and every tree is walked again
    // for folders that appeared unseen.
    FlushMovedFrom();
    FlushChanges();
    fOut.push_back({neUnknown, {}, {}});
    for (const Root &root : fRoots)
        if (!fShared->LimitReached)
            fPending.push_back({root.Path, root.Id, false, false});
    fSeen.clear();
}

void TDvShellChangeNotifier::Worker::ReportChange(const QByteArray &pPath)
{
    if (fChangedOrder.empty())
        fChangesDue = GetTickCount64() + kCoalesceMs;
    if (fChanged.insert(pPath).second)
        fChangedOrder.push_back(pPath);
}

void TDvShellChangeNotifier::Worker::FlushChanges()
{
    for (const QByteArray &path : fChangedOrder)
        if (fChanged.erase(path) > 0)
            Emit(neFileChange, Decode(path));
    fChangedOrder.clear();
    fChanged.clear();
}

void TDvShellChangeNotifier::Worker::FlushMovedFrom()
{
    if (!fMovedFrom.Valid)
        return;
    fMovedFrom.Valid = false;
    Emit(fMovedFrom.IsDir ? neFolderDelete : neFileDelete, Decode(fMovedFrom.Path));
    // Moved out of the watched trees: its watches would report under names that are gone.
    if (fMovedFrom.IsDir)
        RemoveWatchesBelow(WithSlash(fMovedFrom.Path));
}

void TDvShellChangeNotifier::Worker::RebaseWatches(const QByteArray &pOldPath,
                                                   const QByteArray &pNewPath)
{
    for (auto &[wd, watch] : fWatches) {
        (void)wd;
        if (watch.Path.startsWith(pOldPath))
            watch.Path = pNewPath + watch.Path.mid(pOldPath.size());
    }
    for (auto *queue : {&fUrgent, &fPending})
        for (Pending &pending : *queue)
            if (pending.Path.startsWith(pOldPath))
                pending.Path = pNewPath + pending.Path.mid(pOldPath.size());
}

void TDvShellChangeNotifier::Worker::RemoveWatchesBelow(const QByteArray &pPath)
{
    for (auto it = fWatches.begin(); it != fWatches.end();) {
        auto next = std::next(it);
        if (!it->second.IsRoot && it->second.Path.startsWith(pPath)) {
            inotify_rm_watch(fInotify.get(), it->first);
            Forget(it);
        }
        it = next;
    }
}

void TDvShellChangeNotifier::Worker::Emit(TNotificationEvent pEvent, const QString &pPath1,
                                          const QString &pPath2)
{
    fOut.push_back({pEvent, pPath1, pPath2});
}

void TDvShellChangeNotifier::Worker::UpdateSettled()
{
    fOwner.fSettled = !fInotify.isValid() || (fUrgent.empty() && (fPending.empty() || fHeld));
}

void TDvShellChangeNotifier::Worker::Deliver()
{
    if (fOut.empty() && fInPlace.isEmpty())
        return;
    MainThreadQueue::Post([owner = &fOwner, alive = fAlive, changes = std::move(fOut),
                           inPlace = std::move(fInPlace)]() mutable {
        if (alive.lock())
            owner->Deliver(std::move(changes), std::move(inPlace));
    });
    fOut.clear();
    fInPlace.clear();
}

TDvShellChangeNotifier::TDvShellChangeNotifier() : fShared(std::make_shared<Shared>()) {}

TDvShellChangeNotifier::~TDvShellChangeNotifier()
{
    fAlive.reset();
    StopThread();
}

void TDvShellChangeNotifier::Send(Command pCommand)
{
    if (!fWorker)
        return;
    ++fSent;
    fWorker->Send(std::move(pCommand));
}

void TDvShellChangeNotifier::AddWatch(const QString &pFolder, WatchOptions pOptions)
{
    fWatchedFolders.append(pFolder);
    fWatchOptions.push_back(pOptions);
    Send({Command::Add, pFolder, pOptions, false});
}

void TDvShellChangeNotifier::RemoveWatch(const QString &pFolder)
{
    for (qsizetype i = fWatchedFolders.size(); i-- > 0;) {
        if (fWatchedFolders[i] == pFolder) {
            fWatchedFolders.removeAt(i);
            fWatchOptions.erase(fWatchOptions.begin() + i);
        }
    }
    Send({Command::Remove, pFolder, {}, false});
}

void TDvShellChangeNotifier::ClearWatches()
{
    fWatchedFolders.clear();
    fWatchOptions.clear();
    Command clear{Command::Clear, {}, {}, false};
    {
        std::lock_guard<std::mutex> lock(fShared->Lock);
        fShared->LimitReached = false;
        fShared->Unwatched.clear();
        if (fWorker) {
            // A fresh instance drops every watch at once, and every event still queued. It is
            // opened here, so that a walk started next watches its folders in it.
            clear.Fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            clear.Generation = ++fShared->Generation;
            fShared->Fd = clear.Fd;
            fShared->Held.clear();
        }
    }
    Send(std::move(clear));
}

bool TDvShellChangeNotifier::LimitReached() const
{
    return fShared->LimitReached.load();
}

QStringList TDvShellChangeNotifier::UnwatchedFolders() const
{
    QStringList folders;
    std::lock_guard<std::mutex> lock(fShared->Lock);
    for (const QByteArray &folder : fShared->Unwatched)
        folders.append(Decode(folder));
    return folders;
}

TDvShellChangeNotifier::TFolderWatch TDvShellChangeNotifier::FolderWatch() const
{
    return [shared = fShared](int pFolderFd, QByteArrayView pFolder,
                              const FolderIdentity &pIdentity, bool pIsRoot) {
        std::lock_guard<std::mutex> lock(shared->Lock);
        if (shared->Fd < 0)
            return;
        const QByteArray folder(pFolder.data(), pFolder.size());
        // Through the walk's descriptor: the very folder it lists, whatever its path.
        char target[40];
        std::snprintf(target, sizeof target, "/proc/self/fd/%d", pFolderFd);
        const std::size_t held = shared->Held.size();
        const int wd = shared->AddWatch(shared->Fd, target, pIsRoot);
        if (wd < 0) {
            if (errno == ENOSPC)
                shared->NoteUnwatched(folder);
            return;
        }
        if (shared->Held.size() == held)
            return; // watched already
        shared->Walks.push_back({wd, folder, pIdentity, shared->Generation});
    };
}

bool TDvShellChangeNotifier::IsWatchedFolder(QStringView pPath) const
{
    return std::any_of(fWatchedFolders.begin(), fWatchedFolders.end(),
                       [pPath](const QString &folder) { return SamePath(folder, pPath); });
}

void TDvShellChangeNotifier::SetEnabled(bool pValue)
{
    if (pValue == fEnabled)
        return;
    fEnabled = pValue;
    if (pValue)
        StartThread();
    else
        StopThread();
}

void TDvShellChangeNotifier::SetSubfoldersHeld(bool pValue)
{
    fHeld = pValue;
    Send({Command::Hold, {}, {}, pValue});
}

void TDvShellChangeNotifier::SetReadingPaused(bool pValue)
{
    fPaused = pValue;
    Send({Command::Pause, {}, {}, pValue});
}

void TDvShellChangeNotifier::InjectOverflow()
{
    Send({Command::Overflow, {}, {}, false});
}

void TDvShellChangeNotifier::StartThread()
{
    fSettled = false;
    fSent = 0;
    fTaken = 0;
    fWorker = std::make_unique<Worker>(*this);
    Send({Command::Hold, {}, {}, fHeld});
    Send({Command::Pause, {}, {}, fPaused});
    for (qsizetype i = 0; i < fWatchedFolders.size(); ++i)
        Send({Command::Add, fWatchedFolders[i], fWatchOptions[std::size_t(i)], false});
    fThread = std::thread([worker = fWorker.get()] { worker->Run(); });
}

void TDvShellChangeNotifier::StopThread()
{
    if (!fWorker)
        return;
    fWorker->Send({Command::Stop, {}, {}, false});
    if (fThread.joinable())
        fThread.join();
    fWorker.reset();
    fSettled = false;
    fReceived.clear();
}

void TDvShellChangeNotifier::Deliver(std::vector<Change> pChanges, QStringList pInPlace)
{
    for (Change &change : pChanges)
        fReceived.push_back({std::move(change), false});
    for (QString &folder : pInPlace)
        fReceived.push_back({{neUnknown, std::move(folder), {}}, true});
    // A slice already queued takes them, in order.
    if (!fDeliveryQueued)
        DeliverReceived();
}

void TDvShellChangeNotifier::DeliverReceived()
{
    std::weak_ptr<int> alive = fAlive;
    const MainThreadSlice slice;
    while (!fReceived.empty()) {
        if (!fEnabled) {
            fReceived.clear();
            return;
        }
        const Received next = std::move(fReceived.front());
        fReceived.pop_front();
        const Change &change = next.Item;
        if (next.InPlace) {
            if (OnWatchInPlace)
                OnWatchInPlace(*this, change.Path1);
        } else if (change.Event == neUnknown && change.Path1.isEmpty()) {
            // The thread's mark of an overflow.
            if (OnOverflow) {
                OnOverflow(*this);
            } else {
                const QStringList roots = fWatchedFolders;
                for (const QString &root : roots)
                    if (alive.lock() && fEnabled && (fFilter & EventBit(neFolderUpdate)) &&
                        OnChange)
                        OnChange(*this, neFolderUpdate, root, {});
            }
        } else if ((fFilter & EventBit(change.Event)) && OnChange) {
            OnChange(*this, change.Event, change.Path1, change.Path2);
        }
        if (!alive.lock())
            return; // the handler removed the notifier
        if (!fReceived.empty() && slice.Spent()) {
            // A burst of changes: the rest in a later turn.
            if (!fDeliveryQueued) {
                fDeliveryQueued = true;
                MainThreadQueue::PostLater([this, alive] {
                    if (!alive.lock())
                        return;
                    fDeliveryQueued = false;
                    DeliverReceived();
                });
            }
            return;
        }
    }
}

} // namespace dv
