#include "core/filesearch/SearchRequest.h"

#include "core/filesearch/TDvSearchOptions.h"

#include <limits>

namespace dv {

QString TrimSearchText(const QString &text)
{
    // Every code unit up to U+0020 is a control character or the space, so these two tests
    // cover the ASCII blanks as well.
    auto blank = [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

bool KilobytesToBytes(const QString &text, std::int64_t &bytes)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    constexpr qlonglong limit = std::numeric_limits<std::int64_t>::max() / 1024;
    if (!ok || value > limit || value < -limit)
        return false;
    bytes = static_cast<std::int64_t>(value) * 1024;
    return true;
}

QString ApplySearchRequest(const SearchRequest &request, TDvSearchOptions &options)
{
    options.Reset();
    options.SetFilter(request.Filter);
    switch (request.Dates) {
    case SearchRequest::DateKind::None:
        break;
    case SearchRequest::DateKind::Accessed:
        options.SetAccessDays(request.FirstDay, request.LastDay);
        break;
    case SearchRequest::DateKind::Created:
        options.SetCreationDays(request.FirstDay, request.LastDay);
        break;
    case SearchRequest::DateKind::Modified:
        options.SetLastWriteDays(request.FirstDay, request.LastDay);
        break;
    }
    std::int64_t bytes = 0;
    if (!request.MinSizeKilobytes.isEmpty())
        options.SetMinFileSize(KilobytesToBytes(request.MinSizeKilobytes, bytes) ? bytes : 0);
    if (!request.MaxSizeKilobytes.isEmpty())
        options.SetMaxFileSize(KilobytesToBytes(request.MaxSizeKilobytes, bytes) ? bytes : -1);
    options.SetRecursiveSearch(request.Recursive);
    options.SetFilesAndFolders(ffFilesOnly);
    options.SetIncludeHidden(request.IncludeHidden);
    return TrimSearchText(request.TextToFind);
}

} // namespace dv
