#pragma once

#include "core/search/FileAcceptance.h"

#include <QString>

namespace dv {

// A verdict judged ahead of time (ContentPipeline) for the candidate being handed to the list:
// while it lives, JudgeCandidateFile on this thread answers it for that path and text instead
// of testing the file again. Scopes nest; the innermost one is asked first, and only it.
class PreparedVerdictScope
{
public:
    PreparedVerdictScope(const QString &path, const QString &textToFind,
                         const CandidateVerdict &verdict);
    ~PreparedVerdictScope();
    PreparedVerdictScope(const PreparedVerdictScope &) = delete;
    PreparedVerdictScope &operator=(const PreparedVerdictScope &) = delete;

    // The innermost scope's verdict when it was judged for Path and TextToFind.
    static const CandidateVerdict *Find(const QString &path, const QString &textToFind);

private:
    const QString &m_path;
    const QString &m_text;
    const CandidateVerdict &m_verdict;
    PreparedVerdictScope *m_outer;
};

} // namespace dv
