#pragma once

#include "core/search/FileAcceptance.h"

#include <QHash>
#include <QList>
#include <QString>

#include <mutex>

namespace dv {

// The candidates of one search whose content could not be tested, with the reason for each,
// in the order they were first judged: one entry per path, with its latest reason. Safe to
// fill from several threads.
class UnsearchedFiles
{
public:
    struct Entry
    {
        QString Path;
        ContentTestFailure Failure = ContentTestFailure::None;
        QString Reason;
    };

    // Keeps Path when Verdict says it could not be searched (replacing what an earlier test
    // of it said), and forgets it when a later test succeeded; a cancelled test changes
    // nothing. True when it is kept.
    bool note(const QString &path, const CandidateVerdict &verdict);
    // Forgets Path and everything below it (a file or folder that went away).
    void forget(const QString &path);
    void clear();
    qsizetype count() const;
    bool isEmpty() const { return count() == 0; }
    QList<Entry> entries() const;

private:
    void reindex();

    mutable std::mutex m_mutex;
    QList<Entry> m_entries;
    QHash<QString, qsizetype> m_indexOf; // path to its entry
};

} // namespace dv
