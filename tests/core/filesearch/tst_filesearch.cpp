#include "core/filesearch/FileListSearch.h"
#include "core/filesearch/IDvFileSearchTarget.h"
#include "core/filesearch/TDvFileSearch.h"
#include "core/platform/FileName.h"
#include "core/platform/Ticks.h"
#include "core/threads/MainThreadQueue.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QMap>
#include <QSet>
#include <QTest>

#include <chrono>
#include <climits>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace dv;

namespace {

// The list side as the result list sees it: every path offered, in batches.
class RecordingList : public IDvFileSearchTarget
{
public:
    struct Batch
    {
        std::uint32_t startTick = 0;
        QStringList paths;
    };

    void BeginUpdate() override
    {
        QVERIFY(!inBracket);
        inBracket = true;
        batches.append(Batch{GetTickCount(), {}});
    }
    void EndUpdate() override
    {
        QVERIFY(inBracket);
        inBracket = false;
    }
    bool AddPath(const QString &pPath) override
    {
        if (!inBracket)
            outsideBracket = true;
        offered << pPath;
        batches.last().paths << pPath;
        if (onAdd)
            onAdd(pPath);
        const bool accept = !refuseAll;
        if (accept)
            listed << pPath;
        return accept;
    }
    bool IsItemInList(const QString &pPath) override { return listed.contains(pPath); }
    int ItemCount() const override { return int(listed.size()); }
    void Sort() override { ++sorts; }
    void WatchSearchRoot(const QString &pPath) override { watched = pPath; }

    QStringList offered, listed;
    QList<Batch> batches;
    std::function<void(const QString &)> onAdd;
    bool refuseAll = false;
    bool inBracket = false;
    bool outsideBracket = false;
    int sorts = 0;
    QString watched;
};

// Makes every cancellation check of a walk take a while, so that a walk of a small tree
// lasts long enough to be handed over in several batches or stopped half-way. The walk asks
// before and after each folder (and every few dozen entries within one).
class SlowToken : public ICancellationToken
{
public:
    void Cancel() override {}
    bool IsCancellationRequested() const override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return false;
    }
};

class TestListSearch : public FileListSearch
{
public:
    using FileListSearch::FileListSearch;
    bool slow = false;
    int descriptorBudget = 0; // 0: the walk's own

protected:
    std::shared_ptr<TDvFileSearch> CreateFileSearch(const QString &Path, bool pOnlyNew) override
    {
        auto item = FileListSearch::CreateFileSearch(Path, pOnlyNew);
        if (slow)
            item->SetCancellationToken(std::make_shared<SlowToken>());
        if (descriptorBudget > 0)
            item->SetFolderDescriptorBudget(descriptorBudget);
        return item;
    }
};

// One search run on a fresh list, waiting on the main thread as delvora-find does.
struct Run
{
    RecordingList list;
    TestListSearch search{list};
    int ends = 0;

    Run()
    {
        search.SearchOptions().SetFilter("*");
        search.SetOnEndSearch([this] { ++ends; });
    }
    bool WaitForEnd(int timeoutMs = 60000)
    {
        return MainThreadQueue::RunPendingUntil([this] { return ends > 0; }, timeoutMs);
    }
    // Gives late deliveries a chance to show up.
    void Settle()
    {
        MainThreadQueue::RunPendingUntil([] { return false; }, 300);
    }
};

QString Rel(const QString &root, const QString &path)
{
    return path.mid(root.size());
}

QStringList Relative(const QString &root, const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths)
        out << Rel(root, p);
    return out;
}

QStringList Sorted(QStringList l)
{
    l.sort();
    return l;
}

void MakeFile(const QString &dir, const QString &rel)
{
    testsupport::writeFile(dir, rel, "x");
}

void MakeLink(const QString &target, const QString &link)
{
    QCOMPARE(symlink(EncodeFileName(target).constData(), EncodeFileName(link).constData()), 0);
}

// How often each file name occurs among the paths.
QMap<QString, int> NameCounts(const QStringList &paths)
{
    QMap<QString, int> counts;
    for (const QString &p : paths)
        ++counts[p.section('/', -1)];
    return counts;
}

} // namespace

class TestFileSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::useTemporaryCacheHome(); }

    void folderEntriesComeBeforeSubfolders()
    {
        testsupport::TemporaryDir tmp;
        const QString root = tmp.path() + "/Data";
        MakeFile(root, "A/x.txt");
        MakeFile(root, "A/Deep/z.txt");
        QDir().mkpath(root + "/B");
        MakeFile(root, "y.txt");
        MakeFile(root, "w.txt");

        Run run;
        run.search.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        run.search.Search(root); // no trailing separator: one is added
        QVERIFY(run.WaitForEnd());
        const QStringList found = Relative(root, run.list.offered);
        QCOMPARE(Sorted(found), (QStringList{"/A/Deep/z.txt", "/A/x.txt", "/w.txt", "/y.txt"}));
        // The root's own files first, then A completely (its file before its subfolder).
        QCOMPARE(Sorted(found.mid(0, 2)), (QStringList{"/w.txt", "/y.txt"}));
        QCOMPARE(found.mid(2), (QStringList{"/A/x.txt", "/A/Deep/z.txt"}));
        QCOMPARE(run.ends, 1);
        QCOMPARE(run.list.watched, root);
        QCOMPARE(run.search.LastSearchPath(), root);
        QVERIFY(!run.search.IgnoreNewFiles());
        QVERIFY(!run.list.outsideBracket);
        QVERIFY(run.list.sorts >= 1); // the final batch is always followed by a re-sort
    }

    void criteriaShapeTheWalk_data()
    {
        QTest::addColumn<bool>("recursive");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("default") << true << false << int(ffFilesOnly)
                                 << QStringList{"/a.txt", "/sub/b.txt"};
        QTest::newRow("hidden included")
            << true << true << int(ffFilesOnly)
            << QStringList{"/.h.txt", "/.hid/c.txt", "/a.txt", "/sub/.g.txt", "/sub/b.txt"};
        QTest::newRow("no subfolders")
            << false << false << int(ffFilesOnly) << QStringList{"/a.txt"};
        QTest::newRow("folders too") << true << false << int(ffFilesAndFolders)
                                     << QStringList{"/a.txt", "/sub/", "/sub/b.txt"};
        QTest::newRow("folders only, no subfolders")
            << false << true << int(ffFoldersOnly) << QStringList{"/.hid/", "/sub/"};
    }

    void criteriaShapeTheWalk()
    {
        QFETCH(bool, recursive);
        QFETCH(bool, hidden);
        QFETCH(int, kind);
        QFETCH(QStringList, expected);
        testsupport::TemporaryDir tmp;
        const QString root = tmp.path();
        MakeFile(root, "a.txt");
        MakeFile(root, ".h.txt");
        MakeFile(root, "sub/b.txt");
        MakeFile(root, "sub/.g.txt");
        MakeFile(root, ".hid/c.txt"); // not hidden itself, but in a hidden folder

        Run run;
        auto &o = run.search.SearchOptions();
        o.SetRecursiveSearch(recursive);
        o.SetIncludeHidden(hidden);
        o.SetFilesAndFolders(TFilesFolders(kind));
        run.search.Search(root + "/");
        QVERIFY(run.WaitForEnd());
        QCOMPARE(Sorted(Relative(root, run.list.offered)), expected);
    }

    void linksFifosAndLoops()
    {
        testsupport::TemporaryDir tmp;
        const QString root = tmp.path();
        MakeFile(root, "a/f.txt");
        MakeFile(root, "c/g.txt");
        const QByteArray r = EncodeFileName(root);
        QCOMPARE(symlink("..", r + "/a/up"), 0);          // back to the root: an ancestor
        QCOMPARE(symlink(".", r + "/a/self"), 0);         // itself
        QCOMPARE(symlink("../c", r + "/a/toc"), 0);       // a sibling: entered
        QCOMPARE(symlink("f.txt", r + "/a/link.txt"), 0); // a link to a file is a file
        QCOMPARE(symlink("missing", r + "/a/dangling"), 0);
        QCOMPARE(symlink("loop2", r + "/a/loop1"), 0);
        QCOMPARE(symlink("loop1", r + "/a/loop2"), 0);
        QCOMPARE(mkfifo(r + "/a/pipe", 0644), 0);

        Run run;
        run.search.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        run.search.Search(root);
        QVERIFY(run.WaitForEnd());
        // c is walked once: through the link or as itself, whichever the listing gives first.
        QStringList found = Sorted(Relative(root, run.list.offered));
        QCOMPARE(found.size(), 3);
        QVERIFY2(found.removeOne("/a/toc/g.txt") || found.removeOne("/c/g.txt"),
                 qPrintable(found.join(' ')));
        QCOMPARE(found, (QStringList{"/a/f.txt", "/a/link.txt"}));
    }

    void linkGraphIsWalkedOnce_data()
    {
        QTest::addColumn<QString>("start");
        QTest::newRow("root above the levels") << QString();
        QTest::newRow("levels reached only through links") << QStringLiteral("/l0");
    }
    void linkGraphIsWalkedOnce()
    {
        // Each level links twice to the next: without a record of the folders entered, the
        // walk would list level k's file 2^k times.
        QFETCH(QString, start);
        const int levels = 16;
        QTemporaryDir tmp;
        const QString root = tmp.path();
        for (int k = 0; k <= levels; ++k) {
            MakeFile(root, QString("l%1/f%1.txt").arg(k));
            if (k < levels) {
                MakeLink(QString("../l%1").arg(k + 1), QString("%1/l%2/a").arg(root).arg(k));
                MakeLink(QString("../l%1").arg(k + 1), QString("%1/l%2/b").arg(root).arg(k));
            }
        }
        MakeLink(".", root + "/l0/self");      // a link to itself
        MakeLink(root, root + "/l3/absolute"); // an absolute link back to the top

        Run run;
        run.search.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        run.search.Search(root + start);
        QVERIFY(run.WaitForEnd());
        const QMap<QString, int> counts = NameCounts(run.list.offered);
        QCOMPARE(counts.size(), levels + 1);
        for (auto it = counts.begin(); it != counts.end(); ++it)
            QVERIFY2(it.value() == 1, qPrintable(it.key()));
        QCOMPARE(run.list.offered.size(), levels + 1);
    }

    void deepTreesWithinFewDescriptors_data()
    {
        QTest::addColumn<int>("budget");
        QTest::addColumn<bool>("throughLinks");
        QTest::newRow("smallest budget") << 3 << false;
        QTest::newRow("budget of 5") << 5 << false;
        QTest::newRow("default budget") << 0 << false;
        QTest::newRow("smallest budget, every level a link") << 3 << true;
        QTest::newRow("budget of 5, every level a link") << 5 << true;
    }
    void deepTreesWithinFewDescriptors()
    {
        // A chain of 300 levels, each with a file, a side folder with a file and the next
        // level (as a folder, or as a link to a folder outside the walk). The side folders are
        // created before or after the next level, so that the listing order puts some of them
        // after the deep part: the walk comes back up to a folder whose descriptor it gave back.
        QFETCH(int, budget);
        QFETCH(bool, throughLinks);
        const int levels = 300;
        QTemporaryDir tmp;
        const QString top = tmp.path() + "/walk";
        QDir().mkpath(top);
        QStringList expected;
        QString folder = top;  // where level k lives
        QString visible = top; // how the walk names it
        for (int k = 0; k < levels; ++k) {
            MakeFile(folder, QString("f%1").arg(k));
            expected << QString("%1/f%2").arg(visible).arg(k);
            const auto side = [&] {
                MakeFile(folder, QString("s/g%1").arg(k));
                expected << QString("%1/s/g%2").arg(visible).arg(k);
            };
            if (k % 2 == 0)
                side();
            QString next = folder + "/d";
            if (throughLinks) {
                next = QString("%1/store/r%2").arg(tmp.path()).arg(k + 1);
                QDir().mkpath(next);
                MakeLink(next, folder + "/d");
            } else {
                QDir().mkpath(next);
            }
            if (k % 2 == 1)
                side();
            folder = next;
            visible += "/d";
        }
        MakeFile(folder, "bottom");
        expected << visible + "/bottom";

        Run run;
        run.search.descriptorBudget = budget;
        run.search.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        run.search.Search(top);
        QVERIFY(run.WaitForEnd());
        QCOMPARE(run.list.offered.size(), expected.size());
        QCOMPARE(Sorted(run.list.offered), Sorted(expected));
    }

    void unreadableRootsAndFolders()
    {
        testsupport::TemporaryDir tmp;
        const QString root = tmp.path();
        MakeFile(root, "plain.txt");
        MakeFile(root, "ok/k.txt");
        MakeFile(root, "locked/l.txt");
        const bool asRoot = geteuid() == 0;
        if (!asRoot)
            QFile::setPermissions(root + "/locked", QFileDevice::WriteOwner);

        Run run;
        run.search.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        run.search.Search(root + "/missing");
        run.search.Search(root + "/plain.txt"); // a file where a folder is expected
        run.search.Search(root + "/ok");
        QVERIFY(run.WaitForEnd());
        run.Settle();
        QCOMPARE(run.ends, 1);
        QCOMPARE(Relative(root, run.list.offered), QStringList{"/ok/k.txt"});

        if (!asRoot) {
            Run second;
            second.search.Search(root);
            QVERIFY(second.WaitForEnd());
            QVERIFY(!second.list.offered.contains(root + "/locked/l.txt"));
            QVERIFY(second.list.offered.contains(root + "/ok/k.txt"));
            QFile::setPermissions(root + "/locked", QFileDevice::ReadOwner |
                                                        QFileDevice::WriteOwner |
                                                        QFileDevice::ExeOwner);
        }
    }

    void deeperThanPathMax()
    {
        testsupport::TemporaryDir tmp;
        const QByteArray component(200, 'd');
        const int levels = PATH_MAX / 200 + 5;
        int fd = open(EncodeFileName(tmp.path()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(fd >= 0);
        std::vector<int> fds{fd};
        for (int i = 0; i < levels; ++i) {
            QCOMPARE(mkdirat(fds.back(), component.constData(), 0755), 0);
            fds.push_back(openat(fds.back(), component.constData(), O_RDONLY | O_DIRECTORY));
            QVERIFY(fds.back() >= 0);
        }
        const int file = openat(fds.back(), "bottom.txt", O_CREAT | O_WRONLY, 0644);
        QVERIFY(file >= 0);
        close(file);

        Run run;
        run.search.SearchOptions().SetFilter("bottom.txt");
        run.search.Search(tmp.path());
        QVERIFY(run.WaitForEnd());
        QCOMPARE(run.list.offered.size(), 1);
        QVERIFY(run.list.offered.first().size() > PATH_MAX);
        QVERIFY(run.list.offered.first().endsWith("/" + component + "/bottom.txt"));
        // Given on its own, the file is reached as well.
        Run single;
        single.search.SearchEntry(run.list.offered.first());
        QVERIFY(single.WaitForEnd());
        QCOMPARE(single.list.offered, run.list.offered);

        // Clean up from the bottom, relative to each parent (the paths are too long).
        unlinkat(fds.back(), "bottom.txt", 0);
        for (int i = levels; i > 0; --i) {
            close(fds[i]);
            unlinkat(fds[i - 1], component.constData(), AT_REMOVEDIR);
        }
        close(fds[0]);
    }

    void namesThatAreNotUtf8RoundTrip()
    {
        testsupport::TemporaryDir tmp;
        const QByteArray dir = EncodeFileName(tmp.path()) + "/d\xfc";
        const QByteArray file = dir + "/caf\xe9 \xff.txt";
        QCOMPARE(mkdir(dir.constData(), 0755), 0);
        const int fd = open(file.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(write(fd, "latin", 5), ssize_t(5));
        close(fd);

        Run run;
        run.search.SearchOptions().SetFilter("*.txt");
        run.search.Search(tmp.path());
        QVERIFY(run.WaitForEnd());
        QCOMPARE(run.list.offered.size(), 1);
        const QString found = run.list.offered.first();
        QCOMPARE(EncodeFileName(found), file);
        const int again = open(EncodeFileName(found).constData(), O_RDONLY);
        QVERIFY(again >= 0);
        char buffer[8] = {};
        QCOMPARE(read(again, buffer, sizeof buffer), ssize_t(5));
        close(again);
        // testsupport::TemporaryDir cannot name these bytes.
        QCOMPARE(unlink(file.constData()), 0);
        QCOMPARE(rmdir(dir.constData()), 0);
    }

    void batchesAreSpacedAndBracketed()
    {
        testsupport::TemporaryDir tmp;
        for (int d = 0; d < 10; ++d)
            for (int f = 0; f < 30; ++f)
                MakeFile(tmp.path(), QString("d%1/f%2.txt").arg(d).arg(f));

        Run run;
        run.search.slow = true; // about 1.2 s of walking
        run.search.Search(tmp.path());
        QVERIFY(run.WaitForEnd());
        QCOMPARE(run.list.offered.size(), 310); // 300 files and 10 folders
        QCOMPARE(QSet<QString>(run.list.offered.begin(), run.list.offered.end()).size(), 310);
        QVERIFY(!run.list.outsideBracket);
        const auto &batches = run.list.batches;
        QVERIFY2(batches.size() >= 2, "the walk lasted long enough for an intermediate batch");
        // Only the final batch may follow its predecessor sooner than 400 ms.
        for (qsizetype i = 1; i + 1 < batches.size(); ++i)
            QVERIFY(batches[i].startTick - batches[i - 1].startTick >= 400);
        for (const auto &batch : batches)
            QVERIFY(!batch.paths.isEmpty() || &batch == &batches.last());
    }

    void stopDropsPendingPaths()
    {
        testsupport::TemporaryDir tmp;
        for (int d = 0; d < 10; ++d)
            for (int f = 0; f < 30; ++f)
                MakeFile(tmp.path(), QString("d%1/f%2.txt").arg(d).arg(f));

        Run run;
        run.search.slow = true;
        run.search.Search(tmp.path());
        // Wait for the first batch, then stop from the loop (never from inside AddPath).
        QVERIFY(
            MainThreadQueue::RunPendingUntil([&] { return !run.list.batches.isEmpty(); }, 30000));
        QCOMPARE(run.ends, 0);
        const qsizetype handedOver = run.list.offered.size();
        run.search.Stop();
        QCOMPARE(run.ends, 1); // delivered from within Stop
        run.Settle();
        QCOMPARE(run.ends, 1);
        QVERIFY(run.list.offered.size() < 310);
        QCOMPARE(run.list.offered.size(), handedOver);
        QVERIFY(!run.search.IsSearching());

        // Stop on an idle pool reports nothing; the pool serves a later search.
        run.search.Stop();
        run.Settle();
        QCOMPARE(run.ends, 1);
        run.search.slow = false;
        run.search.Search(tmp.path() + "/d0");
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return run.ends == 2; }, 30000));
    }

    void threeRootsOneEnd()
    {
        testsupport::TemporaryDir tmp;
        MakeFile(tmp.path(), "r1/a.txt");
        MakeFile(tmp.path(), "r2/b.txt");
        MakeFile(tmp.path(), "r3/c.txt");
        Run run;
        run.list.refuseAll = true; // refused candidates still end the search
        run.search.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        for (const char *r : {"/r1", "/r2", "/r3"})
            run.search.Search(tmp.path() + r);
        QVERIFY(run.WaitForEnd());
        run.Settle();
        QCOMPARE(run.ends, 1);
        QCOMPARE(Sorted(Relative(tmp.path(), run.list.offered)),
                 (QStringList{"/r1/a.txt", "/r2/b.txt", "/r3/c.txt"}));
        QCOMPARE(run.list.ItemCount(), 0);
        QCOMPARE(run.search.LastSearchPath(), tmp.path() + "/r3");
    }

    void criteriaAreCopiedWhenQueued()
    {
        testsupport::TemporaryDir tmp;
        MakeFile(tmp.path(), "a.txt");
        MakeFile(tmp.path(), "b.doc");
        Run run;
        run.search.SearchOptions().SetFilter("*.txt");
        run.search.Search(tmp.path());
        run.search.SearchOptions().SetFilter("*.doc");
        QVERIFY(run.WaitForEnd());
        QCOMPARE(Relative(tmp.path(), run.list.offered), QStringList{"/a.txt"});
    }

    void rescanOffersOnlyNewFilesOfTheTopLevel()
    {
        testsupport::TemporaryDir tmp;
        MakeFile(tmp.path(), "old.txt");
        MakeFile(tmp.path(), "sub/deep.txt");
        Run run;
        QVERIFY(!run.search.Rescan(tmp.path())); // no pool before the first search
        run.search.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        run.search.Search(tmp.path());
        QVERIFY(run.WaitForEnd());
        MakeFile(tmp.path(), "new.txt");
        MakeFile(tmp.path(), "sub/deeper.txt");
        run.list.offered.clear();
        QVERIFY(run.search.Rescan(tmp.path()));
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return run.ends == 2; }, 30000));
        QCOMPARE(Relative(tmp.path(), run.list.offered), QStringList{"/new.txt"});
        QVERIFY(run.search.SearchOptions().RecursiveSearch());
    }

    // A checked entry is a root that offers that entry alone, once, as the walk of its folder
    // would (a folder with its "/"), and ends with the folders in one end of the search.
    void singleEntriesAreRootsOfTheirOwn()
    {
        testsupport::TemporaryDir tmp;
        MakeFile(tmp.path(), "r/a.txt");
        MakeFile(tmp.path(), "b.txt");
        MakeFile(tmp.path(), "c.doc");
        QDir().mkpath(tmp.path() + "/d/inner");
        Run run;
        run.search.SearchOptions().SetAutoWildcard(false);
        run.search.SearchOptions().SetFilter("*.txt;d");
        run.search.Search(tmp.path() + "/r");
        for (const char *entry : {"/b.txt", "/c.doc", "/d", "/gone.txt", "/b.txt"})
            run.search.SearchEntry(tmp.path() + entry);
        QVERIFY(run.WaitForEnd());
        run.Settle();
        QCOMPARE(run.ends, 1);
        QCOMPARE(Sorted(Relative(tmp.path(), run.list.offered)),
                 (QStringList{"/b.txt", "/d/", "/r/a.txt"}));
        // Only the folders are roots the refresh follows.
        QCOMPARE(run.list.watched, tmp.path() + "/r");
        QCOMPARE(run.search.LastSearchPath(), tmp.path() + "/r");
    }

    // A new entry of the refresh is offered once judged, unless the list holds it by then;
    // nothing before the first search.
    void rescanOfOneEntry()
    {
        testsupport::TemporaryDir tmp;
        MakeFile(tmp.path(), "old.txt");
        Run run;
        QVERIFY(!run.search.RescanEntry(tmp.path() + "/old.txt"));
        run.search.Search(tmp.path());
        QVERIFY(run.WaitForEnd());
        MakeFile(tmp.path(), "new.txt");
        MakeFile(tmp.path(), "sub/deep.txt");
        run.list.offered.clear();
        for (const char *entry : {"/old.txt", "/new.txt", "/sub"})
            QVERIFY(run.search.RescanEntry(tmp.path() + entry));
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return run.ends >= 2; }, 30000));
        run.Settle();
        QCOMPARE(Sorted(Relative(tmp.path(), run.list.offered)),
                 (QStringList{"/new.txt", "/sub/"}));
    }

    void failingAddDoesNotRepeatPaths_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::newRow("first path") << QString();
        QTest::newRow("inside a folder") << QStringLiteral("/a/f2.txt");
    }
    void failingAddDoesNotRepeatPaths()
    {
        QFETCH(QString, failing);
        testsupport::TemporaryDir tmp;
        QStringList expected{"/a/", "/b/"};
        for (int f = 0; f < 5; ++f) {
            MakeFile(tmp.path(), QString("a/f%1.txt").arg(f));
            MakeFile(tmp.path(), QString("b/g%1.txt").arg(f));
            expected << QString("/a/f%1.txt").arg(f) << QString("/b/g%1.txt").arg(f);
        }
        Run run;
        bool thrown = false;
        run.list.onAdd = [&](const QString &path) {
            if (!thrown && path.endsWith(failing)) {
                thrown = true;
                throw std::invalid_argument("pPath must be assigned");
            }
        };
        run.search.Search(tmp.path());
        QVERIFY(run.WaitForEnd());
        QVERIFY(thrown);
        // Every path is offered once and whole: the failing one is not offered again, nor
        // those before it, and those after it still come, in this folder and the next.
        QCOMPARE(Sorted(Relative(tmp.path(), run.list.offered)), Sorted(expected));
    }

    void emptyRootWithoutRecursionSearchesTheDesktop()
    {
        testsupport::TemporaryDir home;
        MakeFile(home.path(), "Desktop/top.txt");
        MakeFile(home.path(), "Desktop/sub/below.txt");
        const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", EncodeFileName(home.path()));
        qputenv("XDG_CONFIG_HOME", EncodeFileName(home.path() + "/.config"));
        Run run;
        run.search.SearchOptions().SetRecursiveSearch(false);
        run.search.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        run.search.Search(QString());
        QVERIFY(run.WaitForEnd());
        qputenv("HOME", oldHome);
        qputenv("XDG_CONFIG_HOME", oldConfig);
        QCOMPARE(Relative(home.path(), run.list.offered), QStringList{"/Desktop/top.txt"});
    }
};

QTEST_GUILESS_MAIN(TestFileSearch)
#include "tst_filesearch.moc"
