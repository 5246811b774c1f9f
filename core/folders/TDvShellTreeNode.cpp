#include "core/folders/TDvShellTreeNode.h"

#include "core/folders/FolderLister.h"
#include "core/platform/FileName.h"

#include <algorithm>

namespace dv {

TDvShellTreeNode::TDvShellTreeNode(TDvShellTreeNode *aParent, const ShellItem &aItem,
                                   const QString &aName)
    : Parent(aParent), Item(aItem), Name(aName), Caption(aName),
      CancellationToken(std::make_shared<TCustomCancellationToken>())
{}

TDvShellTreeNode::~TDvShellTreeNode()
{
    CancellationToken->Cancel();
    CancelListing();
}

int TDvShellTreeNode::Row() const
{
    if (Parent == nullptr)
        return 0;
    const auto &siblings = Parent->Children;
    if (fRowHint < int(siblings.size()) && siblings[std::size_t(fRowHint)].get() == this)
        return fRowHint;
    const auto it = std::find_if(siblings.begin(), siblings.end(),
                                 [this](const auto &sibling) { return sibling.get() == this; });
    fRowHint = it == siblings.end() ? 0 : int(it - siblings.begin());
    return it == siblings.end() ? -1 : fRowHint;
}

int TDvShellTreeNode::Level() const
{
    int level = 0;
    for (const TDvShellTreeNode *node = Parent; node != nullptr; node = node->Parent)
        ++level;
    return level;
}

TDvShellTreeNode *TDvShellTreeNode::ChildNamed(const QString &aName) const
{
    for (const auto &child : Children) {
        if (child->Name == aName)
            return child.get();
    }
    return nullptr;
}

TDvSelectionState TDvShellTreeNode::CheckState() const
{
    return StateIndex < 0 ? TDvSelectionState::ssUnused : TDvSelectionState(StateIndex);
}

void TDvShellTreeNode::RenumberChildren(int aFirst)
{
    for (std::size_t i = std::size_t(std::max(aFirst, 0)); i < Children.size(); ++i)
        Children[i]->fRowHint = int(i);
}

void TDvShellTreeNode::CancelListing()
{
    if (ListingToken) {
        ListingToken->Cancel();
        ListingToken.reset();
    }
}

void TDvShellTreeNode::Rebase(const QString &aNewPath)
{
    Item = ShellItem::FromPath(aNewPath);
    for (const auto &child : Children)
        child->Rebase(JoinPath(aNewPath, child->Name));
}

} // namespace dv
