#include "core/folders/CheckStateJob.h"

#include "core/folders/FolderLister.h"
#include "core/folders/TDvShellLink.h"

namespace dv {

CheckStateJob::CheckStateJob(std::shared_ptr<TDvShellLink> aLink, std::vector<Request> aRequests)
    : fLink(std::move(aLink)), fRequests(std::move(aRequests))
{}

void CheckStateJob::DoWork()
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
        if (request.ProbeSubfolders && request.Item.GetKind() == ShellItem::Kind::FileSystem)
            request.HasSubfolders = FolderLister::HasSubfolders(request.Item.FileSystemPath());
        request.Done = true;
    }
}

} // namespace dv
