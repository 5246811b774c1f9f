#include "core/folders/FolderTreeLoader.h"
#include "core/folders/FolderTreeModel.h"
#include "core/folders/TDvSelectionList.h"
#include "core/folders/TDvShellLink.h"
#include "core/platform/FileName.h"
#include "core/platform/RemoveTree.h"
#include "core/threads/MainThreadWaker.h"
#include "core/threads/TWorkerThreadPool.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace dv;
using ListingState = TDvShellTreeNode::ListingState;

Q_DECLARE_METATYPE(dv::TDvSelectionState)

namespace {

constexpr int kWait = 20000;

bool makeFolder(const QString &pPath)
{
    return mkdir(EncodeFileName(pPath).constData(), 0700) == 0;
}

} // namespace

// The loader without a view: a model, real folders, the worker pool and real change
// notifications. The test plays the view's part by telling which nodes are expanded.
class tst_FolderTreeLoader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qRegisterMetaType<dv::TDvSelectionState>();
        m_waker = std::make_unique<MainThreadWaker>();
    }
    void init();
    void cleanup()
    {
        m_loader.reset();
        m_model.reset();
        m_link.reset();
        m_dir.reset();
    }

    void listsWhatTheWalkWouldEnter();
    void listingMergesIntoTheNodesThatAreThere();
    void folderMadeBeforeItsWatchIsFound();
    void collapsedFolderIsNotWatched();
    void checkStatesFollowTheSelectionList();
    void renameAndRemoveFollowEveryLoadedNode();

private:
    QString path(const QString &relative) const
    {
        return relative.isEmpty() ? m_dir->path() : m_dir->path() + u'/' + relative;
    }
    TDvShellTreeNode *node(const QString &relative) const
    {
        return m_loader->findLoadedNode(path(relative));
    }
    QStringList childNames(const QString &relative) const
    {
        QStringList names;
        if (TDvShellTreeNode *n = node(relative))
            for (const auto &child : n->Children)
                names << child->Name;
        return names;
    }
    // Lists a loaded node (as the view's expand does) and waits for its children.
    bool expandAndWait(const QString &relative)
    {
        TDvShellTreeNode *n = node(relative);
        if (n == nullptr)
            return false;
        m_loader->setExpanded(n, true);
        m_loader->listFolder(n);
        return QTest::qWaitFor([&] { return n->Listing == ListingState::Listed; }, kWait);
    }

    std::unique_ptr<MainThreadWaker> m_waker;
    std::unique_ptr<testsupport::TemporaryDir> m_dir;
    std::shared_ptr<TDvShellLink> m_link;
    std::unique_ptr<FolderTreeModel> m_model;
    std::unique_ptr<FolderTreeLoader> m_loader;
};

void tst_FolderTreeLoader::init()
{
    // A/ holds B/ and C/; .hidden/, old.zip/ and a file beside them; a link to A/B.
    m_dir = std::make_unique<testsupport::TemporaryDir>();
    QVERIFY(m_dir->isValid());
    for (const char *folder : {"A/B", "A/C", ".hidden", "old.zip"})
        QVERIFY(QDir(m_dir->path()).mkpath(QString::fromLatin1(folder)));
    testsupport::writeFile(m_dir->path(), QStringLiteral("file.txt"), "x");
    QCOMPARE(
        symlink(EncodeFileName(path("A/B")).constData(), EncodeFileName(path("toB")).constData()),
        0);
    m_link = std::make_shared<TDvShellLink>();
    m_model = std::make_unique<FolderTreeModel>();
    m_loader = std::make_unique<FolderTreeLoader>(m_model.get());
    m_loader->setShellLink(m_link);
    m_loader->setRootFolders({m_dir->path()});
    QVERIFY(node(QString()) != nullptr);
}

void tst_FolderTreeLoader::listsWhatTheWalkWouldEnter()
{
    // A name that is not UTF-8 is listed and can be listed itself.
    const QString odd = DecodeFileName(QByteArray("caf\xe9"));
    QVERIFY(makeFolder(path(odd)));
    QVERIFY(makeFolder(path(odd + "/in")));

    QSignalSpy listed(m_loader.get(), &FolderTreeLoader::listed);
    QVERIFY(expandAndWait(QString()));
    QCOMPARE(listed.count(), 1);
    // Folders and links to them, by name; no hidden folder, file or archive.
    QCOMPARE(childNames(QString()), (QStringList{"A", odd, "toB"}));
    QVERIFY(expandAndWait(odd));
    QCOMPARE(childNames(odd), QStringList{"in"});
    QVERIFY(expandAndWait(QStringLiteral("toB")));
    QVERIFY(node(QStringLiteral("A"))->Children.empty()); // nothing read before it is asked

    // A folder that cannot be read has no children, and the tree stays usable.
    RemoveTreeAt(AT_FDCWD, EncodeFileName(path(odd)).constData());
    m_loader->refreshNode(node(odd));
    QTRY_VERIFY_WITH_TIMEOUT(node(odd) == nullptr || node(odd)->Children.empty(), kWait);
}

void tst_FolderTreeLoader::listingMergesIntoTheNodesThatAreThere()
{
    QVERIFY(expandAndWait(QString()));
    QVERIFY(expandAndWait(QStringLiteral("A")));
    TDvShellTreeNode *b = node(QStringLiteral("A/B"));
    QVERIFY(makeFolder(path("A/Fresh")));
    QVERIFY(QDir(path("A/C")).removeRecursively());
    // The expanded folder is watched: the change is read without asking.
    QTRY_COMPARE_WITH_TIMEOUT(childNames(QStringLiteral("A")), (QStringList{"B", "Fresh"}), kWait);
    QCOMPARE(node(QStringLiteral("A/B")), b); // kept, not made again
}

void tst_FolderTreeLoader::folderMadeBeforeItsWatchIsFound()
{
    // Listed while collapsed (no watch); a folder made now causes no notification later.
    QVERIFY(expandAndWait(QString()));
    TDvShellTreeNode *a = node(QStringLiteral("A"));
    m_loader->listFolder(a);
    QTRY_COMPARE_WITH_TIMEOUT(a->Listing, ListingState::Listed, kWait);
    QVERIFY(makeFolder(path("A/Between")));
    // Expanding watches it; once the watch is in place the folder is read once more.
    m_loader->setExpanded(a, true);
    QTRY_COMPARE_WITH_TIMEOUT(childNames(QStringLiteral("A")), (QStringList{"B", "Between", "C"}),
                              kWait);
}

void tst_FolderTreeLoader::collapsedFolderIsNotWatched()
{
    QVERIFY(expandAndWait(QString()));
    QVERIFY(expandAndWait(QStringLiteral("A")));
    m_loader->setExpanded(node(QStringLiteral("A")), false);
    QVERIFY(makeFolder(path("A/Unseen")));
    // Another watched folder's change proves the notifications are through.
    QVERIFY(makeFolder(path("Seen")));
    QTRY_VERIFY_WITH_TIMEOUT(childNames(QString()).contains("Seen"), kWait);
    QCOMPARE(childNames(QStringLiteral("A")), (QStringList{"B", "C"}));
}

void tst_FolderTreeLoader::checkStatesFollowTheSelectionList()
{
    QSignalSpy changed(m_loader.get(), &FolderTreeLoader::checkStateChanged);
    QVERIFY(expandAndWait(QString()));
    QVERIFY(expandAndWait(QStringLiteral("A")));
    QTRY_COMPARE_WITH_TIMEOUT(node(QStringLiteral("A/B"))->CheckState(),
                              TDvSelectionState::ssUnChecked, kWait);

    m_loader->toggleCheckState(node(QStringLiteral("A/B")));
    QCOMPARE(m_link->SelectionList()->Paths(), QStringList{path("A/B") + "/*"});
    m_loader->refreshCheckStates(nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(node(QStringLiteral("A"))->CheckState(), TDvSelectionState::ssGrayed,
                              kWait);
    QCOMPARE(node(QStringLiteral("A/C"))->CheckState(), TDvSelectionState::ssUnChecked);
    QVERIFY(changed.count() >= 2);
    QCOMPARE(changed.first().at(0).toString(), path("A/B"));

    // A folder listed below a checked one is checked.
    QVERIFY(expandAndWait(QStringLiteral("A/B")));
    QVERIFY(makeFolder(path("A/B/New")));
    QTRY_VERIFY_WITH_TIMEOUT(node(QStringLiteral("A/B/New")) != nullptr, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(node(QStringLiteral("A/B/New"))->CheckState(),
                              TDvSelectionState::ssChecked, kWait);

    // Without boxes nothing is computed, and the list stays as it is.
    m_loader->setCheckboxes(false);
    QCOMPARE(node(QStringLiteral("A"))->StateIndex, -1);
    QCOMPARE(m_link->SelectionList()->Paths(), QStringList{path("A/B") + "/*"});
}

void tst_FolderTreeLoader::renameAndRemoveFollowEveryLoadedNode()
{
    // A/B is loaded twice: below the temporary folder and as a root folder of its own.
    m_loader->setRootFolders({m_dir->path(), path("A")});
    QVERIFY(expandAndWait(QString()));
    for (TDvShellTreeNode *a : {node(QString())->ChildNamed("A"), node(QStringLiteral("A"))}) {
        QVERIFY(a != nullptr);
        m_loader->setExpanded(a, true);
        m_loader->listFolder(a);
        QTRY_COMPARE_WITH_TIMEOUT(a->Listing, ListingState::Listed, kWait);
    }
    QCOMPARE(m_loader->loadedNodesOf(path("A/B")).size(), std::size_t(2));
    m_loader->toggleCheckState(node(QStringLiteral("A/B")));
    m_loader->refreshCheckStates(nullptr); // the view does so on the list's change
    for (TDvShellTreeNode *b : m_loader->loadedNodesOf(path("A/B")))
        QTRY_COMPARE_WITH_TIMEOUT(b->CheckState(), TDvSelectionState::ssChecked, kWait);

    QVERIFY(::rename(EncodeFileName(path("A/B")).constData(),
                     EncodeFileName(path("A/Z")).constData()) == 0);
    // Answers asked before the rename judge the old path, which is gone by now.
    m_loader->refreshCheckStates(nullptr);
    m_loader->folderRenamed(node(QStringLiteral("A/B")), QStringLiteral("Z"));
    QCOMPARE(m_loader->loadedNodesOf(path("A/Z")).size(), std::size_t(2));
    QCOMPARE(m_link->SelectionList()->Paths(), QStringList{path("A/Z") + "/*"});
    // Every answer is in: the renamed folder shows the list as it is after the rename.
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThreadPool::Instance().WorkItemsCount(), 0, kWait);
    QCoreApplication::processEvents();
    for (TDvShellTreeNode *z : m_loader->loadedNodesOf(path("A/Z")))
        QCOMPARE(z->CheckState(), TDvSelectionState::ssChecked);
    QVERIFY(m_loader->loadedNodesOf(path("A/B")).empty());
    QCOMPARE(childNames(QStringLiteral("A")), (QStringList{"C", "Z"})); // in order again

    QVERIFY(QDir(path("A/C")).removeRecursively());
    m_loader->folderRemoved(path("A/C"));
    QVERIFY(m_loader->loadedNodesOf(path("A/C")).empty());
    QCOMPARE(childNames(QStringLiteral("A")), QStringList{"Z"});
}

QTEST_MAIN(tst_FolderTreeLoader)
#include "tst_FolderTreeLoader.moc"
