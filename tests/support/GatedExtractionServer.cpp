#include "tests/support/GatedExtractionServer.h"

#include "core/search/CachedExtraction.h"
#include "core/search/ExtractionClient.h"
#include "tests/support/TestSupport.h"

namespace testsupport {

void GatedExtractionServer::install()
{
    useTemporaryCacheHome();
    dv::SetTextCacheEnabled(false);
    m_server.setHandler(m_gate.echoWhenOpen());
    dv::SetExtractionServerEndpoint(m_server.baseUrl());
}

void GatedExtractionServer::uninstall()
{
    m_gate.open();
    dv::SetExtractionServerEndpoint(QString());
    dv::SetTextCacheEnabled(true);
}

} // namespace testsupport
