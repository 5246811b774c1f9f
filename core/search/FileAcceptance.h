#pragma once

#include <QString>

namespace dv {

// Decides whether a candidate file of a search is accepted: with no text to find, always;
// with an extension on the skip list, never (the file is not opened); else when the file
// contains the text (FileContainsText). Shared by every front end.
bool AcceptCandidateFile(const QString &path, const QString &textToFind);

} // namespace dv
