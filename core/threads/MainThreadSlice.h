#pragma once

#include <chrono>

namespace dv {

// A slice of the main thread's time for work that can be cut up (rows of a burst, queued
// changes): the work stops once the slice is spent and goes on in a later turn of the event
// loop, so the window never waits long for it. At least one item goes in each slice.
class MainThreadSlice
{
public:
    MainThreadSlice() : m_end(std::chrono::steady_clock::now() + Length()) {}

    bool Spent() const { return std::chrono::steady_clock::now() >= m_end; }

    // Every slice's length; tests make it 0 (one item per turn).
    static std::chrono::microseconds Length();
    static void SetLength(std::chrono::microseconds pLength);

private:
    std::chrono::steady_clock::time_point m_end;
};

} // namespace dv
