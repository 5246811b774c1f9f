#pragma once

#include "core/search/FileAcceptance.h"

#include <QList>
#include <QString>

#include <mutex>

namespace dv {

// The candidates of one search whose content could not be tested, with the reason for each,
// in the order they were judged. Safe to fill from several threads.
class UnsearchedFiles
{
public:
    struct Entry
    {
        QString Path;
        ContentTestFailure Failure = ContentTestFailure::None;
        QString Reason;
    };

    // Keeps Path when Verdict says it could not be searched (a cancelled test is not kept);
    // true when it was kept.
    bool note(const QString &path, const CandidateVerdict &verdict);
    void clear();
    qsizetype count() const;
    bool isEmpty() const { return count() == 0; }
    QList<Entry> entries() const;

private:
    mutable std::mutex m_mutex;
    QList<Entry> m_entries;
};

} // namespace dv
