#pragma once

#include "tests/support/AnswerGate.h"
#include "tests/support/LoopbackHttpServer.h"

namespace testsupport {

// A loopback extraction server whose answers (the uploaded bytes, echoed as text) wait for a
// gate, installed as the engine's server with the text cache off, so that every document goes
// to it and the test decides when each is answered.
class GatedExtractionServer
{
public:
    // From initTestCase: a temporary cache home, the cache off, this server as the endpoint.
    void install();
    // From cleanupTestCase: opens the gate and puts the defaults back.
    void uninstall();

    LoopbackHttpServer &server() { return m_server; }
    AnswerGate &gate() { return m_gate; }

private:
    LoopbackHttpServer m_server;
    AnswerGate m_gate; // after the server, so it is opened before the server goes
};

} // namespace testsupport
