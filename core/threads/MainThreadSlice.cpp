#include "core/threads/MainThreadSlice.h"

#include <atomic>

namespace dv {

namespace {
// Well below what a user notices, so that a few slices in one turn still are.
std::atomic<std::chrono::microseconds::rep> gLength{10000};
} // namespace

std::chrono::microseconds MainThreadSlice::Length()
{
    return std::chrono::microseconds(gLength.load(std::memory_order_relaxed));
}

void MainThreadSlice::SetLength(std::chrono::microseconds pLength)
{
    gLength.store(pLength.count(), std::memory_order_relaxed);
}

} // namespace dv
