#include "core/search/ContentTestCancelScope.h"

#include "core/search/ExtractionClient.h"

namespace dv {

namespace {
thread_local const std::atomic<bool> *scopeCancelled = nullptr;
} // namespace

bool IsContentTestCancelled()
{
    return ContentTestCancelled || (scopeCancelled && scopeCancelled->load());
}

ContentTestCancelScope::ContentTestCancelScope(const std::atomic<bool> &cancelled)
    : m_previous(scopeCancelled)
{
    scopeCancelled = &cancelled;
}

ContentTestCancelScope::~ContentTestCancelScope()
{
    scopeCancelled = m_previous;
}

} // namespace dv
