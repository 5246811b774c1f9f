#include "core/search/PreparedVerdictScope.h"

namespace dv {

namespace {
thread_local PreparedVerdictScope *innermostPrepared = nullptr;
} // namespace

PreparedVerdictScope::PreparedVerdictScope(const QString &path, const QString &textToFind,
                                           const CandidateVerdict &verdict)
    : m_path(path), m_text(textToFind), m_verdict(verdict), m_outer(innermostPrepared)
{
    innermostPrepared = this;
}

PreparedVerdictScope::PreparedVerdictScope(const QString &path, QByteArrayView bytes,
                                           const QString &textToFind,
                                           const CandidateVerdict &verdict)
    : PreparedVerdictScope(path, textToFind, verdict)
{
    m_bytes = bytes.isNull() ? QByteArrayView("", 0) : bytes;
}

PreparedVerdictScope::~PreparedVerdictScope()
{
    innermostPrepared = m_outer;
}

const CandidateVerdict *PreparedVerdictScope::Find(const QString &path, const QString &textToFind)
{
    const PreparedVerdictScope *scope = innermostPrepared;
    if (!scope || scope->m_path != path || scope->m_text != textToFind)
        return nullptr;
    return &scope->m_verdict;
}

const CandidateVerdict *PreparedVerdictScope::FindEncoded(QByteArrayView bytes,
                                                          const QString &textToFind)
{
    const PreparedVerdictScope *scope = innermostPrepared;
    if (!scope || scope->m_bytes.isNull() || scope->m_bytes != bytes || scope->m_text != textToFind)
        return nullptr;
    return &scope->m_verdict;
}

} // namespace dv
