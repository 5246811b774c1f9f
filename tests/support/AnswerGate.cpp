#include "tests/support/AnswerGate.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace testsupport {

struct AnswerGate::State
{
    mutable std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    int held = 0;
};

AnswerGate::AnswerGate() : m_state(std::make_shared<State>()) {}

AnswerGate::~AnswerGate()
{
    open();
}

LoopbackHttpServer::Handler AnswerGate::echoWhenOpen() const
{
    // The state is shared: a held handler may outlive the gate by a moment.
    return [state = m_state](const HttpRequestRecord &request) {
        std::unique_lock lock(state->mutex);
        ++state->held;
        state->opened.wait_for(lock, std::chrono::minutes(1), [&] { return state->open; });
        --state->held;
        return HttpAnswer::text(request.body);
    };
}

void AnswerGate::open()
{
    std::lock_guard lock(m_state->mutex);
    m_state->open = true;
    m_state->opened.notify_all();
}

void AnswerGate::close()
{
    std::lock_guard lock(m_state->mutex);
    m_state->open = false;
}

bool AnswerGate::isOpen() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->open;
}

int AnswerGate::held() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->held;
}

} // namespace testsupport
