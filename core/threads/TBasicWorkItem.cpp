#include "core/threads/TBasicWorkItem.h"

#include "core/threads/MainThreadQueue.h"

#include <chrono>
#include <thread>

namespace dv {

TBasicWorkItem::TBasicWorkItem() = default;

// Items live in std::shared_ptr, so the destructor only runs when the last reference is
// gone: the "destroyed while still referenced" case cannot arise and needs no check.
TBasicWorkItem::~TBasicWorkItem() = default;

void TBasicWorkItem::Cancel()
{
    Terminate();
}

void TBasicWorkItem::Terminate()
{
    fStatus.store(TTaskStatus::Canceled);
}

TWorkDoneEvent TBasicWorkItem::GetOnWorkDone() const
{
    std::lock_guard<std::mutex> guard(fLock);
    return fOnWorkDone;
}

void TBasicWorkItem::SetOnWorkDone(TWorkDoneEvent pValue)
{
    std::lock_guard<std::mutex> guard(fLock);
    fOnWorkDone = std::move(pValue);
}

const void *TBasicWorkItem::GetTag() const
{
    return fTag.load();
}

void TBasicWorkItem::SetTag(const void *pValue)
{
    fTag.store(pValue);
}

const void *TBasicWorkItem::GetGroupTag() const
{
    return fGroupTag.load();
}

void TBasicWorkItem::SetGroupTag(const void *pValue)
{
    fGroupTag.store(pValue);
}

void TBasicWorkItem::SetStatus(TTaskStatus pValue)
{
    if (pValue == TTaskStatus::Canceled) {
        if (fStatus.load() != TTaskStatus::Canceled)
            Terminate();
        fStatus.store(TTaskStatus::Canceled);
        return;
    }
    if (pValue == TTaskStatus::Running || pValue == TTaskStatus::Paused ||
        pValue == TTaskStatus::Completed) {
        // A cancel from another thread must not be overwritten by the worker's progress.
        TTaskStatus current = fStatus.load();
        while (current != TTaskStatus::Canceled &&
               !fStatus.compare_exchange_weak(current, pValue)) {
        }
        return;
    }
    fStatus.store(pValue);
}

TTaskStatus TBasicWorkItem::GetStatus()
{
    ICancellationTokenPtr token = GetCancellationToken();
    if (token && token->IsCancellationRequested())
        SetStatus(TTaskStatus::Canceled);
    return fStatus.load();
}

bool TBasicWorkItem::IsCanceled()
{
    while (GetStatus() == TTaskStatus::Paused)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return GetStatus() == TTaskStatus::Canceled;
}

bool TBasicWorkItem::IsCancellationRequested() const
{
    if (fStatus.load() == TTaskStatus::Canceled)
        return true;
    ICancellationTokenPtr token = GetCancellationToken();
    return token && token->IsCancellationRequested();
}

ICancellationTokenPtr TBasicWorkItem::GetCancellationToken() const
{
    std::lock_guard<std::mutex> guard(fLock);
    return fCancellationToken;
}

void TBasicWorkItem::SetCancellationToken(ICancellationTokenPtr pValue)
{
    std::lock_guard<std::mutex> guard(fLock);
    fCancellationToken = std::move(pValue);
}

bool TBasicWorkItem::GetFireOnWorkDoneSynchronized() const
{
    return fFireOnWorkDoneSynchronized.load();
}

void TBasicWorkItem::SetFireOnWorkDoneSynchronized(bool pValue)
{
    fFireOnWorkDoneSynchronized.store(pValue);
}

void TBasicWorkItem::DoFinished() {}

void TBasicWorkItem::Finished(TDvThread *)
{
    if (GetStatus() == TTaskStatus::Canceled)
        return;
    std::shared_ptr<TBasicWorkItem> self = weak_from_this().lock();
    if (self && GetFireOnWorkDoneSynchronized() && !MainThreadQueue::IsMainThread()) {
        // The queued call holds a reference until it has run.
        MainThreadQueue::Post([self] { self->RunFinished(); });
        return;
    }
    RunFinished();
}

void TBasicWorkItem::RunFinished()
{
    DoFinished();
    TWorkDoneEvent onWorkDone = GetOnWorkDone();
    if (onWorkDone)
        onWorkDone(std::static_pointer_cast<IWorkItem>(weak_from_this().lock()));
}

} // namespace dv
