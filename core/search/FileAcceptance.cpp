#include "core/search/FileAcceptance.h"

#include "core/search/ContentMatcher.h"
#include "core/search/TextExtraction.h"

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

CandidateVerdict JudgeCandidateFile(const QString &path, const QString &textToFind)
{
    if (const CandidateVerdict *prepared = PreparedVerdictScope::Find(path, textToFind))
        return *prepared;
    CandidateVerdict verdict;
    if (textToFind.isEmpty()) {
        verdict.Accepted = true;
        return verdict;
    }
    if (IsSkippedExtension(FileExtension(path)))
        return verdict;
    verdict.Accepted = FileContainsText(path, textToFind);
    return verdict;
}

bool AcceptCandidateFile(const QString &path, const QString &textToFind)
{
    return JudgeCandidateFile(path, textToFind).Accepted;
}

} // namespace dv
