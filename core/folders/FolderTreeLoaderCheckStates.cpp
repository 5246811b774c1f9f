// The loader's check boxes: computed from the selection list by check-state jobs on the
// worker pool, and toggled into it.
#include "core/folders/CheckStateJob.h"
#include "core/folders/FolderTreeLoader.h"
#include "core/folders/FolderTreeModel.h"
#include "core/folders/TDvShellLink.h"
#include "core/threads/TWorkerThreadPool.h"

#include <QPointer>

namespace dv {

namespace {

using ListingState = TDvShellTreeNode::ListingState;

// Up to this many nodes share one check-state job: answers arrive in portions and several
// workers can help with a big tree.
constexpr std::size_t kStateBatch = 128;

} // namespace

void FolderTreeLoader::initRootState()
{
    TDvShellTreeNode *root = m_model->Root();
    if (root == nullptr || !checkboxes())
        return;
    // The Computer folder is never checked itself: partly checked while any folder is.
    setNodeCheckState(root, m_shellLink->SelectionList()->IsLocalPathSelected()
                                ? TDvSelectionState::ssGrayed
                                : TDvSelectionState::ssDisabled);
}

void FolderTreeLoader::setNodeCheckState(TDvShellTreeNode *node, TDvSelectionState value)
{
    const bool wasKnown = node->StateEvaluated && node->StateIndex >= 0;
    node->StateEvaluated = true;
    if (node->StateIndex == int(value))
        return;
    node->StateIndex = int(value);
    m_model->NodeChanged(node);
    if (wasKnown)
        emit checkStateChanged(node->FullPath(), value);
}

void FolderTreeLoader::queueStateJobs(const std::vector<TDvShellTreeNode *> &nodes,
                                      bool probeSubfolders)
{
    if (nodes.empty())
        return;
    std::shared_ptr<TDvShellLink> link = checkboxes() ? m_shellLink : nullptr;
    if (!link && !probeSubfolders)
        return;
    QPointer<FolderTreeLoader> self(this);
    std::vector<CheckStateJob::Request> batch;
    const auto submit = [&] {
        auto job = std::make_shared<CheckStateJob>(link, std::move(batch));
        batch = {};
        job->SetTag(this);
        job->SetOnWorkDone([self](const IWorkItemPtr &pItem) {
            auto *states = dynamic_cast<CheckStateJob *>(pItem.get());
            if (self && states != nullptr)
                self->applyCheckStates(*states);
        });
        TWorkerThreadPool::Instance().AddWorkItem(job);
    };
    for (TDvShellTreeNode *node : nodes) {
        node->StateSequence = ++m_stateSequence;
        batch.push_back({node, node->CancellationToken, node->StateSequence, node->Item,
                         probeSubfolders && !node->IsRoot()});
        if (batch.size() >= kStateBatch)
            submit();
    }
    if (!batch.empty())
        submit();
}

void FolderTreeLoader::applyCheckStates(CheckStateJob &job)
{
    bool buttonsChanged = false;
    for (const CheckStateJob::Request &request : job.Requests()) {
        if (!request.Done || request.Token->IsCancellationRequested())
            continue; // the node is gone
        TDvShellTreeNode *node = request.Node;
        if (request.ProbeSubfolders && node->Listing == ListingState::NotListed &&
            node->Children.empty() && node->HasSubfolders != request.HasSubfolders) {
            node->HasSubfolders = request.HasSubfolders;
            buttonsChanged = true;
        }
        // A later request for the node has the fresher answer.
        if (job.HasLink() && checkboxes() && request.Sequence == node->StateSequence)
            setNodeCheckState(node, request.State);
    }
    if (buttonsChanged)
        m_model->ExpandButtonsChanged();
}

void FolderTreeLoader::collectRecomputable(TDvShellTreeNode *node,
                                           std::vector<TDvShellTreeNode *> &out) const
{
    if (!node->KeepsDisabledState())
        out.push_back(node);
    for (const auto &child : node->Children)
        collectRecomputable(child.get(), out);
}

void FolderTreeLoader::refreshCheckStates(const ShellItem *item)
{
    TDvShellTreeNode *root = m_model->Root();
    if (!checkboxes() || root == nullptr)
        return;
    if (item == nullptr || m_shellLink->SelectionList()->IsEmpty()) {
        std::vector<TDvShellTreeNode *> nodes;
        collectRecomputable(root, nodes);
        queueStateJobs(nodes, false);
    } else if (item->GetKind() == ShellItem::Kind::FileSystem) {
        refreshAround(item->FileSystemPath());
    }
}

void FolderTreeLoader::toggleCheckState(TDvShellTreeNode *node)
{
    if (node == nullptr || !checkboxes())
        return;
    const TDvSelectionState state = node->CheckState();
    if (state == TDvSelectionState::ssUnused || state == TDvSelectionState::ssDisabled)
        return;
    const bool check = !node->Checked();
    node->StateEvaluated = true; // a toggle always reports its change
    setNodeCheckState(node, check ? TDvSelectionState::ssChecked : TDvSelectionState::ssUnChecked);
    const ShellItem item = node->Item;
    const std::shared_ptr<TDvShellLink> link = m_shellLink;
    // The list's end of update makes the link refresh every box of this tree.
    if (check)
        link->SelectionList()->AddPIDLToSelection(item);
    else
        link->SelectionList()->RemovePIDLFromSelection(item);
    // The list may have decided otherwise (a shortcut, a folder gone meanwhile).
    queueStateJobs({node}, false);
}

} // namespace dv
