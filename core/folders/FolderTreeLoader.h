#pragma once

#include "core/folders/IDvShellControl.h"
#include "core/folders/TDvSelectionState.h"
#include "core/folders/TDvShellTreeNode.h"

#include <QObject>
#include <QSet>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace dv {

class CheckStateJob;
class FolderListingJob;
class TDvShellChangeNotifier;
class TDvShellLink;
class FolderTreeModel;

// What the folder tree knows of the disk, without a view: it fills a FolderTreeModel,
// lists folders in the background when asked, merges a new listing into the nodes that are
// there, watches the expanded folders and re-reads them when they change, and computes the
// check boxes from the link's selection list with check-state jobs on the worker pool.
// The view tells it which nodes are expanded and keeps input, selection and rename.
class FolderTreeLoader : public QObject
{
    Q_OBJECT
public:
    // May veto a new node (CanAdd := false) or change its caption before it is shown.
    using AddFolderHandler =
        std::function<void(TDvShellTreeNode *Node, const QString &path, bool &CanAdd)>;

    // The model stays the caller's; it must outlive the loader.
    explicit FolderTreeLoader(FolderTreeModel *model, QObject *parent = nullptr);
    ~FolderTreeLoader() override;

    FolderTreeModel *model() const { return m_model; }

    // Without a link there are no check boxes. The link is shared: background jobs keep it
    // (and its list) alive while they run. Setting either recomputes every box.
    std::shared_ptr<TDvShellLink> shellLink() const { return m_shellLink; }
    void setShellLink(std::shared_ptr<TDvShellLink> link);
    bool checkboxes() const { return m_checkboxes && m_shellLink != nullptr; }
    void setCheckboxes(bool value);

    // The folders below "Computer"; setting them fills the model again.
    QStringList rootFolders() const { return m_rootFolders; }
    void setRootFolders(const QStringList &folders);
    // The ready drives ("/" first) and the home folder.
    static QStringList defaultRootFolders();
    // Called for every new node; by default archiveFilter.
    void setAddFolderHandler(AddFolderHandler handler) { m_onAddFolder = std::move(handler); }
    // Hides folders whose extension (from the last "." of the last name) is exactly ".zip"
    // or ".rar": the desktop presents such archives as folders elsewhere, never here.
    static void archiveFilter(TDvShellTreeNode *node, const QString &path, bool &canAdd);

    // Replaces every node by the root and its root folders.
    void fill();
    // Reads the node's children in the background (the root: its root folders at once).
    void listFolder(TDvShellTreeNode *node);
    // The view expanded or collapsed the node: an expanded folder is watched, and a listing
    // of a collapsed one is dropped.
    void setExpanded(TDvShellTreeNode *node, bool expanded);

    // Recomputes the boxes: of every node, or of the nodes on the way to an item.
    void refreshCheckStates(const ShellItem *item);
    // Reads the root folders again and every expanded folder below them.
    void refreshAll();
    // Reads one node again (the root or none: the root folders).
    void refreshNode(TDvShellTreeNode *node);
    // Folders changed on disk (a paste): their loaded nodes are read again.
    void refreshFolders(const QSet<QString> &folders);

    // Checks or unchecks the node in the selection list.
    void toggleCheckState(TDvShellTreeNode *node);
    // The node's folder was renamed on disk: every loaded node of it follows.
    void folderRenamed(TDvShellTreeNode *node, const QString &newName);
    // A folder went away (moved to the trash): its loaded nodes go.
    void folderRemoved(const QString &path);

    // The loaded nodes of a path, one below each root folder that holds it.
    std::vector<TDvShellTreeNode *> loadedNodesOf(const QString &path) const;
    // The deepest loaded node on the way to a path, below the innermost root folder that
    // holds it (the root when none does). *unlisted tells that the walk stopped at a node not
    // listed yet, rather than at the path or a folder the tree does not show.
    TDvShellTreeNode *nodeToward(const QString &path, bool *unlisted) const;
    // The loaded node of a path below the innermost root folder that holds it; null when it
    // is not loaded.
    TDvShellTreeNode *findLoadedNode(const QString &path) const;

signals:
    // The model holds a new root.
    void filled();
    // A node's listing arrived and is merged.
    void listed(dv::TDvShellTreeNode *node);
    // A node's known check state changed (not its first evaluation).
    void checkStateChanged(const QString &path, dv::TDvSelectionState state);

private:
    std::unique_ptr<TDvShellTreeNode> makeNode(TDvShellTreeNode *parent, const QString &name,
                                               const QString &path);
    void startListing(TDvShellTreeNode *node, bool refreshKept);
    void applyListing(TDvShellTreeNode *node, const FolderListingJob &job, bool refreshKept);
    void mergeChildren(TDvShellTreeNode *node, const QStringList &names, bool refreshKept);
    void refreshSubtree(TDvShellTreeNode *node);
    void discardChildren(TDvShellTreeNode *node);
    void refreshAround(const QString &path);
    void refreshRootFolders();
    TDvShellTreeNode *deepestLoadedNodeOf(TDvShellTreeNode *top, const QString &path,
                                          bool discardCollapsed);
    // False when the new name hides the node (it is gone).
    bool applyRename(TDvShellTreeNode *node, const QString &newName, const QString &newPath);

    void initRootState();
    void setNodeCheckState(TDvShellTreeNode *node, TDvSelectionState value);
    void queueStateJobs(const std::vector<TDvShellTreeNode *> &nodes, bool probeSubfolders);
    void applyCheckStates(CheckStateJob &job);
    void collectRecomputable(TDvShellTreeNode *node, std::vector<TDvShellTreeNode *> &out) const;

    // Watches an expanded folder (without its subfolders) for changes of its list.
    void watchFolder(const QString &path);
    // Whether the folder was watched; it is not any more.
    bool unwatchFolder(const QString &path);
    void readChangedFolders();

    FolderTreeModel *m_model;
    std::shared_ptr<TDvShellLink> m_shellLink;
    bool m_checkboxes = true;
    QStringList m_rootFolders;
    AddFolderHandler m_onAddFolder;
    std::uint64_t m_stateSequence = 0;
    // The expanded folders, each without its subfolders; its watches come from the same
    // budget as the result list's.
    std::unique_ptr<TDvShellChangeNotifier> m_watcher;
    QTimer *m_changeTimer = nullptr;
    QSet<QString> m_changedFolders;
};

} // namespace dv
