#include "core/folders/TDvFolderListingJob.h"

#include "core/folders/TDvFolderLister.h"

#include <algorithm>

namespace dv {

TDvFolderListingJob::TDvFolderListingJob(const QString &aFolder) : fFolder(aFolder) {}

void TDvFolderListingJob::DoWork()
{
    fNames = TDvFolderLister::ListFolders(fFolder, [this] { return IsCanceled(); });
    if (fNames && !IsCanceled())
        std::sort(fNames->begin(), fNames->end(), &TDvFolderLister::NameLess);
}

} // namespace dv
