#include "core/platform/Ticks.h"

#include <chrono>

namespace dv {

std::uint64_t GetTickCount64()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint32_t GetTickCount()
{
    return static_cast<std::uint32_t>(GetTickCount64());
}

} // namespace dv
