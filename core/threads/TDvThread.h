#pragma once

#include "core/threads/TCustomCancellationToken.h"
#include "core/threads/TTaskStatus.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace dv {

class TCustomThreadPool;

// A platform thread that starts suspended (Start runs it) and keeps itself alive until its
// run ends. Owned by the pool's list and by itself while it runs; an abandoned thread is
// detached from its pool and finishes unobserved.
class TDvThread : public std::enable_shared_from_this<TDvThread>
{
public:
    explicit TDvThread(std::shared_ptr<ICancellationIndicator> pCancellationIndicator = nullptr);
    virtual ~TDvThread();

    TDvThread(const TDvThread &) = delete;
    TDvThread &operator=(const TDvThread &) = delete;

    // Starts the suspended thread; nothing when it already runs.
    void Start();
    bool IsStarted() const;

    // Asks the thread to end (cooperatively): sets the terminated flag and runs TerminatedSet.
    void Terminate();
    // Terminate requested, or the cancellation indicator reports cancellation.
    bool IsTerminated() const;
    // The run has ended (set just before the thread reports to its pool).
    bool IsFinished() const;

    TTaskStatus GetStatus() const;
    bool GetBackgroundMode() const;
    void SetBackgroundMode(bool pValue);
    virtual void SetPaused(bool pValue);
    bool IsPaused() const;

    // The kernel thread ID (0 before the thread runs).
    long GetThreadID() const;
    // Class name shown in messages and used as the default thread name.
    QString ClassName() const;
    // The name given to the thread (15 characters reach the kernel).
    void SetThreadName(const QString &pName);

    // Pool link. The thread reaches its pool only between EnterPool and LeavePool; a detached
    // (abandoned) thread gets nullptr and must not report anything.
    TCustomThreadPool *EnterPool();
    void LeavePool();
    void AttachToPool(TCustomThreadPool *pPool);
    bool IsDetached() const;
    // True when no pool call of this thread is in progress.
    bool IsOutOfPool() const;
    // The pool gives up on the thread: detached from the pool, status Canceled. The thread
    // runs on unobserved and frees itself at its end.
    virtual void Abandon();

protected:
    // The thread's work.
    virtual void Execute() = 0;
    // Runs on the requesting thread when termination is requested.
    virtual void TerminatedSet();
    // End of the run, on the ending thread: marks finished, then reports to the pool.
    virtual void DoTerminate();
    void SetStatus(TTaskStatus pValue);

private:
    void Run();

    std::shared_ptr<ICancellationIndicator> fCancellationIndicator;
    std::atomic<bool> fStarted{false};
    std::atomic<bool> fTerminated{false};
    std::atomic<bool> fIsFinished{false};
    std::atomic<bool> fPaused{false};
    std::atomic<bool> fBackgroundMode{false};
    std::atomic<TTaskStatus> fStatus{TTaskStatus::WaitingToRun};
    std::atomic<long> fThreadID{0};
    std::mutex fNameLock;
    QString fName;

    mutable std::mutex fPoolLock;
    TCustomThreadPool *fThreadPool = nullptr;
    bool fDetached = false;
    int fPoolUsers = 0;
};

} // namespace dv
