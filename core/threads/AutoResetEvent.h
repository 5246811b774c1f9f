#pragma once

#include <condition_variable>
#include <mutex>

namespace dv {

// An event that releases one waiter and resets itself.
class AutoResetEvent
{
public:
    void SetEvent();
    // True when signalled within pTimeoutMs (the signal is consumed).
    bool WaitFor(int pTimeoutMs);

private:
    std::mutex m_lock;
    std::condition_variable m_condition;
    bool m_signalled = false;
};

} // namespace dv
