#pragma once

#include <functional>
#include <stdexcept>

namespace dv {

// Raised in a worker whose blocking call can no longer run because the queue was shut down.
class MainThreadQueueClosed : public std::runtime_error
{
public:
    MainThreadQueueClosed() : std::runtime_error("The main thread no longer takes calls.") {}
};

// How workers reach the main thread: blocking and queued calls that the main thread runs
// when it is woken (wake hook) or when it waits for workers (RunPending).
// Everything here is static and thread-safe; the queue itself is never freed, so a call
// still queued at program end touches no freed memory.
class MainThreadQueue
{
public:
    using TCall = std::function<void()>;
    using TWakeHook = std::function<void()>;

    // Runs pCall on the main thread and waits for it; an exception it throws is thrown again
    // here. On the main thread itself pCall runs at once. Throws MainThreadQueueClosed after
    // Shutdown (also for a call still waiting when Shutdown happens).
    static void RunBlocking(TCall pCall);

    // Queues pCall for the main thread without waiting; runs it at once on the main thread.
    // Dropped after Shutdown. An exception it throws goes to the exception-report hook.
    static void Post(TCall pCall);
    // Queues pCall from any thread, the main thread too: it runs at a later RunPending (on
    // the main thread, in a later turn of the event loop), so that long work can be cut up.
    static void PostLater(TCall pCall);

    // Main thread: runs the calls queued when it starts; returns how many ran. Calls queued
    // by those calls wait for the next RunPending. Nested use (from inside a call) is fine.
    static int RunPending();

    // Main thread: waits until a call is queued or pTimeoutMs has passed; true if calls wait.
    static bool WaitForWork(int pTimeoutMs);

    // Main thread: runs queued calls until pDone() is true or pTimeoutMs has passed; returns
    // pDone(). For console loops and tests, which have no event loop that calls RunPending.
    static bool RunPendingUntil(const std::function<bool()> &pDone, int pTimeoutMs);

    // Number of calls waiting.
    static int PendingCount();

    // Installed by the GUI: called (on any thread, no lock held) after a call was queued; it
    // posts an event whose handler calls RunPending. None by default.
    static void SetWakeHook(TWakeHook pHook);

    // True on the main thread: the one declared by SetMainThread, else the thread that ran
    // the program's static initialisation (the thread of main()).
    static bool IsMainThread();

    // Declares the calling thread the main thread.
    static void SetMainThread();

    // Program end: refuses further calls and releases every waiting blocking call with
    // MainThreadQueueClosed, without running it. Queued posts are dropped.
    static void Shutdown();

    // Undoes Shutdown (tests, or a program that starts its engine again).
    static void Reopen();
};

} // namespace dv
