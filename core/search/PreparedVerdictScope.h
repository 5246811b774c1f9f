#pragma once

#include "core/search/FileAcceptance.h"

#include <QByteArrayView>
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
    // The same, also known by the path's bytes (which must outlive the scope), so that a list
    // handed the bytes finds the verdict without decoding them (FindEncoded).
    PreparedVerdictScope(const QString &path, QByteArrayView bytes, const QString &textToFind,
                         const CandidateVerdict &verdict);
    ~PreparedVerdictScope();
    PreparedVerdictScope(const PreparedVerdictScope &) = delete;
    PreparedVerdictScope &operator=(const PreparedVerdictScope &) = delete;

    // The innermost scope's verdict when it was judged for Path and TextToFind.
    static const CandidateVerdict *Find(const QString &path, const QString &textToFind);
    // The innermost scope's verdict when it was judged for the path of these bytes and
    // TextToFind, and was given the bytes.
    static const CandidateVerdict *FindEncoded(QByteArrayView bytes, const QString &textToFind);

private:
    const QString &m_path;
    QByteArrayView m_bytes; // null when not given
    const QString &m_text;
    const CandidateVerdict &m_verdict;
    PreparedVerdictScope *m_outer;
};

} // namespace dv
