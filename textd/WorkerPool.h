#pragma once

#include "textd/extract/Extract.h"

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
        Done,       // the worker answered: see status
        Crashed,    // the worker died (crash, memory or processor-time limit)
        TimedOut,   // no answer within the wall time; the worker was killed
        Unavailable // no worker could be started
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
        int jobsPerWorker = 1000; // a worker is renewed after this many documents
        ExtractLimits limits;
    };

    explicit WorkerPool(const Settings &settings);
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;
    ~WorkerPool();

    // Starts the spawner thread and the children, ahead of the first request.
    void start();
    // Parses one document in a child, within the wall time.
    JobOutcome run(const RequestBody &body, const QByteArray &typeHint, const QByteArray &nameHint);

private:
    struct Worker
    {
        pid_t pid = -1;
        int fd = -1;
        bool ready = false;
        int jobs = 0;
    };

    std::optional<Worker> acquire(std::chrono::steady_clock::time_point deadline);
    void release(Worker worker);
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
