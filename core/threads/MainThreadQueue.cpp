#include "core/threads/MainThreadQueue.h"

#include "core/threads/ExceptionReport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace dv {

namespace {

struct BlockingCall
{
    std::mutex Lock;
    std::condition_variable DoneCondition;
    bool Done = false;
    std::exception_ptr Error;

    void Complete(std::exception_ptr pError)
    {
        {
            std::lock_guard<std::mutex> guard(Lock);
            Error = std::move(pError);
            Done = true;
        }
        DoneCondition.notify_all();
    }
};

struct Entry
{
    MainThreadQueue::TCall Call;
    std::shared_ptr<BlockingCall> Blocking; // none for a post
};

struct QueueState
{
    std::mutex Lock;
    std::condition_variable WorkArrived;
    std::deque<Entry> Entries;
    MainThreadQueue::TWakeHook WakeHook;
    bool Closed = false;
    std::atomic<std::thread::id> MainThread;
};

// Never freed: a worker may still hold on to it while the program ends.
QueueState &State()
{
    static QueueState *state = new QueueState;
    return *state;
}

// Static initialisation runs on the thread of main().
const bool gMainThreadCaptured = [] {
    State().MainThread.store(std::this_thread::get_id());
    return true;
}();

void Enqueue(Entry pEntry)
{
    QueueState &state = State();
    MainThreadQueue::TWakeHook hook;
    {
        std::lock_guard<std::mutex> guard(state.Lock);
        if (state.Closed) {
            if (pEntry.Blocking)
                throw MainThreadQueueClosed();
            return;
        }
        state.Entries.push_back(std::move(pEntry));
        hook = state.WakeHook;
    }
    state.WorkArrived.notify_all();
    if (hook)
        hook();
}

} // namespace

void MainThreadQueue::RunBlocking(TCall pCall)
{
    if (!pCall)
        return;
    if (IsMainThread()) {
        pCall();
        return;
    }
    auto blocking = std::make_shared<BlockingCall>();
    Enqueue(Entry{std::move(pCall), blocking});
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(blocking->Lock);
        blocking->DoneCondition.wait(lock, [&] { return blocking->Done; });
        error = std::move(blocking->Error);
    }
    if (error)
        std::rethrow_exception(error);
}

void MainThreadQueue::Post(TCall pCall)
{
    if (!pCall)
        return;
    if (IsMainThread()) {
        pCall();
        return;
    }
    Enqueue(Entry{std::move(pCall), nullptr});
}

void MainThreadQueue::PostLater(TCall pCall)
{
    if (pCall)
        Enqueue(Entry{std::move(pCall), nullptr});
}

int MainThreadQueue::RunPending()
{
    if (!IsMainThread())
        return 0;
    QueueState &state = State();
    std::size_t available;
    {
        std::lock_guard<std::mutex> guard(state.Lock);
        available = state.Entries.size();
    }
    int ran = 0;
    for (; available > 0; --available) {
        Entry entry;
        {
            std::lock_guard<std::mutex> guard(state.Lock);
            if (state.Entries.empty())
                break; // taken by a nested RunPending
            entry = std::move(state.Entries.front());
            state.Entries.pop_front();
        }
        std::exception_ptr error;
        try {
            entry.Call();
        } catch (...) {
            error = std::current_exception();
        }
        // Free the call's captures before the worker goes on.
        entry.Call = nullptr;
        // No reference to the exception may stay here: the worker frees it.
        if (entry.Blocking)
            entry.Blocking->Complete(std::move(error));
        else if (error)
            ReportException(error);
        ++ran;
    }
    return ran;
}

bool MainThreadQueue::WaitForWork(int pTimeoutMs)
{
    QueueState &state = State();
    std::unique_lock<std::mutex> lock(state.Lock);
    state.WorkArrived.wait_for(lock, std::chrono::milliseconds(std::max(0, pTimeoutMs)),
                               [&] { return !state.Entries.empty() || state.Closed; });
    return !state.Entries.empty();
}

bool MainThreadQueue::RunPendingUntil(const std::function<bool()> &pDone, int pTimeoutMs)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, pTimeoutMs));
    for (;;) {
        RunPending();
        if (pDone())
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return pDone();
        // Short slices: the condition may change without a queued call.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        WaitForWork(static_cast<int>(std::min<long long>(left, 10)));
    }
}

int MainThreadQueue::PendingCount()
{
    QueueState &state = State();
    std::lock_guard<std::mutex> guard(state.Lock);
    return static_cast<int>(state.Entries.size());
}

void MainThreadQueue::SetWakeHook(TWakeHook pHook)
{
    QueueState &state = State();
    std::lock_guard<std::mutex> guard(state.Lock);
    state.WakeHook = std::move(pHook);
}

bool MainThreadQueue::IsMainThread()
{
    return State().MainThread.load() == std::this_thread::get_id();
}

void MainThreadQueue::SetMainThread()
{
    State().MainThread.store(std::this_thread::get_id());
}

void MainThreadQueue::Shutdown()
{
    QueueState &state = State();
    std::deque<Entry> dropped;
    {
        std::lock_guard<std::mutex> guard(state.Lock);
        state.Closed = true;
        dropped.swap(state.Entries);
    }
    state.WorkArrived.notify_all();
    for (Entry &entry : dropped) {
        entry.Call = nullptr;
        if (entry.Blocking)
            entry.Blocking->Complete(std::make_exception_ptr(MainThreadQueueClosed()));
    }
}

void MainThreadQueue::Reopen()
{
    QueueState &state = State();
    std::lock_guard<std::mutex> guard(state.Lock);
    state.Closed = false;
}

} // namespace dv
