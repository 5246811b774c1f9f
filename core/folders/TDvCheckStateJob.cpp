#include "core/folders/TDvCheckStateJob.h"

#include "core/folders/TDvFolderLister.h"
#include "core/folders/TDvShellLink.h"

namespace dv {

TDvCheckStateJob::TDvCheckStateJob(std::shared_ptr<TDvShellLink> aLink,
                                   std::vector<Request> aRequests)
    : fLink(std::move(aLink)), fRequests(std::move(aRequests))
{}

void TDvCheckStateJob::DoWork()
{
    for (Request &request : fRequests) {
        if (IsCanceled())
            return;
        if (request.Token->IsCancellationRequested())
            continue;
        if (fLink) {
            try {
                bool isSubItem = false;
                request.State = fLink->SelectionList()->IsPIDLSelected(&request.Item, isSubItem);
            } catch (...) {
                request.State = TDvSelectionState::ssDisabled;
            }
        }
        if (request.ProbeSubfolders && request.Item.GetKind() == TDvShellItem::Kind::FileSystem)
            request.HasSubfolders = TDvFolderLister::HasSubfolders(request.Item.FileSystemPath());
        request.Done = true;
    }
}

} // namespace dv
