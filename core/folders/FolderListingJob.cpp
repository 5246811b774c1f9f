#include "core/folders/FolderListingJob.h"

#include "core/folders/FolderLister.h"

#include <algorithm>

namespace dv {

FolderListingJob::FolderListingJob(const QString &aFolder) : fFolder(aFolder) {}

void FolderListingJob::DoWork()
{
    fNames = FolderLister::ListFolders(fFolder, [this] { return IsCanceled(); });
    if (fNames && !IsCanceled())
        std::sort(fNames->begin(), fNames->end(), &FolderLister::NameLess);
}

} // namespace dv
