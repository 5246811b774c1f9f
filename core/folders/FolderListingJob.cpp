#include "core/folders/FolderListingJob.h"

#include "core/folders/FolderLister.h"

#include <algorithm>

namespace dv {

FolderListingJob::FolderListingJob(const QString &aFolder) : m_folder(aFolder) {}

void FolderListingJob::DoWork()
{
    m_names = FolderLister::ListFolders(m_folder, [this] { return IsCanceled(); });
    if (m_names && !IsCanceled())
        std::sort(m_names->begin(), m_names->end(), &FolderLister::NameLess);
}

} // namespace dv
