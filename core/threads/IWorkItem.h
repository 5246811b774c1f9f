#pragma once

#include "core/threads/TCustomCancellationToken.h"
#include "core/threads/TTaskStatus.h"

#include <functional>
#include <memory>

namespace dv {

class IWorkItem;
class TDvThread;

// Work items are reference counted: the pool, its threads and the main-thread delivery of
// OnWorkDone each hold a std::shared_ptr.
using IWorkItemPtr = std::shared_ptr<IWorkItem>;

// Called after DoWork with the finished item (on the main thread unless told otherwise).
using TWorkDoneEvent = std::function<void(const IWorkItemPtr &pWorkItem)>;

// A unit of work run by TWorkerThreadPool. Tags are free object references used as filter
// keys (compared by identity); nullptr means none. Use dynamic_cast for class tests.
class IWorkItem : public ITerminatable
{
public:
    virtual TWorkDoneEvent GetOnWorkDone() const = 0;
    virtual void SetOnWorkDone(TWorkDoneEvent pValue) = 0;
    virtual const void *GetTag() const = 0;
    virtual const void *GetGroupTag() const = 0;
    // The work itself, on a worker thread.
    virtual void DoWork() = 0;
    // Called by the worker after DoWork (also when it was cancelled).
    virtual void Finished(TDvThread *pThread) = 0;
    virtual void SetStatus(TTaskStatus pValue) = 0;
    virtual TTaskStatus GetStatus() = 0;
    virtual void Terminate() = 0;
};

} // namespace dv
