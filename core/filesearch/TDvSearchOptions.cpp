#include "core/filesearch/TDvSearchOptions.h"

#include "core/platform/FileName.h"
#include "core/platform/FileTime.h"

#include <algorithm>
#include <cstring>

namespace dv {

namespace {

// Trims the characters up to U+0020 at both ends (control characters included).
QString TrimMask(QStringView s)
{
    qsizetype begin = 0, end = s.size();
    while (begin < end && s[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && s[end - 1].unicode() <= 0x20)
        --end;
    return s.mid(begin, end - begin).toString();
}

bool DateInForce(double pValue)
{
    return pValue > 1.0;
}

} // namespace

TDvSearchOptions::TDvSearchOptions()
{
    Reset();
}

TFilesFolders TDvSearchOptions::GetFilesAndFolders() const
{
    return fFilesAndFolders;
}

void TDvSearchOptions::Reset()
{
    fRecursiveSearch = true;
    fIncludeHidden = false;
    fMaxFileSize = -1;
    fMinFileSize = 0;
    fSplittedFilter.clear();
    fPreparedMasks.clear();
    fFilter = QStringLiteral("*");
    fFilesAndFolders = ffFilesAndFolders;
    fAutoWildcard = true;
    fUseFullPathWhenComparing = false;
    SetCreationDateMax(0);
    SetCreationDateMin(0);
    SetAccessDateMax(0);
    SetAccessDateMin(0);
    SetLastWriteDateMax(0);
    SetLastWriteDateMin(0);
}

void TDvSearchOptions::Assign(const TDvSearchOptions &Source)
{
    if (&Source == this)
        return;
    SetCreationDateMax(Source.fCreationDateMax);
    SetCreationDateMin(Source.fCreationDateMin);
    SetAccessDateMax(Source.fAccessDateMax);
    SetAccessDateMin(Source.fAccessDateMin);
    SetLastWriteDateMax(Source.fLastWriteDateMax);
    SetLastWriteDateMin(Source.fLastWriteDateMin);
    // Whole-day bounds are finer than their OLE dates: take them as they are.
    fCreationDateMax_FileTime = Source.fCreationDateMax_FileTime;
    fCreationDateMin_FileTime = Source.fCreationDateMin_FileTime;
    fAccessDateMax_FileTime = Source.fAccessDateMax_FileTime;
    fAccessDateMin_FileTime = Source.fAccessDateMin_FileTime;
    fLastWriteDateMax_FileTime = Source.fLastWriteDateMax_FileTime;
    fLastWriteDateMin_FileTime = Source.fLastWriteDateMin_FileTime;
    fRecursiveSearch = Source.fRecursiveSearch;
    fFilesAndFolders = Source.fFilesAndFolders;
    fMaxFileSize = Source.fMaxFileSize;
    fMinFileSize = Source.fMinFileSize;
    SetAutoWildcard(Source.fAutoWildcard);
    SetFilter(Source.fFilter);
    fIncludeHidden = Source.fIncludeHidden;
    fUseFullPathWhenComparing = Source.fUseFullPathWhenComparing;
}

void TDvSearchOptions::SetFilter(const QString &Value)
{
    if (Value.isEmpty()) {
        fFilter = QStringLiteral("*");
        fSplittedFilter.clear();
        fPreparedMasks.clear();
        return;
    }
    fFilter = Value;
    BuildMaskList();
}

void TDvSearchOptions::SetAutoWildcard(bool Value)
{
    fAutoWildcard = Value;
    BuildMaskList();
}

void TDvSearchOptions::BuildMaskList()
{
    fSplittedFilter.clear();
    fPreparedMasks.clear();

    QStringList parts;
    const QStringView text(fFilter);
    qsizetype start = 0;
    for (;;) {
        const qsizetype sep = text.indexOf(QLatin1Char(';'), start);
        if (sep < 0) {
            // After the last separator only a non-empty remainder counts.
            const QString rest = TrimMask(text.mid(start));
            if (!rest.isEmpty())
                parts << rest;
            break;
        }
        parts << TrimMask(text.mid(start, sep - start));
        start = sep + 1;
    }

    for (QString &mask : parts) {
        if (fAutoWildcard && !mask.contains(QLatin1Char('*')) && !mask.contains(QLatin1Char('?')))
            mask = QLatin1Char('*') + mask + QLatin1Char('*');
        AddMask(mask);
    }
}

void TDvSearchOptions::AddMask(const QString &pMask)
{
    const auto less = [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    };
    const auto it = std::lower_bound(fSplittedFilter.begin(), fSplittedFilter.end(), pMask, less);
    if (it != fSplittedFilter.end() && QString::compare(*it, pMask, Qt::CaseInsensitive) == 0)
        return;
    const auto index = it - fSplittedFilter.begin();
    fSplittedFilter.insert(index, pMask);
    fPreparedMasks.insert(fPreparedMasks.begin() + index, Prepare(pMask));
}

TDvSearchOptions::PreparedMask TDvSearchOptions::Prepare(const QString &pMask)
{
    PreparedMask prepared;
    if (pMask == QLatin1String("*.")) {
        prepared.NoDotOnly = true;
        prepared.Mask = WildcardMask(pMask);
    } else if (pMask.endsWith(QLatin1String("*.*"))) {
        prepared.Mask = WildcardMask(QString(pMask + QLatin1String(".*")));
    } else {
        prepared.Mask = WildcardMask(pMask);
    }
    return prepared;
}

bool TDvSearchOptions::MatchesPrepared(const PreparedMask &pMask, const char *pName,
                                       std::size_t pLength)
{
    if (pMask.NoDotOnly && std::memchr(pName, '.', pLength) == nullptr)
        return true;
    return pMask.Mask.Matches(pName, pLength);
}

bool TDvSearchOptions::FileNameMatchesMask(QStringView pName, QStringView pMask)
{
    const PreparedMask prepared = Prepare(pMask.toString());
    if (prepared.NoDotOnly && !pName.contains(QLatin1Char('.')))
        return true;
    return prepared.Mask.Matches(pName);
}

bool TDvSearchOptions::NameMatches(const FindData &pEntry, QByteArrayView pFolderPath) const
{
    if (fPreparedMasks.empty())
        return true;
    QByteArray fullPath;
    for (const PreparedMask &mask : fPreparedMasks) {
        if (MatchesPrepared(mask, pEntry.Name(), pEntry.NameLength()))
            return true;
        if (fUseFullPathWhenComparing) {
            if (fullPath.isEmpty())
                fullPath = pFolderPath.toByteArray() +
                           QByteArray(pEntry.Name(), static_cast<qsizetype>(pEntry.NameLength()));
            if (MatchesPrepared(mask, fullPath.constData(),
                                static_cast<std::size_t>(fullPath.size())))
                return true;
        }
    }
    return false;
}

bool TDvSearchOptions::Matches(const FindData &pWin32FindData, const QString &pFolderPath) const
{
    return MatchesInFolder(pWin32FindData,
                           fUseFullPathWhenComparing ? EncodeFileName(pFolderPath) : QByteArray());
}

bool TDvSearchOptions::MatchesInFolder(const FindData &pWin32FindData,
                                       QByteArrayView pFolderPath) const
{
    if (pWin32FindData.IsDotOrDotDot())
        return false;

    const EntryKind kind = pWin32FindData.Kind();
    if (kind == EntryKind::Other)
        return false;
    if (fFilesAndFolders == ffFilesOnly && kind == EntryKind::Folder)
        return false;
    if (fFilesAndFolders == ffFoldersOnly && kind != EntryKind::Folder)
        return false;

    if (!NameMatches(pWin32FindData, pFolderPath))
        return false;

    // A size is read (and the file asked) only when a bound can fail.
    if (fMinFileSize > 0 || fMaxFileSize >= 0) {
        const std::int64_t size = pWin32FindData.Size();
        if (size < fMinFileSize)
            return false;
        if (fMaxFileSize >= 0 && size > fMaxFileSize)
            return false;
    }

    if (pWin32FindData.IsHidden() && !fIncludeHidden)
        return false;

    return MatchesDates(pWin32FindData);
}

bool TDvSearchOptions::MatchesDates(const FindData &pWin32FindData) const
{
    if (DateInForce(fCreationDateMax) && pWin32FindData.CreationTime() > fCreationDateMax_FileTime)
        return false;
    if (DateInForce(fCreationDateMin) && pWin32FindData.CreationTime() < fCreationDateMin_FileTime)
        return false;
    if (DateInForce(fAccessDateMax) && pWin32FindData.LastAccessTime() > fAccessDateMax_FileTime)
        return false;
    if (DateInForce(fAccessDateMin) && pWin32FindData.LastAccessTime() < fAccessDateMin_FileTime)
        return false;
    if (DateInForce(fLastWriteDateMax) &&
        pWin32FindData.LastWriteTime() > fLastWriteDateMax_FileTime)
        return false;
    if (DateInForce(fLastWriteDateMin) &&
        pWin32FindData.LastWriteTime() < fLastWriteDateMin_FileTime)
        return false;
    return true;
}

namespace {

// The bounds of whole days as file times. File times count 100 ns, so "at most one tick
// before the next day's start" is "before the next day's start", to the last nanosecond.
void SetDayBounds(QDate pFirst, QDate pLast, std::uint64_t &pMin, std::uint64_t &pMax)
{
    pMin = LocalDayStartFileTime(pFirst);
    const std::uint64_t next = LocalDayStartFileTime(pLast.addDays(1));
    if (next > 0)
        pMax = next - 1;
}

} // namespace

void TDvSearchOptions::SetCreationDays(QDate First, QDate Last)
{
    SetCreationDateMin(OleDateFromLocal(First, QTime(0, 0)));
    SetCreationDateMax(OleDateFromLocal(Last, QTime(23, 59, 59, 999)));
    SetDayBounds(First, Last, fCreationDateMin_FileTime, fCreationDateMax_FileTime);
}

void TDvSearchOptions::SetAccessDays(QDate First, QDate Last)
{
    SetAccessDateMin(OleDateFromLocal(First, QTime(0, 0)));
    SetAccessDateMax(OleDateFromLocal(Last, QTime(23, 59, 59, 999)));
    SetDayBounds(First, Last, fAccessDateMin_FileTime, fAccessDateMax_FileTime);
}

void TDvSearchOptions::SetLastWriteDays(QDate First, QDate Last)
{
    SetLastWriteDateMin(OleDateFromLocal(First, QTime(0, 0)));
    SetLastWriteDateMax(OleDateFromLocal(Last, QTime(23, 59, 59, 999)));
    SetDayBounds(First, Last, fLastWriteDateMin_FileTime, fLastWriteDateMax_FileTime);
}

void TDvSearchOptions::SetCreationDateMax(double Value)
{
    fCreationDateMax = Value;
    fCreationDateMax_FileTime = LocalOleDateToFileTime(Value);
}

void TDvSearchOptions::SetCreationDateMin(double Value)
{
    fCreationDateMin = Value;
    fCreationDateMin_FileTime = LocalOleDateToFileTime(Value);
}

void TDvSearchOptions::SetAccessDateMax(double Value)
{
    fAccessDateMax = Value;
    fAccessDateMax_FileTime = LocalOleDateToFileTime(Value);
}

void TDvSearchOptions::SetAccessDateMin(double Value)
{
    fAccessDateMin = Value;
    fAccessDateMin_FileTime = LocalOleDateToFileTime(Value);
}

void TDvSearchOptions::SetLastWriteDateMax(double Value)
{
    fLastWriteDateMax = Value;
    fLastWriteDateMax_FileTime = LocalOleDateToFileTime(Value);
}

void TDvSearchOptions::SetLastWriteDateMin(double Value)
{
    fLastWriteDateMin = Value;
    fLastWriteDateMin_FileTime = LocalOleDateToFileTime(Value);
}

} // namespace dv
