#include "core/search/UnsearchedFiles.h"

namespace dv {

bool UnsearchedFiles::note(const QString &path, const CandidateVerdict &verdict)
{
    if (!verdict.CouldNotBeSearched())
        return false;
    std::lock_guard lock(m_mutex);
    m_entries.append({path, verdict.Failure, verdict.Reason});
    return true;
}

void UnsearchedFiles::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
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
