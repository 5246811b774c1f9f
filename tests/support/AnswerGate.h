#pragma once

#include "tests/support/LoopbackHttpServer.h"

#include <memory>

namespace testsupport {

// Holds the answers of a loopback server until the test opens the gate: the program under
// test is then provably busy with the requests it has sent, for as long as the test needs
// (a minute at most, so that a failing test still ends). Opened when it goes.
class AnswerGate
{
public:
    AnswerGate();
    ~AnswerGate();
    AnswerGate(const AnswerGate &) = delete;
    AnswerGate &operator=(const AnswerGate &) = delete;

    // A handler that waits for the gate, then answers with the request's body as the text.
    LoopbackHttpServer::Handler echoWhenOpen() const;
    void open();
    void close();
    bool isOpen() const;
    // Requests held now.
    int held() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace testsupport
