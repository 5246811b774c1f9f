#include "core/threads/TDvThread.h"

#include "core/threads/ClassName.h"
#include "core/threads/ExceptionReport.h"
#include "core/threads/TCustomThreadPool.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace dv {

TDvThread::TDvThread(std::shared_ptr<ICancellationIndicator> pCancellationIndicator)
    : fCancellationIndicator(std::move(pCancellationIndicator))
{}

TDvThread::~TDvThread() = default;

void TDvThread::Start()
{
    if (fStarted.exchange(true))
        return;
    // The running thread keeps its object alive; nobody joins it.
    std::shared_ptr<TDvThread> self = shared_from_this();
    try {
        std::thread([self] { self->Run(); }).detach();
    } catch (...) {
        fStarted.store(false);
        throw;
    }
}

bool TDvThread::IsStarted() const
{
    return fStarted.load();
}

void TDvThread::Run()
{
    fThreadID.store(static_cast<long>(::syscall(SYS_gettid)));
    {
        std::lock_guard<std::mutex> guard(fNameLock);
        if (fName.isEmpty())
            fName = ClassName();
        pthread_setname_np(pthread_self(), fName.left(15).toUtf8().constData());
    }
    try {
        Execute();
    } catch (...) {
        if (!IsDetached())
            ReportException(std::current_exception());
    }
    DoTerminate();
}

void TDvThread::DoTerminate()
{
    fIsFinished.store(true);
    if (TCustomThreadPool *pool = EnterPool()) {
        pool->DoThreadTerminated(this);
        pool->ThreadTerminated(this);
        LeavePool();
    }
}

void TDvThread::Terminate()
{
    fTerminated.store(true);
    TerminatedSet();
}

void TDvThread::TerminatedSet() {}

bool TDvThread::IsTerminated() const
{
    return fTerminated.load() ||
           (fCancellationIndicator && fCancellationIndicator->IsCancellationRequested());
}

bool TDvThread::IsFinished() const
{
    return fIsFinished.load();
}

TTaskStatus TDvThread::GetStatus() const
{
    return fStatus.load();
}

void TDvThread::SetStatus(TTaskStatus pValue)
{
    fStatus.store(pValue);
}

bool TDvThread::GetBackgroundMode() const
{
    return fBackgroundMode.load();
}

void TDvThread::SetBackgroundMode(bool pValue)
{
    fBackgroundMode.store(pValue);
}

void TDvThread::SetPaused(bool pValue)
{
    fPaused.store(pValue);
    TTaskStatus current = fStatus.load();
    if (pValue && current == TTaskStatus::Running)
        fStatus.compare_exchange_strong(current, TTaskStatus::Paused);
    else if (!pValue && current == TTaskStatus::Paused)
        fStatus.compare_exchange_strong(current, TTaskStatus::Running);
}

bool TDvThread::IsPaused() const
{
    return fPaused.load();
}

long TDvThread::GetThreadID() const
{
    return fThreadID.load();
}

QString TDvThread::ClassName() const
{
    return DemangledClassName(typeid(*this));
}

void TDvThread::SetThreadName(const QString &pName)
{
    std::lock_guard<std::mutex> guard(fNameLock);
    fName = pName;
    // The kernel name can only be set reliably by the thread itself.
    if (fThreadID.load() == static_cast<long>(::syscall(SYS_gettid)))
        pthread_setname_np(pthread_self(), fName.left(15).toUtf8().constData());
}

TCustomThreadPool *TDvThread::EnterPool()
{
    std::lock_guard<std::mutex> guard(fPoolLock);
    if (fDetached || !fThreadPool)
        return nullptr;
    ++fPoolUsers;
    return fThreadPool;
}

void TDvThread::LeavePool()
{
    std::lock_guard<std::mutex> guard(fPoolLock);
    --fPoolUsers;
}

void TDvThread::AttachToPool(TCustomThreadPool *pPool)
{
    std::lock_guard<std::mutex> guard(fPoolLock);
    fThreadPool = pPool;
    fDetached = false;
}

bool TDvThread::IsDetached() const
{
    std::lock_guard<std::mutex> guard(fPoolLock);
    return fDetached;
}

bool TDvThread::IsOutOfPool() const
{
    std::lock_guard<std::mutex> guard(fPoolLock);
    return fPoolUsers == 0;
}

void TDvThread::Abandon()
{
    {
        std::lock_guard<std::mutex> guard(fPoolLock);
        fDetached = true;
        fThreadPool = nullptr;
    }
    Terminate();
    fStatus.store(TTaskStatus::Canceled);
}

} // namespace dv
