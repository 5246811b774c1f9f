#pragma once

#include "textd/extract/Extract.h"
#include "textd/WorkerProtocol.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace dv::textd {

class RequestBody;

// How one parse ended, as far as the server can tell.
struct JobOutcome
{
    enum class Kind
    {
        Done,        // the worker answered: see status
        Partial,     // text so far; the worker goes on (WorkerPool::next gives more)
        Crashed,     // the worker died (crash, memory or processor-time limit)
        TimedOut,    // no answer within the wall time; the worker was killed
        Unavailable, // no worker could be started
        ClientGone   // the client hung up; the worker was stopped
    };
    Kind kind = Kind::Unavailable;
    ExtractStatus status = ExtractStatus::Unsupported;
    QByteArray utf8Text;
    QString error;
};

// Parser children: the server's own executable started in worker mode, each with its own
// memory limit, given one document at a time over a socket pair. A child that dies, runs out
// of time or retires is reaped and replaced. Thread-safe; run() blocks the calling thread.
class WorkerPool
{
public:
    struct Settings
    {
        int workers = 2;
        int timeoutSeconds = 120;
        int cpuLimitSeconds = 120;
        qint64 memoryLimitMiB = 2048;
        int jobsPerWorker = 1000;     // a worker is renewed after this many documents
        qint64 retireMemoryMiB = 512; // ... or after a document that left it this large
        ExtractLimits limits;
    };

private:
    struct Worker
    {
        pid_t pid = -1;
        int fd = -1;
        bool ready = false;
        int jobs = 0;
    };

public:
    // One parse under way. Its child stays with it until the final answer; a job dropped
    // before that (its client went away) stops the child.
    class Job
    {
    public:
        Job() = default;
        Job(const Job &) = delete;
        Job &operator=(const Job &) = delete;
        ~Job();

    private:
        friend class WorkerPool;
        WorkerPool *m_pool = nullptr;
        std::optional<Worker> m_worker;
        std::chrono::steady_clock::time_point m_deadline;
        int m_clientFd = -1;
    };

    explicit WorkerPool(const Settings &settings);
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;
    ~WorkerPool();

    // Starts the spawner thread and the children, ahead of the first request.
    void start();
    // Starts parsing one document in a child, within the wall time, and waits for its first
    // answer: the whole outcome, or Partial when the text comes in pieces (then call next()
    // until another kind). ClientFd, when given, is watched: a client that hangs up while it
    // waits ends the parse.
    JobOutcome run(Job &job, const RequestBody &body, const QByteArray &typeHint,
                   const QByteArray &nameHint, int clientFd = -1);
    JobOutcome next(Job &job);

private:
    // Reads the child's next answer; *Killed tells a child killed from outside.
    JobOutcome receive(Job &job, bool *killed);
    // Ends the job's child after a failed exchange and tells how it ended.
    JobOutcome failed(Job &job, protocol::IoResult io, bool *killed);

    std::optional<Worker> acquire(std::chrono::steady_clock::time_point deadline);
    void release(Worker worker, bool didJob);
    // Ends the child (killing it unless Graceful) and reaps it; returns its wait status.
    int endWorker(Worker &worker, bool graceful);
    // Starts a child in the place of one just ended.
    void replaceEnded();
    // Ends the child, reports Why (when given) and replaces it.
    void discard(Worker &worker, bool graceful, const char *why);
    std::optional<Worker> spawn();
    void spawnLoop();
    void requestSpawnLocked();
    bool awaitReady(Worker &worker, std::chrono::steady_clock::time_point deadline);

    Settings m_settings;
    std::mutex m_mutex;
    std::condition_variable m_freed;       // a child became idle, or a start failed
    std::condition_variable m_spawnWanted; // wakes the spawner thread
    std::vector<Worker> m_idle;
    int m_live = 0; // children alive or being started, idle or busy
    int m_spawnsWanted = 0;
    int m_spawnFailures = 0;
    bool m_stopping = false;
    std::thread m_spawner;
};

} // namespace dv::textd
