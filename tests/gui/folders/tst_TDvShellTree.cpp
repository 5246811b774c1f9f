#include "core/folders/TDvShellLink.h"
#include "core/platform/FileName.h"
#include "core/threads/MainThreadWaker.h"
#include "gui/folders/SelectionStateDelegate.h"
#include "gui/folders/ShellTreeModel.h"
#include "gui/folders/TDvShellTree.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <stdexcept>
#include <sys/stat.h>

using dv::TDvSelectionState;
using dv::TDvShellTree;
using dv::TDvShellTreeNode;
using ListingState = TDvShellTreeNode::ListingState;

Q_DECLARE_METATYPE(dv::TDvSelectionState)

namespace {

constexpr int kWait = 20000;

} // namespace

class TstTDvShellTree : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listsVisibleFoldersOnFirstExpand();
    void archiveRule_data();
    void archiveRule();
    void checkingAChildGraysItsParents();
    void checkingEveryChildChecksTheParent();
    void uncheckingOneChildOfACheckedFolder();
    void boxClickAndSpaceToggle();
    void childrenOfACheckedFolderShowCheckedAtOnce();
    void clearingTheListUnchecksEveryNode();
    void selectedFolderRoundTrip_data();
    void selectedFolderRoundTrip();
    void selectedFolderIgnoresMissingPaths();
    void folderWithANameThatIsNotUtf8();
    void renameWithF2KeepsTheFolderChecked();
    void f5ReadsTheFoldersAgain();
    void expandedFoldersFollowTheDisk();
    void defaultRootsStartWithTheFileSystemRoot();
    void homeFolderShowsItsName();
    void unknownRefreshLevelIsRefused();

private:
    QString path(const QString &relative) const { return m_dir->path() + u'/' + relative; }
    TDvShellTreeNode *node(const QString &relative) const
    {
        return m_tree->FindLoadedNode(relative.isEmpty() ? m_dir->path() : path(relative));
    }
    TDvSelectionState state(const QString &relative) const
    {
        TDvShellTreeNode *n = node(relative);
        return n == nullptr ? TDvSelectionState::ssUnused : n->CheckState();
    }
    bool listed(const QString &relative) const
    {
        TDvShellTreeNode *n = node(relative);
        return n != nullptr && n->Listing == ListingState::Listed;
    }
    // Expands a loaded node and waits for its children.
    void expandAndWait(const QString &relative);
    QStringList childNames(const QString &relative) const;
    QStringList entries() const { return m_link->SelectionList()->Paths(); }

    std::unique_ptr<dv::MainThreadWaker> m_waker;
    std::unique_ptr<testsupport::TemporaryDir> m_dir;
    std::shared_ptr<dv::TDvShellLink> m_link;
    std::unique_ptr<TDvShellTree> m_tree;
};

void TstTDvShellTree::initTestCase()
{
    qRegisterMetaType<dv::TDvSelectionState>();
    m_waker = std::make_unique<dv::MainThreadWaker>();
}

void TstTDvShellTree::init()
{
    // Root/
    //   A/ (only the folders B and C)   B/ holds X and Y
    //   D/ (a file, no folders)   .hidden/   backup.zip/   backup.ZIP/   old.rar/   notes.txt
    m_dir = std::make_unique<testsupport::TemporaryDir>();
    QVERIFY(m_dir->isValid());
    QDir root(m_dir->path());
    for (const char *folder : {"A/B/X", "A/B/Y", "A/C", "D", ".hidden/inner", "backup.zip",
                               "backup.ZIP", "old.rar", "zip"})
        QVERIFY(root.mkpath(QString::fromLatin1(folder)));
    testsupport::writeFile(m_dir->path(), QStringLiteral("D/readme.txt"), "x");
    testsupport::writeFile(m_dir->path(), QStringLiteral("notes.txt"), "x");
    QVERIFY(QFile::link(path(QStringLiteral("A/B")), path(QStringLiteral("linkToB"))));
    QCOMPARE(mkfifo(QFile::encodeName(path(QStringLiteral("pipe"))).constData(), 0600), 0);

    m_link = std::make_shared<dv::TDvShellLink>();
    m_tree = std::make_unique<TDvShellTree>(m_link);
    m_tree->SetRootFolders({m_dir->path()});
    m_tree->resize(400, 600);
    m_tree->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_tree.get()));
    // The root folder's first state comes from its job.
    QTRY_COMPARE_WITH_TIMEOUT(state(QString()), TDvSelectionState::ssUnChecked, kWait);
}

void TstTDvShellTree::cleanup()
{
    m_tree.reset();
    m_link.reset();
    m_dir.reset();
}

void TstTDvShellTree::expandAndWait(const QString &relative)
{
    TDvShellTreeNode *n = node(relative);
    QVERIFY(n != nullptr);
    m_tree->expand(m_tree->TreeModel()->IndexOf(n));
    QTRY_VERIFY_WITH_TIMEOUT(listed(relative), kWait);
}

QStringList TstTDvShellTree::childNames(const QString &relative) const
{
    QStringList names;
    if (TDvShellTreeNode *n = node(relative)) {
        for (const auto &child : n->Children)
            names << child->Caption;
    }
    return names;
}

void TstTDvShellTree::listsVisibleFoldersOnFirstExpand()
{
    TDvShellTreeNode *top = node(QString());
    QVERIFY(top != nullptr);
    QCOMPARE(top->Listing, ListingState::NotListed);
    QVERIFY(top->Children.empty());
    QVERIFY(m_tree->TreeModel()->hasChildren(m_tree->TreeModel()->IndexOf(top)));

    expandAndWait(QString());
    // Folders and links to folders; no hidden ones, no ".zip"/".rar", no files or FIFOs.
    QCOMPARE(childNames(QString()), QStringList({"A", "backup.ZIP", "D", "linkToB", "zip"}));
    // Below a listed folder nothing is read until it is expanded; a folder without subfolders
    // loses its expand button once probed.
    QVERIFY(node(QStringLiteral("A"))->Children.empty());
    const QModelIndex d = m_tree->TreeModel()->IndexOf(node(QStringLiteral("D")));
    QTRY_VERIFY_WITH_TIMEOUT(!m_tree->TreeModel()->hasChildren(d), kWait);
    QVERIFY(m_tree->TreeModel()->hasChildren(m_tree->TreeModel()->IndexOf(node("A"))));

    expandAndWait(QStringLiteral("linkToB"));
    QCOMPARE(childNames(QStringLiteral("linkToB")), QStringList({"X", "Y"}));

    // Dragged out as a file address.
    std::unique_ptr<QMimeData> dragged(m_tree->TreeModel()->mimeData(
        {m_tree->TreeModel()->IndexOf(node(QStringLiteral("linkToB/X")))}));
    QVERIFY(dragged != nullptr);
    QCOMPARE(dragged->urls(), QList<QUrl>({QUrl::fromLocalFile(path("linkToB/X"))}));
}

void TstTDvShellTree::archiveRule_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("shown");
    QTest::newRow("zip") << "backup.zip" << false;
    QTest::newRow("rar") << "old.rar" << false;
    QTest::newRow("upper case stays") << "backup.ZIP" << true;
    QTest::newRow("last extension counts") << "backup.zip.d" << true;
    QTest::newRow("double extension") << "backup.tar.zip" << false;
    QTest::newRow("no dot") << "zip" << true;
}

void TstTDvShellTree::archiveRule()
{
    QFETCH(QString, name);
    QFETCH(bool, shown);
    bool canAdd = true;
    TDvShellTree::ArchiveFilter(nullptr, QStringLiteral("/some.zip/") + name, canAdd);
    QCOMPARE(canAdd, shown);
}

void TstTDvShellTree::checkingAChildGraysItsParents()
{
    expandAndWait(QString());
    expandAndWait(QStringLiteral("A"));
    expandAndWait(QStringLiteral("A/B"));
    for (const char *relative : {"A/B", "A/C", "A/B/X", "A/B/Y"})
        QTRY_VERIFY_WITH_TIMEOUT(node(QString::fromLatin1(relative))->StateEvaluated, kWait);
    QSignalSpy changes(m_tree.get(), &TDvShellTree::OnTreeNodeCheckStateChanged);

    m_tree->ToggleCheckBox(node(QStringLiteral("A/B")));
    QCOMPARE(state("A/B"), TDvSelectionState::ssChecked); // at once
    QCOMPARE(entries(), QStringList({path("A/B") + "/*"}));
    QTRY_COMPARE_WITH_TIMEOUT(state("A"), TDvSelectionState::ssGrayed, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(state(""), TDvSelectionState::ssGrayed, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(state("A/B/X"), TDvSelectionState::ssChecked, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(state("A/B/Y"), TDvSelectionState::ssChecked, kWait);
    // The link to B shows B's folder, not an entry: unchecked.
    QCOMPARE(state("linkToB"), TDvSelectionState::ssUnChecked);
    QCOMPARE(state("A/C"), TDvSelectionState::ssUnChecked);

    // Every visible change was reported, once each.
    QStringList changed;
    for (const QList<QVariant> &args : changes)
        changed << args.at(0).toString();
    changed.sort();
    QStringList expected{m_dir->path(), path("A"), path("A/B"), path("A/B/X"), path("A/B/Y")};
    expected.sort();
    QCOMPARE(changed, expected);
}

void TstTDvShellTree::checkingEveryChildChecksTheParent()
{
    expandAndWait(QString());
    expandAndWait(QStringLiteral("A"));
    QTRY_COMPARE_WITH_TIMEOUT(state("A/C"), TDvSelectionState::ssUnChecked, kWait);
    m_tree->ToggleCheckBox(node(QStringLiteral("A/B")));
    QTRY_COMPARE_WITH_TIMEOUT(state("A"), TDvSelectionState::ssGrayed, kWait);
    m_tree->ToggleCheckBox(node(QStringLiteral("A/C")));
    QCOMPARE(entries(), QStringList({path("A") + "/*"}));
    QTRY_COMPARE_WITH_TIMEOUT(state("A"), TDvSelectionState::ssChecked, kWait);
    QCOMPARE(state("A/B"), TDvSelectionState::ssChecked);
    QCOMPARE(state("A/C"), TDvSelectionState::ssChecked);
    // The top folder also holds other folders and files: only partly checked.
    QCOMPARE(state(""), TDvSelectionState::ssGrayed);
}

void TstTDvShellTree::uncheckingOneChildOfACheckedFolder()
{
    expandAndWait(QString());
    expandAndWait(QStringLiteral("A"));
    m_tree->ToggleCheckBox(node(QStringLiteral("A")));
    QTRY_COMPARE_WITH_TIMEOUT(state("A/B"), TDvSelectionState::ssChecked, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(state("A/C"), TDvSelectionState::ssChecked, kWait);

    m_tree->ToggleCheckBox(node(QStringLiteral("A/B")));
    QCOMPARE(entries(), QStringList({path("A/C") + "/*"}));
    QTRY_COMPARE_WITH_TIMEOUT(state("A"), TDvSelectionState::ssGrayed, kWait);
    QCOMPARE(state("A/B"), TDvSelectionState::ssUnChecked);
    QTRY_COMPARE_WITH_TIMEOUT(state("A/C"), TDvSelectionState::ssChecked, kWait);

    // A partly checked folder becomes checked when clicked.
    m_tree->ToggleCheckBox(node(QStringLiteral("A")));
    QCOMPARE(entries(), QStringList({path("A") + "/*"}));
    QTRY_COMPARE_WITH_TIMEOUT(state("A/B"), TDvSelectionState::ssChecked, kWait);
}

void TstTDvShellTree::boxClickAndSpaceToggle()
{
    expandAndWait(QString());
    TDvShellTreeNode *d = node(QStringLiteral("D"));
    QTRY_COMPARE_WITH_TIMEOUT(d->CheckState(), TDvSelectionState::ssUnChecked, kWait);
    const QModelIndex index = m_tree->TreeModel()->IndexOf(d);
    m_tree->scrollTo(index);

    QStyleOptionViewItem option;
    option.initFrom(m_tree->viewport());
    option.widget = m_tree.get();
    option.rect = m_tree->visualRect(index);
    auto *delegate = qobject_cast<dv::SelectionStateDelegate *>(m_tree->itemDelegate());
    QVERIFY(delegate != nullptr);
    const QRect box = delegate->CheckRect(option, index);
    QVERIFY(box.isValid());

    // A click on the box checks the folder without selecting it.
    m_tree->setCurrentIndex(m_tree->TreeModel()->IndexOf(node(QStringLiteral("A"))));
    QTest::mouseClick(m_tree->viewport(), Qt::LeftButton, {}, box.center());
    QCOMPARE(entries(), QStringList({path("D") + "/*"}));
    QCOMPARE(d->CheckState(), TDvSelectionState::ssChecked);
    QCOMPARE(m_tree->CurrentNode(), node(QStringLiteral("A")));

    // A click beside the box selects the row and leaves the list alone.
    QTest::mouseClick(m_tree->viewport(), Qt::LeftButton, {},
                      QPoint(box.right() + 30, box.center().y()));
    QCOMPARE(m_tree->CurrentNode(), d);
    QCOMPARE(entries(), QStringList({path("D") + "/*"}));

    // Space unchecks the selected node.
    QTest::keyClick(m_tree.get(), Qt::Key_Space);
    QVERIFY(entries().isEmpty());
    QCOMPARE(d->CheckState(), TDvSelectionState::ssUnChecked);
}

void TstTDvShellTree::childrenOfACheckedFolderShowCheckedAtOnce()
{
    expandAndWait(QString());
    QTRY_COMPARE_WITH_TIMEOUT(state("A"), TDvSelectionState::ssUnChecked, kWait);
    m_tree->ToggleCheckBox(node(QStringLiteral("A")));
    QTRY_COMPARE_WITH_TIMEOUT(state(""), TDvSelectionState::ssGrayed, kWait);

    // The state each child has when it appears, before any job has answered for it.
    QStringList atInsertion;
    connect(
        m_tree->TreeModel(), &QAbstractItemModel::rowsInserted, this,
        [&](const QModelIndex &parent, int first, int last) {
            for (int row = first; row <= last; ++row) {
                const QModelIndex child = m_tree->TreeModel()->index(row, 0, parent);
                atInsertion << child.data(Qt::DisplayRole).toString() + u'=' +
                                   child.data(dv::ShellTreeModel::SelectionStateRole).toString();
            }
        });
    QSignalSpy changes(m_tree.get(), &TDvShellTree::OnTreeNodeCheckStateChanged);
    expandAndWait(QStringLiteral("A"));
    const QString checked = QString::number(int(TDvSelectionState::ssChecked));
    QCOMPARE(atInsertion, QStringList({"B=" + checked, "C=" + checked}));
    QTRY_VERIFY_WITH_TIMEOUT(node("A/B")->StateEvaluated && node("A/C")->StateEvaluated, kWait);
    QCOMPARE(state("A/B"), TDvSelectionState::ssChecked);
    QCOMPARE(changes.count(), 0); // a first evaluation is no change
}

void TstTDvShellTree::clearingTheListUnchecksEveryNode()
{
    expandAndWait(QString());
    expandAndWait(QStringLiteral("A"));
    // Nothing checked: the Computer root cannot be checked and a click on it does nothing.
    TDvShellTreeNode *root = m_tree->TreeModel()->Root();
    QCOMPARE(root->CheckState(), TDvSelectionState::ssDisabled);
    m_tree->ToggleCheckBox(root);
    QVERIFY(entries().isEmpty());

    m_tree->ToggleCheckBox(node(QStringLiteral("A/B")));
    m_tree->ToggleCheckBox(node(QStringLiteral("D")));
    QTRY_COMPARE_WITH_TIMEOUT(state("A"), TDvSelectionState::ssGrayed, kWait);
    QSignalSpy changes(m_tree.get(), &TDvShellTree::OnTreeNodeCheckStateChanged);

    m_link->SelectionList()->Clear();
    for (const char *relative : {"", "A", "A/B", "A/C", "D"})
        QTRY_COMPARE_WITH_TIMEOUT(state(QString::fromLatin1(relative)),
                                  TDvSelectionState::ssUnChecked, kWait);
    QCOMPARE(root->CheckState(), TDvSelectionState::ssDisabled);
    QVERIFY(changes.count() >= 4); // the panel hears of it
}

void TstTDvShellTree::selectedFolderRoundTrip_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("relative");
    QTest::newRow("plain path") << QStringLiteral("<dir>/A/B/Y") << "A/B/Y";
    QTest::newRow("trailing slash") << QStringLiteral("<dir>/A/C/") << "A/C";
    QTest::newRow("dollar variable") << QStringLiteral("$DV_TREE_TEST/A/B") << "A/B";
    QTest::newRow("braced variable") << QStringLiteral("${DV_TREE_TEST}/D") << "D";
    QTest::newRow("percent variable") << QStringLiteral("%DV_TREE_TEST%/A") << "A";
    QTest::newRow("through a link") << QStringLiteral("<dir>/linkToB/X") << "linkToB/X";
    // A folder that exists as written is taken as it is, references or not.
    QTest::newRow("name like a variable")
        << QStringLiteral("<dir>/$DV_TREE_TEST/A") << "$DV_TREE_TEST/A";
    QTest::newRow("name like a percent reference")
        << QStringLiteral("<dir>/%DV_TREE_TEST%") << "%DV_TREE_TEST%";
    QTest::newRow("name with a tilde") << QStringLiteral("<dir>/~old") << "~old";
}

void TstTDvShellTree::selectedFolderRoundTrip()
{
    QFETCH(QString, written);
    QFETCH(QString, relative);
    qputenv("DV_TREE_TEST", QFile::encodeName(m_dir->path()));
    QVERIFY(QDir().mkpath(path(relative)));
    m_tree->SetSelectedFolder(QString(written).replace(QStringLiteral("<dir>"), m_dir->path()));
    // The walk lists the folders on the way in the background; meanwhile the getter already
    // answers with the folder being walked to.
    QCOMPARE(m_tree->SelectedFolder(), path(relative));
    QTRY_VERIFY_WITH_TIMEOUT(m_tree->CurrentNode() == node(relative) && node(relative), kWait);
    QCOMPARE(m_tree->SelectedFolder(), path(relative));
    QVERIFY(m_tree->isExpanded(m_tree->TreeModel()->IndexOf(node(relative)->Parent)));

    m_tree->SetSelectedFolder(QString());
    QCOMPARE(m_tree->CurrentNode(), m_tree->TreeModel()->Root());
    QCOMPARE(m_tree->SelectedFolder(), QString());
}

void TstTDvShellTree::selectedFolderIgnoresMissingPaths()
{
    m_tree->SetSelectedFolder(m_dir->path());
    QCOMPARE(m_tree->SelectedFolder(), m_dir->path());
    for (const QString &bad : {path("missing"), path("notes.txt"), QStringLiteral("relative/A"),
                               QStringLiteral("$DV_TREE_UNSET_VARIABLE/A")})
        m_tree->SetSelectedFolder(bad);
    QCOMPARE(m_tree->SelectedFolder(), m_dir->path());
    QCOMPARE(m_tree->CurrentNode(), node(QString()));

    // A hidden folder is not in the tree: the walk stops at the deepest folder shown.
    m_tree->SetSelectedFolder(path(".hidden/inner"));
    QTRY_COMPARE_WITH_TIMEOUT(m_tree->SelectedFolder(), m_dir->path(), kWait);
}

// File names are bytes: such a folder is selected and checked like any other.
void TstTDvShellTree::folderWithANameThatIsNotUtf8()
{
    const QByteArray odd = dv::EncodeFileName(path(QStringLiteral("A/C"))) + "/caf\xE9";
    QCOMPARE(::mkdir(odd.constData(), 0755), 0);
    const QString folder = dv::DecodeFileName(odd);
    m_tree->SetSelectedFolder(folder);
    QCOMPARE(m_tree->SelectedFolder(), folder);
    QTRY_VERIFY_WITH_TIMEOUT(m_tree->CurrentNode() != nullptr &&
                                 m_tree->CurrentNode() == m_tree->FindLoadedNode(folder),
                             kWait);

    m_tree->ToggleCheckBox(m_tree->CurrentNode());
    // Its parent holds nothing else, so the parent's entry stands for it.
    QCOMPARE(entries(), QStringList{path(QStringLiteral("A/C/*"))});
    QTRY_COMPARE_WITH_TIMEOUT(m_tree->CurrentNode()->CheckState(), TDvSelectionState::ssChecked,
                              kWait);
}

void TstTDvShellTree::renameWithF2KeepsTheFolderChecked()
{
    expandAndWait(QString());
    expandAndWait(QStringLiteral("A"));
    expandAndWait(QStringLiteral("A/B"));
    m_tree->ToggleCheckBox(node(QStringLiteral("A/B")));
    QTRY_COMPARE_WITH_TIMEOUT(state("A/B/X"), TDvSelectionState::ssChecked, kWait);

    m_tree->setCurrentIndex(m_tree->TreeModel()->IndexOf(node(QStringLiteral("A/B"))));
    m_tree->setFocus();
    QTest::keyClick(m_tree.get(), Qt::Key_F2);
    auto *editor = m_tree->findChild<QLineEdit *>();
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->text(), QStringLiteral("B"));
    // A check state judged in the background meanwhile keeps the name selected for typing over,
    // and does not undo the typing.
    m_tree->TreeModel()->NodeChanged(node(QStringLiteral("A/B")));
    QCOMPARE(editor->selectedText(), QStringLiteral("B"));
    QTest::keyClicks(editor, QStringLiteral("Zeta"));
    m_tree->TreeModel()->NodeChanged(node(QStringLiteral("A/B")));
    QCOMPARE(editor->text(), QStringLiteral("Zeta"));
    QTest::keyClick(editor, Qt::Key_Return);

    // The view commits the edit from its event loop.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path("A/Zeta/X")).isDir(), kWait);
    QVERIFY(!QFileInfo::exists(path("A/B")));
    QCOMPARE(entries(), QStringList({path("A/Zeta") + "/*"}));
    QCOMPARE(node("A/B"), nullptr);
    QCOMPARE(childNames(QStringLiteral("A")), QStringList({"C", "Zeta"})); // sorted again
    // A re-read of A the rename caused may replace the node; its state is then judged again.
    QTRY_COMPARE_WITH_TIMEOUT(state("A/Zeta"), TDvSelectionState::ssChecked, kWait);
    QVERIFY(node("A/Zeta/Y") != nullptr);
    QCOMPARE(node("A/Zeta/Y")->FullPath(), path("A/Zeta/Y"));
    QCOMPARE(m_tree->SelectedFolder(), path("A/Zeta"));

    // A name that is taken is refused and changes nothing.
    QVERIFY(!m_tree->RenameNode(node(QStringLiteral("A/Zeta")), QStringLiteral("C")));
    QVERIFY(QFileInfo(path("A/Zeta")).isDir());
    QCOMPARE(entries(), QStringList({path("A/Zeta") + "/*"}));
    // The refusal is told in a box that does not block.
    auto *box = m_tree->findChild<QMessageBox *>();
    QVERIFY(box != nullptr);
    box->close();
}

void TstTDvShellTree::f5ReadsTheFoldersAgain()
{
    expandAndWait(QString());
    expandAndWait(QStringLiteral("A"));
    m_tree->ToggleCheckBox(node(QStringLiteral("A")));
    QTRY_COMPARE_WITH_TIMEOUT(state("A/C"), TDvSelectionState::ssChecked, kWait);
    QVERIFY(QDir(path("A")).mkdir(QStringLiteral("New")));
    QVERIFY(QDir(path("A/C")).removeRecursively());
    QVERIFY(QDir(path("D")).mkdir(QStringLiteral("Sub")));

    m_tree->setFocus();
    QTest::keyClick(m_tree.get(), Qt::Key_F5);
    QTRY_COMPARE_WITH_TIMEOUT(childNames(QStringLiteral("A")), QStringList({"B", "New"}), kWait);
    // The new folder lies in a checked folder.
    QTRY_COMPARE_WITH_TIMEOUT(state("A/New"), TDvSelectionState::ssChecked, kWait);
    // A collapsed folder is read again when it is next expanded.
    const QModelIndex d = m_tree->TreeModel()->IndexOf(node(QStringLiteral("D")));
    QTRY_VERIFY_WITH_TIMEOUT(m_tree->TreeModel()->hasChildren(d), kWait);
    expandAndWait(QStringLiteral("D"));
    QCOMPARE(childNames(QStringLiteral("D")), QStringList({"Sub"}));
}

void TstTDvShellTree::expandedFoldersFollowTheDisk()
{
    expandAndWait(QString());
    expandAndWait(QStringLiteral("A"));
    m_tree->ToggleCheckBox(node(QStringLiteral("A")));
    QVERIFY(QDir(path("A")).mkdir(QStringLiteral("Fresh")));
    QVERIFY(QDir(path("A/C")).removeRecursively());
    QTRY_COMPARE_WITH_TIMEOUT(childNames(QStringLiteral("A")), QStringList({"B", "Fresh"}), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(state("A/Fresh"), TDvSelectionState::ssChecked, kWait);
}

void TstTDvShellTree::defaultRootsStartWithTheFileSystemRoot()
{
    QStringList roots = TDvShellTree::DefaultRootFolders();
    QVERIFY(!roots.isEmpty());
    QCOMPARE(roots.first(), QStringLiteral("/"));
    QVERIFY(roots.contains(QDir::cleanPath(QDir::homePath())));
    QCOMPARE(roots.removeDuplicates(), 0);
    for (const QString &root : roots)
        QVERIFY2(root == u"/" || !root.endsWith(u'/'), qPrintable(root));
}

void TstTDvShellTree::homeFolderShowsItsName()
{
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(path(QStringLiteral("A/B"))));
    auto restore = qScopeGuard([&oldHome] { qputenv("HOME", oldHome); });
    m_tree->SetRootFolders({m_dir->path(), path(QStringLiteral("A/B"))});
    dv::ShellTreeModel *model = m_tree->TreeModel();
    const QModelIndex top = model->index(0, 0, model->IndexOf(model->Root()));
    const QModelIndex home = model->index(1, 0, model->IndexOf(model->Root()));
    QCOMPARE(top.data().toString(), m_dir->path());
    QCOMPARE(home.data().toString(), QStringLiteral("B"));
    QCOMPARE(home.data(Qt::ToolTipRole).toString(), path(QStringLiteral("A/B")));
}

void TstTDvShellTree::unknownRefreshLevelIsRefused()
{
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, m_tree->Refresh(dv::TRefreshLevel(7), nullptr));
}

QTEST_MAIN(TstTDvShellTree)
#include "tst_TDvShellTree.moc"
