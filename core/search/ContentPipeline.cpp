#include "core/search/ContentPipeline.h"

#include "core/platform/FileName.h"
#include "core/search/ExtractionClient.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace dv {

int ContentPipeline::DefaultThreadCount()
{
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(2 * processors, 2, 32);
}

ContentPipeline::ContentPipeline(const QString &textToFind, int threadCount, int maxQueued)
    : m_text(textToFind), m_threadCount(std::max(threadCount, 1)),
      m_maxQueued(static_cast<std::size_t>(std::max(maxQueued, 1)))
{}

ContentPipeline::~ContentPipeline()
{
    Finish();
}

bool ContentPipeline::IsFull() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.size() >= m_maxQueued;
}

bool ContentPipeline::IsEmpty() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.empty();
}

bool ContentPipeline::Queue(std::string_view bytes)
{
    auto entry = std::make_shared<Entry>();
    entry->Bytes.assign(bytes);
    std::unique_lock lock(m_mutex);
    if (m_cancelled || m_entries.size() >= m_maxQueued)
        return false;
    entry->Serial = m_frontSerial + m_entries.size();
    m_entries.push_back(entry);
    const std::size_t waiting = m_entries.size() - m_nextToJudge;
    if (static_cast<std::size_t>(m_idleThreads) >= waiting ||
        m_threads.size() >= static_cast<std::size_t>(m_threadCount)) {
        m_work.notify_one();
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
    m_entries.pop_back();
    lock.unlock();
    {
        const ContentTestCancelScope cancelScope(m_cancelled);
        Judge(*entry, m_text);
    }
    lock.lock();
    if (m_cancelled || m_entries.size() >= m_maxQueued)
        return false;
    m_entries.push_back(entry);
    ++m_nextToJudge;
    MarkJudged(*entry);
    return true;
}

void ContentPipeline::Judge(Entry &entry, const QString &text)
{
    QString path;
    CandidateVerdict verdict;
    try {
        path = DecodeFileName(entry.Bytes.data(), entry.Bytes.size());
        verdict = JudgeCandidateFile(path, text);
    } catch (...) {
        verdict = CandidateVerdict(); // out of memory: refused
    }
    entry.Path = std::move(path);
    entry.Verdict = std::move(verdict);
}

bool ContentPipeline::IsReady() const
{
    std::lock_guard lock(m_mutex);
    return m_readyCount > 0;
}

bool ContentPipeline::WaitForReady(int timeoutMs, std::size_t count)
{
    std::unique_lock lock(m_mutex);
    return m_ready.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return m_cancelled ||
               (m_readyCount > 0 && m_readyCount >= std::min(count, m_entries.size()));
    }) && !m_cancelled;
}

void ContentPipeline::TakeReady(std::deque<Judged> &out)
{
    std::lock_guard lock(m_mutex);
    for (; m_readyCount > 0; --m_readyCount) {
        Entry &entry = *m_entries.front();
        out.push_back({std::move(entry.Bytes), std::move(entry.Path), std::move(entry.Verdict)});
        m_entries.pop_front();
        ++m_frontSerial;
        --m_nextToJudge;
    }
}

void ContentPipeline::MarkJudged(Entry &entry)
{
    entry.Done = true;
    // The verdicts from the front on that are ready: extended when this one joins them.
    if (m_cancelled || entry.Serial - m_frontSerial != m_readyCount)
        return;
    while (m_readyCount < m_entries.size() && m_entries[m_readyCount]->Done)
        ++m_readyCount;
    m_ready.notify_all();
}

void ContentPipeline::Cancel()
{
    m_cancelled = true;
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_nextToJudge = 0;
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
        m_work.wait(lock, [this] { return m_cancelled || m_nextToJudge < m_entries.size(); });
        --m_idleThreads;
        if (m_cancelled)
            return;
        const std::shared_ptr<Entry> entry = m_entries[m_nextToJudge++];
        lock.unlock();
        Judge(*entry, text);
        lock.lock();
        MarkJudged(*entry);
    }
}

} // namespace dv
