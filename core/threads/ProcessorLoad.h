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

    std::mutex fLock;
    bool fPrimed = false;
    std::uint64_t fLastIdle = 0;
    std::uint64_t fLastTotal = 0;
    std::uint64_t fLastMeasureTick = 0;
    int fLastUsage = 0;
};

} // namespace dv
