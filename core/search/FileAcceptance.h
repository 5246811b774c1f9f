#pragma once

#include <QString>

namespace dv {

// Why a candidate's content could not be tested.
enum class ContentTestFailure
{
    None,              // tested: the verdict stands
    CannotOpen,        // the file could not be opened or read (Reason: the system's text)
    ExtractionFailed,  // the server answered with an error (Reason: status and text)
    ServerUnreachable, // no server answered at the endpoint
    TimedOut,          // the server sent nothing for too long
    OverLimit,         // a bound of ours stopped the test
    Cancelled,         // the search was stopped while the file was tested
};

// The outcome of judging one candidate of a search.
struct CandidateVerdict
{
    bool Accepted = false;
    ContentTestFailure Failure = ContentTestFailure::None;
    QString Reason; // for the user, when Failure is set

    // A file the user should hear about: it may hold the text, but it could not be tested.
    bool CouldNotBeSearched() const
    {
        return Failure != ContentTestFailure::None && Failure != ContentTestFailure::Cancelled;
    }
};

// Judges a candidate file of a search: with no text to find it is accepted; with an extension
// on the skip list it is refused (the file is not opened); else accepted when the file contains
// the text (FileContainsText). Shared by every front end; never throws.
CandidateVerdict JudgeCandidateFile(const QString &path, const QString &textToFind);

// JudgeCandidateFile(...).Accepted.
bool AcceptCandidateFile(const QString &path, const QString &textToFind);

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
