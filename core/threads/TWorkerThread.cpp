#include "core/threads/TWorkerThread.h"

#include "core/threads/ExceptionReport.h"
#include "core/threads/TWorkerThreadPool.h"

#include <chrono>
#include <thread>

namespace dv {

namespace {

// Holds the pool for one call; empty once the pool has abandoned the thread.
class PoolAccess
{
public:
    explicit PoolAccess(TDvThread *pThread) : fThread(pThread), fPool(nullptr)
    {
        if (TCustomThreadPool *pool = pThread->EnterPool()) {
            fPool = dynamic_cast<TWorkerThreadPool *>(pool);
            if (!fPool)
                pThread->LeavePool();
        }
    }
    ~PoolAccess()
    {
        if (fPool)
            fThread->LeavePool();
    }
    PoolAccess(const PoolAccess &) = delete;
    PoolAccess &operator=(const PoolAccess &) = delete;

    explicit operator bool() const { return fPool != nullptr; }
    TWorkerThreadPool *operator->() const { return fPool; }

private:
    TDvThread *fThread;
    TWorkerThreadPool *fPool;
};

} // namespace

TWorkerThread::TWorkerThread() = default;

IWorkItemPtr TWorkerThread::GetWorkItem() const
{
    std::lock_guard<std::mutex> guard(fWorkItemLock);
    return fWorkItem;
}

void TWorkerThread::SetWorkItem(IWorkItemPtr pItem)
{
    std::lock_guard<std::mutex> guard(fWorkItemLock);
    fWorkItem = std::move(pItem);
}

void TWorkerThread::TerminatedSet()
{
    if (IWorkItemPtr item = GetWorkItem())
        item->Cancel();
}

void TWorkerThread::SetPaused(bool pValue)
{
    TDvThread::SetPaused(pValue);
    IWorkItemPtr item = GetWorkItem();
    if (!item)
        return;
    const TTaskStatus status = item->GetStatus();
    if (pValue && status == TTaskStatus::Running)
        item->SetStatus(TTaskStatus::Paused);
    else if (!pValue && status == TTaskStatus::Paused)
        item->SetStatus(TTaskStatus::Running);
}

void TWorkerThread::Abandon()
{
    TDvThread::Abandon();
    SetWorkItem(nullptr);
}

void TWorkerThread::Execute()
{
    if (IsTerminated()) {
        SetStatus(TTaskStatus::Completed);
        return;
    }
    SetStatus(TTaskStatus::Running);
    {
        PoolAccess pool(this);
        if (!pool)
            return;
        SetThreadName(pool->IsGlobalInstance() ? QStringLiteral("TWorkerThread in GlobalThreadPool")
                                               : ClassName());
        pool->ThreadStarted(this);
    }
    while (!IsTerminated()) {
        while (IsPaused() && !IsTerminated())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        IWorkItemPtr item;
        {
            PoolAccess pool(this);
            if (!pool)
                break;
            item = pool->GetNextWorkItem(this);
        }
        if (!item)
            continue;
        // A terminate request that came while the item was being taken did not see it.
        if (IsTerminated())
            item->Cancel();
        RunItem(item);
        SetWorkItem(nullptr);
        item.reset();
        PoolAccess pool(this);
        if (!pool)
            break; // abandoned: the pool has written this item off already
        pool->WorkItemDone();
    }
    if (!IsDetached())
        SetStatus(TTaskStatus::Completed);
}

void TWorkerThread::RunItem(const IWorkItemPtr &pItem)
{
    if (pItem->GetStatus() == TTaskStatus::Canceled)
        return;
    pItem->SetStatus(TTaskStatus::Running);
    try {
        pItem->DoWork();
    } catch (...) {
        pItem->SetStatus(TTaskStatus::Canceled);
        if (!IsDetached())
            ReportException(std::current_exception());
    }
    if (pItem->GetStatus() != TTaskStatus::Canceled)
        pItem->SetStatus(TTaskStatus::Completed);
    if (!IsDetached())
        pItem->Finished(this);
}

} // namespace dv
