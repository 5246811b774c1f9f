#include "core/threads/AutoResetEvent.h"

#include <algorithm>
#include <chrono>

namespace dv {

void AutoResetEvent::SetEvent()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_signalled = true;
    }
    m_condition.notify_one();
}

bool AutoResetEvent::WaitFor(int pTimeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_condition.wait_for(lock, std::chrono::milliseconds(std::max(0, pTimeoutMs)),
                              [this] { return m_signalled; }))
        return false;
    m_signalled = false;
    return true;
}

} // namespace dv
