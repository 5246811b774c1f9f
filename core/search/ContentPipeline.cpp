#include "core/search/ContentPipeline.h"

#include "core/platform/FileName.h"
#include "core/search/ContentMatcher.h"
#include "core/search/ExtractionClient.h"
#include "core/search/FolderRelativeOpenScope.h"
#include "core/search/TextExtraction.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <system_error>

namespace dv {

int ContentPipeline::DefaultThreadCount()
{
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(2 * processors, 2, 32);
}

namespace {

// Consecutive quick paths a thread takes at once: one lock round per run instead of per path.
constexpr std::size_t kMaxRun = 16;
// Paths waiting that wake a sleeping thread while another is busy.
constexpr std::size_t kWakeBacklog = 2 * kMaxRun;

// Whether the path's extension (ASCII case ignored) is one of a plain-text file read here or
// of a file never read: such a test is over in microseconds, never waits for the server.
bool IsQuickToJudge(std::string_view bytes)
{
    static const std::vector<std::string> extensions = [] {
        std::vector<std::string> all(TextExtensions.begin(), TextExtensions.end());
        all.insert(all.end(), SkippedExtensions.begin(), SkippedExtensions.end());
        std::sort(all.begin(), all.end());
        return all;
    }();
    const std::size_t dot = bytes.rfind('.');
    if (dot == std::string_view::npos || bytes.find('/', dot) != std::string_view::npos ||
        bytes.size() - dot > 16)
        return false;
    char lower[16];
    const std::size_t length = bytes.size() - dot;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = bytes[dot + i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return std::binary_search(extensions.begin(), extensions.end(),
                              std::string_view(lower, length));
}

} // namespace

ContentPipeline::ContentPipeline(const QString &textToFind, int threadCount, int maxQueued)
    : m_text(textToFind), m_threadCount(std::max(threadCount, 1)),
      m_maxQueued(static_cast<std::size_t>(std::max(maxQueued, 1))), m_slots(m_maxQueued)
{}

ContentPipeline::~ContentPipeline()
{
    Finish();
}

bool ContentPipeline::IsFull() const
{
    std::lock_guard lock(m_mutex);
    return m_count >= m_maxQueued;
}

bool ContentPipeline::IsEmpty() const
{
    std::lock_guard lock(m_mutex);
    return m_count == 0;
}

ContentPipeline::FolderHandle ContentPipeline::ShareFolder(int folderFd)
{
    if (m_sharedFolders->fetch_add(1) >= kMaxSharedFolders) {
        --*m_sharedFolders;
        return {};
    }
    UniqueFd copy(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
    try {
        if (copy)
            return FolderHandle(new UniqueFd(std::move(copy)),
                                [count = m_sharedFolders](const UniqueFd *fd) {
                                    delete fd;
                                    --*count;
                                });
    } catch (...) {
    }
    --*m_sharedFolders;
    return {};
}

bool ContentPipeline::Queue(std::string_view bytes, FolderHandle folder, std::size_t nameStart)
{
    const bool quick = IsQuickToJudge(bytes);
    std::unique_lock lock(m_mutex);
    if (m_cancelled || m_count >= m_maxQueued)
        return false;
    const std::uint64_t serial = m_front + m_count;
    Entry &entry = Slot(serial);
    entry.Bytes.assign(bytes);
    entry.Folder = std::move(folder);
    entry.NameStart = entry.Folder ? std::min(nameStart, bytes.size()) : 0;
    entry.Quick = quick;
    entry.Done = false;
    ++m_count;
    const std::size_t waiting = static_cast<std::size_t>(m_front + m_count - m_nextToJudge);
    const std::size_t idle = static_cast<std::size_t>(m_idleThreads - m_wakesPending);
    if (idle >= waiting || m_threads.size() >= static_cast<std::size_t>(m_threadCount)) {
        // A busy thread takes it when it comes back: a sleeping one is woken only when none
        // is busy or a backlog has built up, not for every path (each wake is a switch).
        if (idle > 0 && (idle == m_threads.size() || waiting >= kWakeBacklog))
            WakeThreads(1);
        return true;
    }
    try {
        m_threads.emplace_back([this] { Run(); });
        return true;
    } catch (const std::system_error &) {
        if (!m_threads.empty())
            return true; // those there judge it
    }
    // No thread to be had: judged here, as without a pipeline.
    ++m_nextToJudge;
    lock.unlock();
    {
        const ContentTestCancelScope cancelScope(m_cancelled);
        Judge(entry, m_text);
    }
    lock.lock();
    if (m_cancelled)
        return false;
    entry.Done = true;
    AdvanceReady();
    return true;
}

void ContentPipeline::Judge(Entry &entry, const QString &text)
{
    QString path;
    CandidateVerdict verdict;
    try {
        path = DecodeFileName(entry.Bytes.data(), entry.Bytes.size());
        if (entry.Folder) {
            const FolderRelativeOpenScope at(path, entry.Folder->get(),
                                             entry.Bytes.c_str() + entry.NameStart);
            verdict = JudgeCandidateFile(path, text);
        } else {
            verdict = JudgeCandidateFile(path, text);
        }
    } catch (...) {
        verdict = CandidateVerdict(); // out of memory: refused
    }
    entry.Folder.reset(); // the folder closes once its last path is judged
    entry.Path = std::move(path);
    entry.Verdict = std::move(verdict);
}

bool ContentPipeline::IsReady() const
{
    std::lock_guard lock(m_mutex);
    return m_readyCount > 0;
}

QString ContentPipeline::AwaitedPath() const
{
    std::lock_guard lock(m_mutex);
    if (m_readyCount > 0 || m_count == 0)
        return {};
    const std::string &bytes = m_slots[m_front % m_slots.size()].Bytes;
    return DecodeFileName(bytes.data(), bytes.size());
}

bool ContentPipeline::WaitForReady(int timeoutMs, std::size_t count)
{
    std::unique_lock lock(m_mutex);
    count = std::max<std::size_t>(count, 1);
    const auto ready = [&] {
        return m_cancelled || (m_readyCount > 0 && m_readyCount >= std::min(count, m_count));
    };
    if (ready())
        return !m_cancelled;
    // The taker is about to sleep: every path waiting gets a thread now.
    const std::size_t waiting = static_cast<std::size_t>(m_front + m_count - m_nextToJudge);
    WakeThreads((waiting + kMaxRun - 1) / kMaxRun);
    m_readyWanted = m_readyWaiters++ == 0 ? count : std::min(m_readyWanted, count);
    const bool done = m_ready.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    --m_readyWaiters;
    return done && !m_cancelled;
}

void ContentPipeline::TakeReady(std::deque<Judged> &out)
{
    std::lock_guard lock(m_mutex);
    for (; m_readyCount > 0; --m_readyCount) {
        Entry &entry = Slot(m_front);
        out.push_back({std::move(entry.Bytes), std::move(entry.Path), std::move(entry.Verdict)});
        ++m_front;
        --m_count;
    }
}

void ContentPipeline::WakeThreads(std::size_t count)
{
    for (; count > 0 && m_idleThreads > m_wakesPending; --count) {
        ++m_wakesPending;
        m_work.notify_one();
    }
}

void ContentPipeline::AdvanceReady()
{
    if (m_cancelled)
        return;
    while (m_readyCount < m_count && Slot(m_front + m_readyCount).Done)
        ++m_readyCount;
    // Woken once per batch it waits for, not once per verdict.
    if (m_readyWaiters > 0 && m_readyCount > 0 && m_readyCount >= std::min(m_readyWanted, m_count))
        m_ready.notify_all();
}

void ContentPipeline::Cancel()
{
    m_cancelled = true;
    std::lock_guard lock(m_mutex);
    // The folders of the paths dropped close now, but for those of tests under way.
    for (std::uint64_t serial = m_front; serial < m_front + m_count; ++serial)
        if (serial >= m_nextToJudge || Slot(serial).Done)
            Slot(serial).Folder.reset();
    m_front += m_count;
    m_nextToJudge = m_front;
    m_count = 0;
    m_readyCount = 0;
    m_work.notify_all();
    m_ready.notify_all();
}

void ContentPipeline::Finish()
{
    Cancel();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        threads.swap(m_threads);
    }
    for (std::thread &thread : threads)
        thread.join();
}

void ContentPipeline::Run()
{
    // A cancel ends a server exchange or a raw scan of this thread at its next check.
    const ContentTestCancelScope cancelScope(m_cancelled);
    const QString text = m_text;
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_idleThreads;
        m_work.wait(lock, [this] { return m_cancelled || m_nextToJudge < m_front + m_count; });
        --m_idleThreads;
        if (m_wakesPending > 0)
            --m_wakesPending;
        if (m_cancelled)
            return;
        // Quick paths in a run, a share of those waiting, so that every thread gets some;
        // a document alone, so that one slow exchange holds back no other.
        const std::uint64_t first = m_nextToJudge;
        const std::size_t waiting = static_cast<std::size_t>(m_front + m_count - first);
        const std::size_t share =
            std::clamp<std::size_t>(waiting / static_cast<std::size_t>(m_threadCount), 1, kMaxRun);
        std::size_t run = 1;
        if (Slot(first).Quick)
            while (run < share && Slot(first + run).Quick)
                ++run;
        m_nextToJudge += run;
        lock.unlock();
        std::size_t judged = 0;
        for (; judged < run && !m_cancelled; ++judged)
            Judge(Slot(first + judged), text);
        lock.lock();
        if (m_cancelled)
            return;
        for (std::size_t i = 0; i < judged; ++i)
            Slot(first + i).Done = true;
        AdvanceReady();
    }
}

} // namespace dv
