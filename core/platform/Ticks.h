#pragma once

#include <cstdint>

namespace dv {

// Milliseconds of a steady clock, truncated to 32 bits: it wraps like the Windows tick
// counter, so intervals are always taken as unsigned 32-bit differences.
std::uint32_t GetTickCount();

// The same clock without truncation.
std::uint64_t GetTickCount64();

} // namespace dv
