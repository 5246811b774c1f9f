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
    std::lock_guard<std::mutex> guard(m_lock);
    const std::uint64_t now = GetTickCount64();
    if (m_primed && now - m_lastMeasureTick < 200)
        return m_lastUsage;
    std::uint64_t idle = 0;
    std::uint64_t total = 0;
    if (!Read(idle, total)) {
        m_lastUsage = 0;
        m_lastMeasureTick = now;
        return 0;
    }
    if (!m_primed) {
        m_lastIdle = idle;
        m_lastTotal = total;
        m_primed = true;
        if (!Read(idle, total))
            return m_lastUsage = 0;
    }
    const std::uint64_t idleDelta = idle >= m_lastIdle ? idle - m_lastIdle : 0;
    const std::uint64_t totalDelta = total >= m_lastTotal ? total - m_lastTotal : 0;
    int usage = 0;
    if (totalDelta > 0) {
        usage = static_cast<int>(std::lround(100.0 - idleDelta * 100.0 / totalDelta));
        usage = usage < 0 ? 0 : (usage > 100 ? 100 : usage);
    }
    m_lastIdle = idle;
    m_lastTotal = total;
    m_lastMeasureTick = now;
    m_lastUsage = usage;
    return usage;
}

} // namespace dv
