#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace dv {

// The preview's text of a file, as the preview shows it.
struct PreviewContent
{
    // Every CR LF, lone CR and lone LF as CR LF: the text the positions count in.
    QString text;
    // One LF per break: the text the box holds.
    QString shown;
    // Positions in Shown of its breaks.
    std::vector<qsizetype> breaks;
    // Only the first part of a longer text.
    bool cut = false;
};

// Fetches the preview's text of one file at a time on its own thread, so that the window
// never waits for the extraction server or a large document. A new request cancels the one
// under way; an answer reaches the handler on the main thread (MainThreadQueue::Post) only
// while its request is still the latest one.
class PreviewTextLoader
{
public:
    // Ticket: the number Request gave; Text is empty when the file gave no text.
    using Handler = std::function<void(quint64 ticket, PreviewContent text)>;

    explicit PreviewTextLoader(Handler handler);
    // Cancels the request under way and waits for the thread (a server exchange sees the
    // cancel within its next progress report).
    ~PreviewTextLoader();
    PreviewTextLoader(const PreviewTextLoader &) = delete;
    PreviewTextLoader &operator=(const PreviewTextLoader &) = delete;

    // Main thread: asks for the text of Path (a plain-text file at most MaxBytes bytes) and
    // drops every earlier request. Returns the request's ticket.
    quint64 Request(const QString &path, int maxBytes);
    // Main thread: drops the request under way; its answer never comes.
    void Cancel();
    // Main thread: a request's answer is still to come.
    bool IsLoading() const;

    // Line breaks as the preview counts them (see PreviewContent).
    static PreviewContent Normalise(const QString &text, bool cut);

private:
    struct Job
    {
        QString path;
        int maxBytes = 0;
        quint64 ticket = 0;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    // What the posted answers look at; outlives the loader while answers are queued.
    struct Shared
    {
        Handler handler;
        quint64 latest = 0;   // main thread only
        bool loading = false; // main thread only
    };

    void Run();

    std::shared_ptr<Shared> m_shared;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::unique_ptr<Job> m_pending;               // guarded by m_mutex
    std::shared_ptr<std::atomic<bool>> m_running; // cancel flag of the job under way
    bool m_stopping = false;                      // guarded by m_mutex
    std::thread m_thread;
};

} // namespace dv
