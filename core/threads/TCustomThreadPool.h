#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace dv {

class TDvThread;

// A list of threads (TDvThread) with a thread limit, a pause switch and a bounded stop.
class TCustomThreadPool
{
    friend class TDvThread;

public:
    using TThreadEvent = std::function<void(TCustomThreadPool *pSender, TDvThread *pThread)>;
    using TPoolEvent = std::function<void(TCustomThreadPool *pSender)>;

    TCustomThreadPool();
    // Stops every thread (TerminateThreads(true)) and waits until no thread runs the pool's
    // code any more.
    virtual ~TCustomThreadPool();

    TCustomThreadPool(const TCustomThreadPool &) = delete;
    TCustomThreadPool &operator=(const TCustomThreadPool &) = delete;

    // Adds the thread under the lock; it gets this pool and is started when the pool's thread
    // count does not exceed MaxRunningThreads.
    virtual void AddThread(const std::shared_ptr<TDvThread> &pThread);
    // A thread of the pool ended (called by the thread itself).
    virtual void ThreadTerminated(TDvThread *pThread);
    // Asks every thread to end; with pForce waits for each (running pending main-thread calls
    // when on the main thread) and abandons one that does not end in MaxTimeUntilHardTerminate.
    virtual void TerminateThreads(bool pForce);

    int ThreadCount() const;
    bool IsTerminated() const;

    int GetMaxRunningThreads() const;
    void SetMaxRunningThreads(int pValue);
    int GetMaxTimeUntilHardTerminate() const;
    void SetMaxTimeUntilHardTerminate(int pMilliseconds);
    bool GetPaused() const;
    void SetPaused(bool pValue);

    // Called on the main thread (the thread waits) when a thread of the pool ended.
    void SetOnThreadTerminated(TThreadEvent pValue);
    // Called when the last thread of the pool ended.
    void SetOnAllThreadsTerminated(TPoolEvent pValue);

protected:
    virtual void DoAllThreadsTerminated();
    void DoThreadTerminated(TDvThread *pThread);
    // Removes the thread from the list; true when the list is empty afterwards.
    bool RemoveThread(TDvThread *pThread);
    // Hook of ThreadTerminated after the removal, under fLock (a replacement thread).
    virtual void AfterThreadRemoved();
    // Terminate request (and start when suspended) for every listed thread.
    void RequestTerminationOfAllThreads();
    // The waiting half of TerminateThreads(true).
    void WaitForThreads();
    // Destructors: waits until threads that left the list (ended or abandoned) have also
    // left the pool's code.
    void WaitForLeftThreads();
    bool IsListed(const TDvThread *pThread) const;
    // Text of the hard-terminate message for pThread.
    virtual QString HardTerminateMessage(TDvThread *pThread) const;

    // Ends a stop: clears fTerminated when no thread is left (under fLock).
    void EndStopping();

    mutable std::recursive_mutex fLock; // guards fThreads
    std::vector<std::shared_ptr<TDvThread>> fThreads;
    std::atomic<bool> fTerminated{false};
    // TerminateThreads calls in progress: fTerminated stays set until they end, so that
    // the callbacks they cause see it even when the threads leave early.
    std::atomic<int> fStopping{0};

private:
    void Abandon(const std::shared_ptr<TDvThread> &pThread);

    std::atomic<int> fMaxRunningThreads;
    std::atomic<bool> fPaused{false};
    std::atomic<int> fMaxTimeUntilHardTerminate{3000};
    std::mutex fEventLock;
    TThreadEvent fOnThreadTerminated;
    TPoolEvent fOnAllThreadsTerminated;
    std::vector<std::shared_ptr<TDvThread>> fLeftThreads; // under fLock
};

// Number of processors available to this process (at least 1).
int ProcessorCount();

} // namespace dv
