#include "core/folders/FolderTreeModel.h"
#include "core/platform/FileName.h"

#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace dv;
using ListingState = TDvShellTreeNode::ListingState;

// The folder tree's model on its own: nodes made by hand, no disk and no loader. Qt's model
// tester watches every change, so a wrong row, parent or move signal fails at once.
class tst_FolderTreeModel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
    }

    void rowsComeGoAndMove();
    void removedNodesCancelTheirJobs();
    void rolesAndFlags_data();
    void rolesAndFlags();
    void checkBoxFollowsTheState_data();
    void checkBoxFollowsTheState();
    void listingAndRenameAreAskedFor();
    void dragCarriesTheExactPaths();

private:
    // Computer > /data > "a", "c" (listed).
    TDvShellTreeNode *top() const { return m_model->Root()->Children.front().get(); }
    std::unique_ptr<TDvShellTreeNode> make(TDvShellTreeNode *parent, const QString &name) const
    {
        return std::make_unique<TDvShellTreeNode>(
            parent, ShellItem::FromPath(JoinPath(parent->FullPath(), name)), name);
    }
    void insert(int row, const QStringList &names)
    {
        std::vector<std::unique_ptr<TDvShellTreeNode>> nodes;
        for (const QString &name : names)
            nodes.push_back(make(top(), name));
        m_model->InsertChildren(top(), row, std::move(nodes));
    }
    QStringList names(const TDvShellTreeNode *node) const
    {
        QStringList result;
        for (const auto &child : node->Children)
            result << child->Name;
        return result;
    }
    // Every child of the top folder is found at its row, and its index leads back to it.
    void checkRows() const
    {
        const QModelIndex parent = m_model->IndexOf(top());
        QCOMPARE(m_model->rowCount(parent), int(top()->Children.size()));
        for (int row = 0; row < int(top()->Children.size()); ++row) {
            TDvShellTreeNode *child = top()->Children[std::size_t(row)].get();
            const QModelIndex index = m_model->index(row, 0, parent);
            QCOMPARE(m_model->NodeOf(index), child);
            QCOMPARE(m_model->IndexOf(child), index);
            QCOMPARE(m_model->parent(index), parent);
        }
    }

    std::unique_ptr<FolderTreeModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void tst_FolderTreeModel::init()
{
    m_model = std::make_unique<FolderTreeModel>();
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto root = std::make_unique<TDvShellTreeNode>(nullptr, ShellItem::Computer(), QString());
    root->Caption = QStringLiteral("Computer");
    root->Listing = ListingState::Listed;
    root->Children.push_back(std::make_unique<TDvShellTreeNode>(
        root.get(), ShellItem::FromPath(QStringLiteral("/data")), QStringLiteral("/data")));
    root->RenumberChildren();
    m_model->ResetRoot(std::move(root));
    top()->Listing = ListingState::Listed;
    insert(0, {QStringLiteral("a"), QStringLiteral("c")});
}

void tst_FolderTreeModel::rowsComeGoAndMove()
{
    insert(1, {QStringLiteral("b")});
    insert(99, {QStringLiteral("z")}); // past the end: appended
    insert(-1, {QStringLiteral("0")}); // before the start: prepended
    QCOMPARE(names(top()), (QStringList{"0", "a", "b", "c", "z"}));
    checkRows();

    // Down and up again: an open index (the view's current row) follows the node.
    TDvShellTreeNode *a = top()->ChildNamed(QStringLiteral("a"));
    const QPersistentModelIndex held(m_model->IndexOf(a));
    m_model->MoveNode(a, 3);
    QCOMPARE(names(top()), (QStringList{"0", "b", "c", "a", "z"}));
    QCOMPARE(held.row(), 3);
    QCOMPARE(m_model->NodeOf(held), a);
    checkRows();
    m_model->MoveNode(a, 0);
    QCOMPARE(names(top()), (QStringList{"a", "0", "b", "c", "z"}));
    QCOMPARE(held.row(), 0);
    checkRows();
    QSignalSpy moves(m_model.get(), &QAbstractItemModel::rowsAboutToBeMoved);
    m_model->MoveNode(a, 0);
    QCOMPARE(moves.count(), 0);

    m_model->RemoveNode(top()->ChildNamed(QStringLiteral("b")));
    QCOMPARE(names(top()), (QStringList{"a", "0", "c", "z"}));
    checkRows();
    m_model->RemoveNode(m_model->Root()); // the root is only replaced, never removed
    QVERIFY(m_model->Root() != nullptr);

    // A listed folder without children shows no expand button.
    m_model->RemoveChildren(top());
    QVERIFY(top()->Children.empty());
    QVERIFY(!m_model->hasChildren(m_model->IndexOf(top())));

    m_model->ResetRoot(nullptr);
    QCOMPARE(m_model->rowCount(), 0);
    QVERIFY(!m_model->index(0, 0).isValid());
    QVERIFY(!m_model->hasChildren());
}

void tst_FolderTreeModel::removedNodesCancelTheirJobs()
{
    TDvShellTreeNode *a = top()->ChildNamed(QStringLiteral("a"));
    a->Children.push_back(make(a, QStringLiteral("deep")));
    a->ListingToken = std::make_shared<TCustomCancellationToken>();
    const ICancellationTokenPtr job = a->CancellationToken;
    const ICancellationTokenPtr listing = a->ListingToken;
    const ICancellationTokenPtr below = a->Children.front()->CancellationToken;
    const ICancellationTokenPtr sibling = top()->ChildNamed(QStringLiteral("c"))->CancellationToken;

    m_model->RemoveNode(a);
    QVERIFY(job->IsCancellationRequested());
    QVERIFY(listing->IsCancellationRequested());
    QVERIFY(below->IsCancellationRequested());
    QVERIFY(!sibling->IsCancellationRequested());

    m_model->RemoveChildren(top());
    QVERIFY(sibling->IsCancellationRequested());
}

void tst_FolderTreeModel::rolesAndFlags_data()
{
    QTest::addColumn<QString>("which"); // empty: the root
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("draggable");
    QTest::addColumn<bool>("editable");
    QTest::newRow("Computer") << QString() << "Computer" << QString() << false << false;
    // The drives and the home folder are fixed points: dragged, never renamed here.
    QTest::newRow("root folder") << "/data"
                                 << "/data"
                                 << "/data" << true << false;
    QTest::newRow("folder") << "a"
                            << "a"
                            << "/data/a" << true << true;
}

void tst_FolderTreeModel::rolesAndFlags()
{
    QFETCH(QString, which);
    QFETCH(QString, display);
    QFETCH(QString, path);
    QFETCH(bool, draggable);
    QFETCH(bool, editable);
    TDvShellTreeNode *node = which.isEmpty()     ? m_model->Root()
                             : which == u"/data" ? top()
                                                 : top()->ChildNamed(which);
    QVERIFY(node != nullptr);
    const QModelIndex index = m_model->IndexOf(node);
    QCOMPARE(index.data(Qt::DisplayRole).toString(), display);
    QCOMPARE(index.data(FolderTreeModel::FullPathRole).toString(), path);
    QCOMPARE(index.data(Qt::ToolTipRole).isValid(), !path.isEmpty());
    QCOMPARE(bool(index.flags() & Qt::ItemIsDragEnabled), draggable);
    QCOMPARE(bool(index.flags() & Qt::ItemIsEditable), editable);
    QVERIFY(index.flags() & Qt::ItemIsSelectable);
    // The widgets add icons and colours; the engine's model has none.
    QVERIFY(!index.data(Qt::DecorationRole).isValid());

    // The editor starts from the name on disk, not from a caption the handler changed.
    node->Caption = QStringLiteral("shown");
    QCOMPARE(index.data(Qt::DisplayRole).toString(), QStringLiteral("shown"));
    QCOMPARE(index.data(Qt::EditRole).toString(), node->Name);
}

void tst_FolderTreeModel::checkBoxFollowsTheState_data()
{
    QTest::addColumn<int>("stateIndex");
    QTest::addColumn<QVariant>("checkState");
    QTest::newRow("not known: no box") << -1 << QVariant();
    QTest::newRow("unused: no box") << int(TDvSelectionState::ssUnused) << QVariant();
    QTest::newRow("checked") << int(TDvSelectionState::ssChecked) << QVariant(int(Qt::Checked));
    QTest::newRow("grayed") << int(TDvSelectionState::ssGrayed)
                            << QVariant(int(Qt::PartiallyChecked));
    QTest::newRow("unchecked") << int(TDvSelectionState::ssUnChecked)
                               << QVariant(int(Qt::Unchecked));
    QTest::newRow("disabled") << int(TDvSelectionState::ssDisabled) << QVariant(int(Qt::Unchecked));
}

void tst_FolderTreeModel::checkBoxFollowsTheState()
{
    QFETCH(int, stateIndex);
    QFETCH(QVariant, checkState);
    TDvShellTreeNode *a = top()->ChildNamed(QStringLiteral("a"));
    QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
    a->StateIndex = stateIndex;
    m_model->NodeChanged(a);
    QCOMPARE(changed.count(), 1);
    const QModelIndex index = m_model->IndexOf(a);
    QCOMPARE(changed.first().at(0).toModelIndex(), index);
    QCOMPARE(index.data(Qt::CheckStateRole), checkState);
    // The delegate draws the disabled look from the raw state.
    QCOMPARE(index.data(FolderTreeModel::SelectionStateRole).toInt(), stateIndex);
}

void tst_FolderTreeModel::listingAndRenameAreAskedFor()
{
    QList<TDvShellTreeNode *> listings;
    connect(m_model.get(), &FolderTreeModel::ListingRequested, this,
            [&](TDvShellTreeNode *node) { listings << node; });
    TDvShellTreeNode *a = top()->ChildNamed(QStringLiteral("a"));
    TDvShellTreeNode *c = top()->ChildNamed(QStringLiteral("c"));
    c->HasSubfolders = false; // probed: nothing below

    // Not listed yet: an expand button until it is probed empty, and one request to list.
    QVERIFY(m_model->hasChildren(m_model->IndexOf(a)));
    QVERIFY(!m_model->hasChildren(m_model->IndexOf(c)));
    m_model->fetchMore(m_model->IndexOf(c));
    m_model->fetchMore(m_model->IndexOf(top())); // listed already
    m_model->fetchMore(m_model->IndexOf(a));
    QCOMPARE(listings, QList<TDvShellTreeNode *>{a});
    a->Listing = ListingState::Running;
    QVERIFY(!m_model->canFetchMore(m_model->IndexOf(a)));
    QVERIFY(m_model->hasChildren(m_model->IndexOf(a)));

    // A name typed in place is only asked for: the tree renames on disk first.
    QList<QPair<TDvShellTreeNode *, QString>> renames;
    connect(m_model.get(), &FolderTreeModel::RenameRequested, this,
            [&](TDvShellTreeNode *node, const QString &name) {
                renames.append({node, name});
            });
    QVERIFY(m_model->setData(m_model->IndexOf(a), QStringLiteral("b"), Qt::EditRole));
    QVERIFY(!m_model->setData(m_model->IndexOf(c), QStringLiteral("d"), Qt::DisplayRole));
    QVERIFY(!m_model->setData(QModelIndex(), QStringLiteral("d"), Qt::EditRole));
    QCOMPARE(renames.size(), 1);
    QCOMPARE(renames.first().first, a);
    QCOMPARE(renames.first().second, QStringLiteral("b"));
    QCOMPARE(a->Name, QStringLiteral("a"));
}

void tst_FolderTreeModel::dragCarriesTheExactPaths()
{
    const QString odd = DecodeFileName(QByteArray("caf\xff"));
    insert(1, {odd});
    const QModelIndex a = m_model->IndexOf(top()->ChildNamed(QStringLiteral("a")));
    const QModelIndex oddIndex = m_model->IndexOf(top()->ChildNamed(odd));
    const QModelIndex root = m_model->IndexOf(m_model->Root());

    // The root has no path and a folder picked twice goes once.
    std::unique_ptr<QMimeData> dragged(m_model->mimeData({root, a, oddIndex, a}));
    QVERIFY(dragged != nullptr);
    QCOMPARE(dragged->urls().size(), 2);
    QCOMPARE(PathFromFileUrl(dragged->urls().at(0)), QStringLiteral("/data/a"));
    QCOMPARE(EncodeFileName(PathFromFileUrl(dragged->urls().at(1))), QByteArray("/data/caf\xff"));
    QVERIFY(m_model->mimeData({root}) == nullptr);
    // Never a move: the view would then remove the dragged rows itself.
    QVERIFY(!(m_model->supportedDragActions() & Qt::MoveAction));
}

QTEST_GUILESS_MAIN(tst_FolderTreeModel)
#include "tst_FolderTreeModel.moc"
