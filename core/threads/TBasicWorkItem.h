#pragma once

#include "core/threads/IWorkItem.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace dv {

// The base of all work items: status handling, cancellation, tags and the delivery of
// OnWorkDone. Create with std::make_shared; subclasses implement DoWork and call IsCanceled
// at their own check points.
class TBasicWorkItem : public IWorkItem,
                       public ICancellationIndicator,
                       public std::enable_shared_from_this<TBasicWorkItem>
{
public:
    TBasicWorkItem();
    ~TBasicWorkItem() override;

    TBasicWorkItem(const TBasicWorkItem &) = delete;
    TBasicWorkItem &operator=(const TBasicWorkItem &) = delete;

    // Same as Terminate.
    void Cancel() override;
    // Status := Canceled.
    void Terminate() override;

    TWorkDoneEvent GetOnWorkDone() const override;
    void SetOnWorkDone(TWorkDoneEvent pValue) override;

    const void *GetTag() const override;
    void SetTag(const void *pValue);
    const void *GetGroupTag() const override;
    void SetGroupTag(const void *pValue);

    // Status Canceled: nothing. Else runs DoFinished and OnWorkDone, on the main thread
    // (queued, no wait) when FireOnWorkDoneSynchronized is set, else on the calling thread.
    void Finished(TDvThread *pThread) override;

    // Canceled runs Terminate first when the status changes. Completed never replaces
    // Canceled, so a cancel that races with the end of DoWork is not lost.
    void SetStatus(TTaskStatus pValue) override;
    // Checks the cancellation token first.
    TTaskStatus GetStatus() override;

    // Waits (100 ms steps) while Paused, then answers whether the item is Canceled.
    virtual bool IsCanceled();

    // Status Canceled, or the token's answer.
    bool IsCancellationRequested() const override;

    ICancellationTokenPtr GetCancellationToken() const;
    void SetCancellationToken(ICancellationTokenPtr pValue);

    bool GetFireOnWorkDoneSynchronized() const;
    void SetFireOnWorkDoneSynchronized(bool pValue);

protected:
    // Runs before OnWorkDone, on the same thread. Empty here.
    virtual void DoFinished();

private:
    void RunFinished();

    std::atomic<TTaskStatus> fStatus{TTaskStatus::Created};
    std::atomic<const void *> fTag{nullptr};
    std::atomic<const void *> fGroupTag{nullptr};
    std::atomic<bool> fFireOnWorkDoneSynchronized{true};
    mutable std::mutex fLock; // guards fOnWorkDone and fCancellationToken
    TWorkDoneEvent fOnWorkDone;
    ICancellationTokenPtr fCancellationToken;
};

} // namespace dv
