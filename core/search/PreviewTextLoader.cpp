#include "core/search/PreviewTextLoader.h"

#include "core/search/ContentTestCancelScope.h"
#include "core/search/TextExtraction.h"
#include "core/threads/MainThreadQueue.h"

#include <pthread.h>

namespace dv {

PreviewTextLoader::PreviewTextLoader(Handler handler) : m_shared(std::make_shared<Shared>())
{
    m_shared->handler = std::move(handler);
}

PreviewTextLoader::~PreviewTextLoader()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_pending.reset();
        if (m_running)
            m_running->store(true);
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_shared->handler = nullptr;
}

quint64 PreviewTextLoader::Request(const QString &path, int maxBytes)
{
    auto job = std::make_unique<Job>();
    job->path = path;
    job->maxBytes = maxBytes;
    job->ticket = ++m_shared->latest;
    job->cancelled = std::make_shared<std::atomic<bool>>(false);
    m_shared->loading = true;
    {
        const std::lock_guard lock(m_mutex);
        if (m_running)
            m_running->store(true);
        m_pending = std::move(job);
    }
    m_wake.notify_all();
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
    return m_shared->latest;
}

void PreviewTextLoader::Cancel()
{
    ++m_shared->latest;
    m_shared->loading = false;
    const std::lock_guard lock(m_mutex);
    m_pending.reset();
    if (m_running)
        m_running->store(true);
}

bool PreviewTextLoader::IsLoading() const
{
    return m_shared->loading;
}

void PreviewTextLoader::Run()
{
    pthread_setname_np(pthread_self(), "dv-preview");
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_pending; });
            if (m_stopping)
                return;
            job = std::move(m_pending);
            m_running = job->cancelled;
        }
        QString text;
        bool cut = false;
        {
            const ContentTestCancelScope scope(*job->cancelled);
            // A missing file, a folder or anything else unreadable yields no text.
            if (!ExtractText(job->path, job->maxBytes, text, &cut))
                text.clear();
        }
        {
            const std::lock_guard lock(m_mutex);
            m_running.reset();
        }
        if (job->cancelled->load())
            continue;
        auto answer = std::make_shared<PreviewContent>(Normalise(text, cut && !text.isEmpty()));
        MainThreadQueue::Post([shared = m_shared, ticket = job->ticket, answer] {
            // A later request, a cancel or the loader's end makes this answer stale.
            if (ticket != shared->latest || !shared->handler)
                return;
            shared->loading = false;
            shared->handler(ticket, std::move(*answer));
        });
    }
}

PreviewContent PreviewTextLoader::Normalise(const QString &text, bool cut)
{
    PreviewContent result;
    result.cut = cut;
    result.shown.reserve(text.size());
    result.text.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() &&
                text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            result.breaks.push_back(result.shown.size());
            result.shown.append(QLatin1Char('\n'));
            result.text.append(QLatin1String("\r\n"));
        } else {
            result.shown.append(c);
            result.text.append(c);
        }
    }
    return result;
}

} // namespace dv
