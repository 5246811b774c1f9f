#pragma once

#include "core/platform/FindData.h"
#include "core/platform/WildcardMask.h"

#include <QByteArrayView>
#include <QDate>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace dv {

enum TFilesFolders
{
    ffFilesOnly = 0,
    ffFoldersOnly = 1,
    ffFilesAndFolders = 2
};

// The search criteria: name masks, size bounds, date bounds, kind, hidden and recursion
// switches. Each enumeration judges every directory entry with its own copy (Matches).
class TDvSearchOptions
{
public:
    TDvSearchOptions();
    virtual ~TDvSearchOptions() = default;

    TDvSearchOptions(const TDvSearchOptions &) = delete;
    TDvSearchOptions &operator=(const TDvSearchOptions &) = delete;

    // The kind filter.
    virtual TFilesFolders GetFilesAndFolders() const;
    // Whether the entry's file times lie within every date bound in force.
    virtual bool MatchesDates(const FindData &pWin32FindData) const;
    // Sets every criterion back to its default (every name, any size, no dates, recursive).
    virtual void Reset();
    // Whether one entry found in pFolderPath (ending with "/") is a result.
    virtual bool Matches(const FindData &pWin32FindData, const QString &pFolderPath) const;
    // The same, with the folder given as the bytes of its path (what the walk has at hand).
    bool MatchesInFolder(const FindData &pWin32FindData, QByteArrayView pFolderPath) const;
    // Copies all criteria from Source.
    virtual void Assign(const TDvSearchOptions &Source);

    // One mask against one name, with the rules for "*." and masks containing "*.*".
    static bool FileNameMatchesMask(QStringView pName, QStringView pMask);

    std::int64_t MaxFileSize() const { return fMaxFileSize; }
    void SetMaxFileSize(std::int64_t Value) { fMaxFileSize = Value; }
    std::int64_t MinFileSize() const { return fMinFileSize; }
    void SetMinFileSize(std::int64_t Value) { fMinFileSize = Value; }
    bool RecursiveSearch() const { return fRecursiveSearch; }
    void SetRecursiveSearch(bool Value) { fRecursiveSearch = Value; }
    bool IncludeHidden() const { return fIncludeHidden; }
    void SetIncludeHidden(bool Value) { fIncludeHidden = Value; }
    TFilesFolders FilesAndFolders() const { return fFilesAndFolders; }
    void SetFilesAndFolders(TFilesFolders Value) { fFilesAndFolders = Value; }
    bool UseFullPathWhenComparing() const { return fUseFullPathWhenComparing; }
    void SetUseFullPathWhenComparing(bool Value) { fUseFullPathWhenComparing = Value; }

    const QString &Filter() const { return fFilter; }
    void SetFilter(const QString &Value);
    bool AutoWildcard() const { return fAutoWildcard; }
    void SetAutoWildcard(bool Value);
    // The mask list: sorted without regard to case, each mask once.
    const QStringList &FilterList() const { return fSplittedFilter; }

    double CreationDateMax() const { return fCreationDateMax; }
    void SetCreationDateMax(double Value);
    double CreationDateMin() const { return fCreationDateMin; }
    void SetCreationDateMin(double Value);
    double AccessDateMax() const { return fAccessDateMax; }
    void SetAccessDateMax(double Value);
    double AccessDateMin() const { return fAccessDateMin; }
    void SetAccessDateMin(double Value);
    double LastWriteDateMax() const { return fLastWriteDateMax; }
    void SetLastWriteDateMax(double Value);
    double LastWriteDateMin() const { return fLastWriteDateMin; }
    void SetLastWriteDateMin(double Value);

    // Whole local days First to Last: from the first instant of First (its midnight, or the
    // end of a daylight-saving gap that skips it) to before the start of the day after Last.
    void SetCreationDays(QDate First, QDate Last);
    void SetAccessDays(QDate First, QDate Last);
    void SetLastWriteDays(QDate First, QDate Last);

    std::uint64_t CreationDateMax_FileTime() const { return fCreationDateMax_FileTime; }
    std::uint64_t CreationDateMin_FileTime() const { return fCreationDateMin_FileTime; }
    std::uint64_t AccessDateMax_FileTime() const { return fAccessDateMax_FileTime; }
    std::uint64_t AccessDateMin_FileTime() const { return fAccessDateMin_FileTime; }
    std::uint64_t LastWriteDateMax_FileTime() const { return fLastWriteDateMax_FileTime; }
    std::uint64_t LastWriteDateMin_FileTime() const { return fLastWriteDateMin_FileTime; }

private:
    // A mask of the list, prepared for matching names as bytes.
    struct PreparedMask
    {
        bool NoDotOnly = false; // the mask "*.": names without any "."
        WildcardMask Mask;
    };

    void BuildMaskList();
    void AddMask(const QString &pMask);
    bool NameMatches(const FindData &pEntry, QByteArrayView pFolderPath) const;
    static PreparedMask Prepare(const QString &pMask);
    static bool MatchesPrepared(const PreparedMask &pMask, const char *pName, std::size_t pLength);

    std::int64_t fMaxFileSize = -1;
    std::int64_t fMinFileSize = 0;
    bool fRecursiveSearch = true;
    double fCreationDateMax = 0;
    std::uint64_t fCreationDateMax_FileTime = 0;
    double fCreationDateMin = 0;
    std::uint64_t fCreationDateMin_FileTime = 0;
    double fAccessDateMax = 0;
    std::uint64_t fAccessDateMax_FileTime = 0;
    double fAccessDateMin = 0;
    std::uint64_t fAccessDateMin_FileTime = 0;
    double fLastWriteDateMax = 0;
    std::uint64_t fLastWriteDateMax_FileTime = 0;
    double fLastWriteDateMin = 0;
    std::uint64_t fLastWriteDateMin_FileTime = 0;
    TFilesFolders fFilesAndFolders = ffFilesAndFolders;
    bool fIncludeHidden = false;
    QString fFilter = QStringLiteral("*");
    bool fAutoWildcard = true;
    bool fUseFullPathWhenComparing = false;
    QStringList fSplittedFilter;
    std::vector<PreparedMask> fPreparedMasks; // parallel to fSplittedFilter
};

} // namespace dv
