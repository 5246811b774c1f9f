#pragma once

#include <cstdint>
#include <mutex>

namespace dv {

// System-wide processor load in percent from /proc/stat (idle and total times), measured
// at most every 200 ms; 0 when it cannot be read.
class ProcessorLoad
{
public:
    int GetUsage();

    // The process-wide meter.
    static ProcessorLoad &Instance();

private:
    bool Read(std::uint64_t &pIdle, std::uint64_t &pTotal);

    std::mutex m_lock;
    bool m_primed = false;
    std::uint64_t m_lastIdle = 0;
    std::uint64_t m_lastTotal = 0;
    std::uint64_t m_lastMeasureTick = 0;
    int m_lastUsage = 0;
};

} // namespace dv
