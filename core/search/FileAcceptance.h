#pragma once

#include "core/search/ContentTestFailure.h"

#include <QString>

namespace dv {

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
// the text (TestFileContent), and when its content could not be tested, Failure and Reason say
// why. Shared by every front end; never throws. Within a PreparedVerdictScope for this path
// and text, the verdict judged ahead is the answer.
CandidateVerdict JudgeCandidateFile(const QString &path, const QString &textToFind);

// JudgeCandidateFile(...).Accepted.
bool AcceptCandidateFile(const QString &path, const QString &textToFind);

} // namespace dv
