#include "core/search/FileAcceptance.h"

#include "core/search/ContentMatcher.h"
#include "core/search/TextExtraction.h"

namespace dv {

bool AcceptCandidateFile(const QString &path, const QString &textToFind)
{
    if (textToFind.isEmpty())
        return true;
    if (IsSkippedExtension(FileExtension(path)))
        return false;
    return FileContainsText(path, textToFind);
}

} // namespace dv
