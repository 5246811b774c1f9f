#include "core/threads/ProcessorLoad.h"

#include "core/platform/Ticks.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

namespace dv {

ProcessorLoad &ProcessorLoad::Instance()
{
    static ProcessorLoad *load = new ProcessorLoad;
    return *load;
}

// The first line of /proc/stat sums all processors, so idle ÷ total is already the
// system-wide share and needs no division by the processor count.
bool ProcessorLoad::Read(std::uint64_t &pIdle, std::uint64_t &pTotal)
{
    std::ifstream stat("/proc/stat");
    std::string line;
    if (!stat || !std::getline(stat, line) || line.rfind("cpu ", 0) != 0)
        return false;
    std::istringstream fields(line.substr(4));
    std::uint64_t value = 0;
    std::uint64_t total = 0;
    std::uint64_t idle = 0;
    // user nice system idle iowait irq softirq steal (guest times are inside user already)
    for (int i = 0; i < 8 && fields >> value; ++i) {
        total += value;
        if (i == 3 || i == 4)
            idle += value;
    }
    if (total == 0)
        return false;
    pIdle = idle;
    pTotal = total;
    return true;
}

int ProcessorLoad::GetUsage()
{
    std::lock_guard<std::mutex> guard(fLock);
    const std::uint64_t now = GetTickCount64();
    if (fPrimed && now - fLastMeasureTick < 200)
        return fLastUsage;
    std::uint64_t idle = 0;
    std::uint64_t total = 0;
    if (!Read(idle, total)) {
        fLastUsage = 0;
        fLastMeasureTick = now;
        return 0;
    }
    if (!fPrimed) {
        fLastIdle = idle;
        fLastTotal = total;
        fPrimed = true;
        if (!Read(idle, total))
            return fLastUsage = 0;
    }
    const std::uint64_t idleDelta = idle >= fLastIdle ? idle - fLastIdle : 0;
    const std::uint64_t totalDelta = total >= fLastTotal ? total - fLastTotal : 0;
    int usage = 0;
    if (totalDelta > 0) {
        usage = static_cast<int>(std::lround(100.0 - idleDelta * 100.0 / totalDelta));
        usage = usage < 0 ? 0 : (usage > 100 ? 100 : usage);
    }
    fLastIdle = idle;
    fLastTotal = total;
    fLastMeasureTick = now;
    fLastUsage = usage;
    return usage;
}

} // namespace dv
