#pragma once

#include <atomic>

namespace dv {

// Whether the content test under way on this thread is to end: ContentTestCancelled, or the
// flag of the innermost ContentTestCancelScope of this thread.
bool IsContentTestCancelled();

// Gives the content tests run on this thread, while it lives, one more flag that ends them
// (a worker judging candidates ahead of a search that can be dropped on its own).
class ContentTestCancelScope
{
public:
    explicit ContentTestCancelScope(const std::atomic<bool> &cancelled);
    ~ContentTestCancelScope();
    ContentTestCancelScope(const ContentTestCancelScope &) = delete;
    ContentTestCancelScope &operator=(const ContentTestCancelScope &) = delete;

private:
    const std::atomic<bool> *m_previous;
};

} // namespace dv
