#include "core/folders/CheckStateJob.h"

#include "core/folders/FolderLister.h"
#include "core/folders/TDvShellLink.h"

namespace dv {

CheckStateJob::CheckStateJob(std::shared_ptr<TDvShellLink> aLink, std::vector<Request> aRequests)
    : m_link(std::move(aLink)), m_requests(std::move(aRequests))
{}

void CheckStateJob::DoWork()
{
    for (Request &request : m_requests) {
        if (IsCanceled())
            return;
        if (request.Token->IsCancellationRequested())
            continue;
        if (m_link) {
            try {
                bool isSubItem = false;
                request.State = m_link->SelectionList()->IsPIDLSelected(&request.Item, isSubItem);
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
