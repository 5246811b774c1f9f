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
// the text (FileContainsText). Shared by every front end; never throws. Within a
// PreparedVerdictScope for this path and text, the verdict judged ahead is the answer.
CandidateVerdict JudgeCandidateFile(const QString &path, const QString &textToFind);

// JudgeCandidateFile(...).Accepted.
bool AcceptCandidateFile(const QString &path, const QString &textToFind);

} // namespace dv
