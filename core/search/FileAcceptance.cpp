#include "core/search/FileAcceptance.h"

#include "core/search/ContentMatcher.h"
#include "core/search/PreparedVerdictScope.h"
#include "core/search/TextExtraction.h"

namespace dv {

CandidateVerdict JudgeCandidateFile(const QString &path, const QString &textToFind)
{
    if (const CandidateVerdict *prepared = PreparedVerdictScope::Find(path, textToFind))
        return *prepared;
    CandidateVerdict verdict;
    if (textToFind.isEmpty()) {
        verdict.Accepted = true;
        return verdict;
    }
    if (IsSkippedExtension(FileExtensionView(path)))
        return verdict;
    const ContentTestResult result = TestFileContent(path, textToFind);
    verdict.Accepted = result.Found;
    verdict.Failure = result.Error.Failure;
    verdict.Reason = result.Error.Reason;
    return verdict;
}

bool AcceptCandidateFile(const QString &path, const QString &textToFind)
{
    return JudgeCandidateFile(path, textToFind).Accepted;
}

} // namespace dv
