#include "core/threads/AutoResetEvent.h"

#include <algorithm>
#include <chrono>

namespace dv {

void AutoResetEvent::SetEvent()
{
    {
        std::lock_guard<std::mutex> guard(fLock);
        fSignalled = true;
    }
    fCondition.notify_one();
}

bool AutoResetEvent::WaitFor(int pTimeoutMs)
{
    std::unique_lock<std::mutex> lock(fLock);
    if (!fCondition.wait_for(lock, std::chrono::milliseconds(std::max(0, pTimeoutMs)),
                             [this] { return fSignalled; }))
        return false;
    fSignalled = false;
    return true;
}

} // namespace dv
