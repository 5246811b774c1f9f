#pragma once

#include "core/folders/ShellItem.h"
#include "core/folders/TDvSelectionState.h"
#include "core/threads/TBasicWorkItem.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace dv {

class TDvShellLink;
class TDvShellTreeNode;

// Computes the check states of a batch of tree nodes from the selection list on a worker
// thread (and, for new nodes, whether they hold subfolders). Only reads the list, under its
// read lock; the tree applies the answers on the UI thread.
class CheckStateJob : public TBasicWorkItem
{
public:
    struct Request
    {
        TDvShellTreeNode *Node; // touched on the UI thread only, after Token was tested
        ICancellationTokenPtr Token;
        std::uint64_t Sequence;
        ShellItem Item;
        bool ProbeSubfolders;
        // Answers.
        TDvSelectionState State = TDvSelectionState::ssDisabled;
        bool HasSubfolders = false;
        bool Done = false;
    };

    // The job shares the link, so the list outlives it whoever goes first. Without a link it
    // only probes for subfolders.
    CheckStateJob(std::shared_ptr<TDvShellLink> aLink, std::vector<Request> aRequests);

    void DoWork() override;
    std::vector<Request> &Requests() { return m_requests; }
    bool HasLink() const { return m_link != nullptr; }

private:
    std::shared_ptr<TDvShellLink> m_link;
    std::vector<Request> m_requests;
};

} // namespace dv
