#pragma once

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
    // Holds a found path to be judged; threads start as paths need them. Ignored once
    // cancelled or when full; returns whether the path was taken.
    bool Queue(std::string_view bytes);
    // Whether the oldest path held is judged.
    bool IsReady() const;
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
    struct Entry
    {
        std::string Bytes;
        QString Path;
        CandidateVerdict Verdict;
        std::uint64_t Serial = 0; // counts the paths queued
        bool Done = false;
    };

    void Run();
    // Fills the entry's Path and Verdict; the entry is not yet Done (or not yet held).
    static void Judge(Entry &entry, const QString &text);
    // Marks a held entry Done (lock held).
    void MarkJudged(Entry &entry);

    const QString m_text;
    const int m_threadCount;
    const std::size_t m_maxQueued;
    std::atomic<bool> m_cancelled{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_work;  // threads wait for paths
    std::condition_variable m_ready; // the taker waits for the oldest verdict
    // Shared with the thread judging an entry, which may outlive the entry's place here.
    std::deque<std::shared_ptr<Entry>> m_entries;
    std::size_t m_nextToJudge = 0; // index in m_entries
    std::size_t m_readyCount = 0;  // entries from the front on that are judged
    std::uint64_t m_frontSerial = 0;
    int m_idleThreads = 0;
    std::vector<std::thread> m_threads;
};

} // namespace dv
