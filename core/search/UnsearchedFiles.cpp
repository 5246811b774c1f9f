#include "core/search/UnsearchedFiles.h"

#include "core/platform/PathCompare.h"

namespace dv {

bool UnsearchedFiles::note(const QString &path, const CandidateVerdict &verdict)
{
    if (verdict.Failure == ContentTestFailure::Cancelled)
        return false;
    std::lock_guard lock(m_mutex);
    const auto found = m_indexOf.constFind(path);
    if (!verdict.CouldNotBeSearched()) {
        if (found != m_indexOf.constEnd()) {
            m_entries.removeAt(*found);
            reindex();
        }
        return false;
    }
    if (found != m_indexOf.constEnd()) {
        Entry &entry = m_entries[*found];
        entry.Failure = verdict.Failure;
        entry.Reason = verdict.Reason;
        return true;
    }
    m_indexOf.insert(path, m_entries.size());
    m_entries.append({path, verdict.Failure, verdict.Reason});
    return true;
}

void UnsearchedFiles::forget(const QString &path)
{
    std::lock_guard lock(m_mutex);
    const qsizetype before = m_entries.size();
    m_entries.removeIf([&path](const Entry &entry) {
        return SamePath(entry.Path, path) || IsPathBelow(entry.Path, path);
    });
    if (m_entries.size() != before)
        reindex();
}

void UnsearchedFiles::reindex()
{
    m_indexOf.clear();
    for (qsizetype i = 0; i < m_entries.size(); ++i)
        m_indexOf.insert(m_entries[i].Path, i);
}

void UnsearchedFiles::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_indexOf.clear();
}

qsizetype UnsearchedFiles::count() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

QList<UnsearchedFiles::Entry> UnsearchedFiles::entries() const
{
    std::lock_guard lock(m_mutex);
    return m_entries;
}

} // namespace dv
