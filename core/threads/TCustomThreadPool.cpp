#include "core/threads/TCustomThreadPool.h"

#include "core/platform/Ticks.h"
#include "core/threads/ExceptionReport.h"
#include "core/threads/MainThreadQueue.h"
#include "core/threads/TDvThread.h"

#include <QDebug>

#include <algorithm>
#include <chrono>
#include <sched.h>
#include <thread>

namespace dv {

int ProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

void Sleep(int pMilliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(pMilliseconds));
}

void RunPendingIfMain(bool pOnMainThread)
{
    if (pOnMainThread)
        MainThreadQueue::RunPending();
}

} // namespace

TCustomThreadPool::TCustomThreadPool() : fMaxRunningThreads(3 * ProcessorCount() + 2) {}

TCustomThreadPool::~TCustomThreadPool()
{
    TCustomThreadPool::TerminateThreads(true);
    WaitForLeftThreads();
}

void TCustomThreadPool::AddThread(const std::shared_ptr<TDvThread> &pThread)
{
    if (!pThread)
        return;
    std::lock_guard<std::recursive_mutex> guard(fLock);
    fThreads.push_back(pThread);
    pThread->AttachToPool(this);
    if (fPaused.load())
        pThread->SetPaused(true);
    if (!pThread->IsStarted() && fMaxRunningThreads.load() >= static_cast<int>(fThreads.size())) {
        try {
            pThread->Start();
        } catch (...) {
            fThreads.pop_back();
            pThread->Abandon();
            throw;
        }
    }
}

bool TCustomThreadPool::RemoveThread(TDvThread *pThread)
{
    auto it = std::find_if(fThreads.begin(), fThreads.end(),
                           [pThread](const auto &thread) { return thread.get() == pThread; });
    if (it == fThreads.end())
        return false;
    // Kept until the thread is out of our code, so the destructor can wait for it.
    fLeftThreads.erase(std::remove_if(fLeftThreads.begin(), fLeftThreads.end(),
                                      [](const auto &thread) { return thread->IsOutOfPool(); }),
                       fLeftThreads.end());
    fLeftThreads.push_back(*it);
    fThreads.erase(it);
    return true;
}

void TCustomThreadPool::ThreadTerminated(TDvThread *pThread)
{
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (!RemoveThread(pThread))
        return;
    AfterThreadRemoved();
    if (fThreads.empty()) {
        DoAllThreadsTerminated();
        if (fStopping.load() == 0)
            fTerminated.store(false);
    }
}

void TCustomThreadPool::EndStopping()
{
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (fStopping.fetch_sub(1) == 1 && fThreads.empty())
        fTerminated.store(false);
}

void TCustomThreadPool::AfterThreadRemoved() {}

void TCustomThreadPool::DoThreadTerminated(TDvThread *pThread)
{
    TThreadEvent onThreadTerminated;
    {
        std::lock_guard<std::mutex> guard(fEventLock);
        onThreadTerminated = fOnThreadTerminated;
    }
    if (!onThreadTerminated)
        return;
    try {
        MainThreadQueue::RunBlocking([&] { onThreadTerminated(this, pThread); });
    } catch (const MainThreadQueueClosed &) {
    } catch (...) {
        ReportException(std::current_exception());
    }
}

void TCustomThreadPool::DoAllThreadsTerminated()
{
    TPoolEvent onAllThreadsTerminated;
    {
        std::lock_guard<std::mutex> guard(fEventLock);
        onAllThreadsTerminated = fOnAllThreadsTerminated;
    }
    if (!onAllThreadsTerminated)
        return;
    try {
        onAllThreadsTerminated(this);
    } catch (...) {
        ReportException(std::current_exception());
    }
}

void TCustomThreadPool::RequestTerminationOfAllThreads()
{
    std::lock_guard<std::recursive_mutex> guard(fLock);
    for (const auto &thread : fThreads) {
        thread->Terminate();
        if (!thread->IsStarted()) {
            try {
                thread->Start();
            } catch (...) {
                // Stays listed; WaitForThreads abandons it.
            }
        }
    }
}

bool TCustomThreadPool::IsListed(const TDvThread *pThread) const
{
    std::lock_guard<std::recursive_mutex> guard(fLock);
    return std::any_of(fThreads.begin(), fThreads.end(),
                       [pThread](const auto &thread) { return thread.get() == pThread; });
}

void TCustomThreadPool::TerminateThreads(bool pForce)
{
    const bool onMainThread = MainThreadQueue::IsMainThread();
    fStopping.fetch_add(1);
    if (ThreadCount() > 0) {
        fTerminated.store(true);
        RequestTerminationOfAllThreads();
    }
    Sleep(1);
    RunPendingIfMain(onMainThread);
    if (pForce)
        WaitForThreads();
    RunPendingIfMain(onMainThread);
    EndStopping();
}

void TCustomThreadPool::WaitForThreads()
{
    const bool onMainThread = MainThreadQueue::IsMainThread();
    if (onMainThread) {
        Sleep(20);
        MainThreadQueue::RunPending();
    }
    std::vector<std::shared_ptr<TDvThread>> threads;
    {
        std::lock_guard<std::recursive_mutex> guard(fLock);
        threads = fThreads;
    }
    for (const auto &thread : threads) {
        if (thread->IsFinished()) {
            RunPendingIfMain(onMainThread);
        } else {
            thread->Terminate();
            if (!thread->IsStarted()) {
                try {
                    thread->Start();
                } catch (...) {
                }
            }
        }
        // A finished thread is still waited for until it has left the list, so that no
        // thread is listed when we return.
        const std::uint64_t start = GetTickCount64();
        while (IsListed(thread.get())) {
            if (GetTickCount64() - start >=
                static_cast<std::uint64_t>(GetMaxTimeUntilHardTerminate())) {
                Abandon(thread);
                break;
            }
            Sleep(thread->IsFinished() ? 1 : 10);
            RunPendingIfMain(onMainThread);
        }
    }
}

QString TCustomThreadPool::HardTerminateMessage(TDvThread *pThread) const
{
    return QStringLiteral("Terminating Thread %1 the hard way. Thread ID: %2")
        .arg(pThread->ClassName())
        .arg(pThread->GetThreadID());
}

void TCustomThreadPool::Abandon(const std::shared_ptr<TDvThread> &pThread)
{
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (!IsListed(pThread.get()))
        return;
    qWarning().noquote() << HardTerminateMessage(pThread.get());
    try {
        pThread->Abandon();
    } catch (...) {
    }
    RemoveThread(pThread.get());
    if (fThreads.empty() && fStopping.load() == 0)
        fTerminated.store(false);
}

void TCustomThreadPool::WaitForLeftThreads()
{
    const bool onMainThread = MainThreadQueue::IsMainThread();
    for (;;) {
        {
            std::lock_guard<std::recursive_mutex> guard(fLock);
            fLeftThreads.erase(std::remove_if(fLeftThreads.begin(), fLeftThreads.end(),
                                              [](const auto &t) { return t->IsOutOfPool(); }),
                               fLeftThreads.end());
            if (fLeftThreads.empty())
                return;
        }
        RunPendingIfMain(onMainThread);
        Sleep(1);
    }
}

int TCustomThreadPool::ThreadCount() const
{
    std::lock_guard<std::recursive_mutex> guard(fLock);
    return static_cast<int>(fThreads.size());
}

bool TCustomThreadPool::IsTerminated() const
{
    return fTerminated.load();
}

int TCustomThreadPool::GetMaxRunningThreads() const
{
    return fMaxRunningThreads.load();
}

void TCustomThreadPool::SetMaxRunningThreads(int pValue)
{
    fMaxRunningThreads.store(std::max(1, pValue));
}

int TCustomThreadPool::GetMaxTimeUntilHardTerminate() const
{
    return fMaxTimeUntilHardTerminate.load();
}

void TCustomThreadPool::SetMaxTimeUntilHardTerminate(int pMilliseconds)
{
    fMaxTimeUntilHardTerminate.store(std::max(0, pMilliseconds));
}

bool TCustomThreadPool::GetPaused() const
{
    return fPaused.load();
}

void TCustomThreadPool::SetPaused(bool pValue)
{
    std::lock_guard<std::recursive_mutex> guard(fLock);
    fPaused.store(pValue);
    for (const auto &thread : fThreads)
        thread->SetPaused(pValue);
}

void TCustomThreadPool::SetOnThreadTerminated(TThreadEvent pValue)
{
    std::lock_guard<std::mutex> guard(fEventLock);
    fOnThreadTerminated = std::move(pValue);
}

void TCustomThreadPool::SetOnAllThreadsTerminated(TPoolEvent pValue)
{
    std::lock_guard<std::mutex> guard(fEventLock);
    fOnAllThreadsTerminated = std::move(pValue);
}

} // namespace dv
