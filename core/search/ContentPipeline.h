#pragma once

#include "core/platform/UniqueFd.h"
#include "core/search/FileAcceptance.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace dv {

// Judges the candidates of one search ahead of the point where the list decides them: a few
// threads of its own run JudgeCandidateFile on the queued paths, several at once, and the
// verdicts come out in the order the paths were queued. At most MaxQueued paths are held
// (waiting, being judged, or judged and not yet taken), so however large the tree, the
// look-ahead reads no more than that many files ahead of the list and memory stays flat.
class ContentPipeline
{
public:
    // A candidate whose verdict is ready.
    struct Judged
    {
        std::string Bytes; // the path as the walk found it
        QString Path;      // decoded as DecodeFileName does
        CandidateVerdict Verdict;
    };

    // Files judged at once: twice the processors, so that the cores stay busy while half of
    // the threads wait for a disk or for the extraction server (which parses in parallel
    // children), and the server sees a few requests in flight, not a flood.
    static int DefaultThreadCount();
    // Paths held: enough that the threads keep going for a long while past one slow document
    // at the front, and still only a few hundred kilobytes of paths.
    static constexpr int kDefaultMaxQueued = 512;

    explicit ContentPipeline(const QString &textToFind, int threadCount = DefaultThreadCount(),
                             int maxQueued = kDefaultMaxQueued);
    // Cancels and waits for the threads.
    ~ContentPipeline();

    ContentPipeline(const ContentPipeline &) = delete;
    ContentPipeline &operator=(const ContentPipeline &) = delete;

    const QString &TextToFind() const { return m_text; }

    // Whether MaxQueued paths are held; Queue ignores a path then.
    bool IsFull() const;
    // Whether no path is held.
    bool IsEmpty() const;
    // An open folder shared with the paths queued from it, closed when the last is judged.
    using FolderHandle = std::shared_ptr<const UniqueFd>;
    // Open folders shared at once at most: a few hundred paths held span far fewer folders.
    static constexpr int kMaxSharedFolders = 64;
    // A handle on a copy of the descriptor of an open folder; empty when kMaxSharedFolders
    // are shared or no descriptor is left (its paths are then opened by their whole path).
    FolderHandle ShareFolder(int folderFd);

    // Holds a found path to be judged; threads start as paths need them. Ignored once
    // cancelled or when full; returns whether the path was taken. With a Folder, the path is
    // that folder's path followed (from NameStart on) by a name in it, opened relative to it.
    bool Queue(std::string_view bytes, FolderHandle folder = {}, std::size_t nameStart = 0);
    // Whether the oldest path held is judged.
    bool IsReady() const;
    // The path the verdicts in order wait for: the oldest one held and not yet judged; empty
    // when the oldest is judged or none is held.
    QString AwaitedPath() const;
    // Waits until the first Count paths held (all of them, when fewer) are judged, the
    // pipeline is cancelled or TimeoutMs has passed; true when they are.
    bool WaitForReady(int timeoutMs, std::size_t count = 1);
    // Moves the judged paths at the front into Out, in order, up to the first not judged.
    void TakeReady(std::deque<Judged> &out);

    // From any thread: drops every path held at once; the tests under way end at their next
    // check (ContentTestCancelScope) and their verdicts are never given out. Final.
    void Cancel();
    bool IsCancelled() const { return m_cancelled.load(); }
    // Cancel, then waits for the threads.
    void Finish();

private:
    // A slot of the ring of held paths; reused, with its capacity, once its verdict is taken.
    struct Entry
    {
        std::string Bytes;
        FolderHandle Folder;
        std::size_t NameStart = 0;
        QString Path;
        CandidateVerdict Verdict;
        bool Quick = false; // a plain-text or skipped file: judged in runs with its neighbours
        bool Done = false;
    };

    void Run();
    // Fills the entry's Path and Verdict; the entry is not yet Done (or not yet held).
    static void Judge(Entry &entry, const QString &text);
    Entry &Slot(std::uint64_t serial) { return m_slots[serial % m_slots.size()]; }
    // Extends the verdicts ready from the front, waking the taker once it has what it waits
    // for (lock held).
    void AdvanceReady();
    // Wakes up to Count sleeping threads not woken yet (lock held).
    void WakeThreads(std::size_t count);

    const QString m_text;
    const int m_threadCount;
    const std::size_t m_maxQueued;
    std::atomic<bool> m_cancelled{false};
    // Folders shared now; held by the handles' deleters, which may outlive the pipeline.
    std::shared_ptr<std::atomic<int>> m_sharedFolders = std::make_shared<std::atomic<int>>(0);
    mutable std::mutex m_mutex;
    std::condition_variable m_work;  // threads wait for paths
    std::condition_variable m_ready; // the taker waits for the verdicts at the front
    // Held paths by serial (counting the paths queued); a thread judging a slot after a cancel
    // still finds it there, as no path is queued after a cancel.
    std::vector<Entry> m_slots;
    std::uint64_t m_front = 0;       // serial of the oldest path held
    std::size_t m_count = 0;         // paths held
    std::uint64_t m_nextToJudge = 0; // serial
    std::size_t m_readyCount = 0;    // paths from the front on that are judged
    // The taker waits for this many verdicts at the front (or all held, when fewer).
    std::size_t m_readyWanted = 0;
    int m_readyWaiters = 0;
    int m_idleThreads = 0;
    int m_wakesPending = 0; // threads woken that have not yet taken the lock
    std::vector<std::thread> m_threads;
};

} // namespace dv
