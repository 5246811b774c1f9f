#include "core/platform/FileName.h"
#include "core/platform/Ticks.h"
#include "core/platform/WatchBudget.h"
#include "core/search/FileAcceptance.h"
#include "core/threads/MainThreadSlice.h"
#include "core/threads/MainThreadWaker.h"
#include "gui/filesearch/TDvFileList.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>

using namespace dv;
using testsupport::writeFile;

namespace {

// A result list after a real search of its roots, with what its OnAddPath was offered.
struct SearchedList
{
    TDvFileList List;
    QStringList Offered;
    QStringList Refused; // refused while this holds them
    QString Text;        // a file is accepted when it holds this (judged ahead, as the window does)
    // Called with each path offered while the search walks.
    std::function<void(const QString &)> DuringSearch;
    int Ends = 0;

    SearchedList(const QString &pText = {}) : Text(pText)
    {
        List.SearchOptions().SetFilter("*.txt");
        List.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        List.ActiveSearch().SetTextToFind(pText);
        List.OnAddPath = [this](const QString &pPath, bool &pCanAdd) {
            Offered << pPath;
            if (DuringSearch && Ends == 0)
                DuringSearch(pPath);
            pCanAdd =
                !Refused.contains(pPath) && (Text.isEmpty() || AcceptCandidateFile(pPath, Text));
        };
        List.SetOnEndSearch([this] { ++Ends; });
    }
    // Searches the roots as the search controller does and waits until every folder watch
    // is in place.
    bool Search(const QStringList &pRoots)
    {
        for (const QString &root : pRoots)
            List.Search(root);
        return QTest::qWaitFor([this] { return Ends == 1; }, 30000) &&
               QTest::qWaitFor([this] { return List.Notifier().AllWatchesAdded(); }, 30000);
    }
    QStringList Paths() const
    {
        QStringList paths;
        for (int i = 0; i < List.ItemCount(); ++i)
            paths << List.Item(i)->Path();
        return paths;
    }
    bool Lists(const QString &pPath) const { return Paths().contains(pPath); }
    QStringList SortedPaths() const
    {
        QStringList paths = Paths();
        paths.sort();
        return paths;
    }
};

QStringList Sorted(QStringList pPaths)
{
    pPaths.sort();
    return pPaths;
}

bool rename(const QString &pFrom, const QString &pTo)
{
    return ::rename(EncodeFileName(pFrom).constData(), EncodeFileName(pTo).constData()) == 0;
}

} // namespace

class tst_TDvFileListRefresh : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_waker = std::make_unique<MainThreadWaker>(); }
    void cleanupTestCase() { m_waker.reset(); }

    // A matching file created below the root appears once OnAddPath accepted it; one that
    // does not match, and one outside the root, are not offered.
    void createdMatchingFileAppears()
    {
        QTemporaryDir dir;
        QTemporaryDir outside;
        writeFile(dir.path(), "sub/old.txt", "x");
        SearchedList s;
        QVERIFY(s.Search({dir.path()}));
        QCOMPARE(s.Paths(), QStringList{dir.path() + "/sub/old.txt"});
        QVERIFY(s.List.Notifier().Enabled());

        writeFile(outside.path(), "elsewhere.txt", "x");
        writeFile(dir.path(), "sub/other.log", "x");
        const QString created = writeFile(dir.path(), "sub/new.txt", "x");
        QTRY_VERIFY_WITH_TIMEOUT(s.Lists(created), 10000);
        QVERIFY(s.Offered.contains(created));
        QCOMPARE(s.Offered.filter("elsewhere").size(), 0);
        QCOMPARE(s.Offered.filter("other.log").size(), 0);
        QCOMPARE(s.Offered.count(created), 1);
    }

    // Files created within a second of each other all appear: those after the first wait
    // for the end of that second instead of being dropped.
    void filesWithinOneSecondAllAppear()
    {
        QTemporaryDir dir;
        writeFile(dir.path(), "first.txt", "x");
        SearchedList s;
        QVERIFY(s.Search({dir.path()}));
        QStringList created;
        for (const char *name : {"a.txt", "b.txt", "deep/c.txt"})
            created << writeFile(dir.path(), name, "x");
        QTRY_VERIFY_WITH_TIMEOUT(s.Lists(created[0]) && s.Lists(created[1]) && s.Lists(created[2]),
                                 10000);
        QCOMPARE(s.List.ItemCount(), 4);
    }

    // A renamed file keeps its row under the new name, judged again there; a deleted file
    // loses its row; a folder moved away has its rows checked and removed.
    void renameDeleteAndFolderGone()
    {
        QTemporaryDir dir;
        QTemporaryDir outside;
        const QString keep = writeFile(dir.path(), "keep.txt", "x");
        const QString gone = writeFile(dir.path(), "gone.txt", "x");
        writeFile(dir.path(), "sub/one.txt", "x");
        writeFile(dir.path(), "sub/two.txt", "x");
        SearchedList s;
        QVERIFY(s.Search({dir.path()}));
        QCOMPARE(s.List.ItemCount(), 4);
        const int offered = s.Offered.size();

        const QString renamed = dir.path() + "/Renamed.txt";
        QVERIFY(rename(keep, renamed));
        QTRY_VERIFY_WITH_TIMEOUT(s.Lists(renamed), 10000);
        QVERIFY(!s.Lists(keep));
        QTRY_COMPARE_WITH_TIMEOUT(s.Offered.mid(offered), QStringList{renamed}, 10000);

        QVERIFY(QFile::remove(gone));
        QTRY_VERIFY_WITH_TIMEOUT(!s.Lists(gone), 10000);

        QVERIFY(rename(dir.path() + "/sub", outside.path() + "/sub"));
        QTRY_COMPARE_WITH_TIMEOUT(s.Paths(), QStringList{renamed}, 10000);
    }

    // With two roots searched in one go, changes under both are seen; the next search
    // replaces them.
    void everyRootOfTheSearchIsWatched()
    {
        QTemporaryDir one;
        QTemporaryDir two;
        writeFile(one.path(), "1.txt", "x");
        writeFile(two.path(), "2.txt", "x");
        SearchedList s;
        QVERIFY(s.Search({one.path(), two.path()}));
        QCOMPARE(s.List.WatchedRoots(), (QStringList{one.path(), two.path()}));
        const QString inOne = writeFile(one.path(), "new1.txt", "x");
        const QString inTwo = writeFile(two.path(), "new2.txt", "x");
        QTRY_VERIFY_WITH_TIMEOUT(s.Lists(inOne) && s.Lists(inTwo), 10000);

        s.List.Stop();
        s.List.Clear();
        s.Ends = 0;
        QVERIFY(s.Search({two.path()}));
        QCOMPARE(s.List.WatchedRoots(), QStringList{two.path()});
    }

    // A folder update of a root just searched starts nothing; five seconds after the search
    // it reads the top level again for new files only, and OnEndSearch follows.
    void rescanWaitsFiveSecondsAfterSearch()
    {
        QTemporaryDir dir;
        const QString late = writeFile(dir.path(), "late.txt", "x");
        writeFile(dir.path(), "listed.txt", "x");
        writeFile(dir.path(), "sub/deep.txt", "x");
        SearchedList s;
        s.Refused << late << dir.path() + "/sub/deep.txt";
        QVERIFY(s.Search({dir.path()}));
        QCOMPARE(s.List.ItemCount(), 1);
        TDvShellChangeNotifier &notifier = s.List.Notifier();

        notifier.OnChange(notifier, neFolderUpdate, dir.path(), {});
        QVERIFY(!s.List.IsSearching());

        s.Refused.clear();
        QTRY_VERIFY_WITH_TIMEOUT(
            GetTickCount() - s.List.ActiveSearch().LastSearchTickCount() > 5000, 10000);
        notifier.OnChange(notifier, neFolderUpdate, dir.path(), {});
        QTRY_COMPARE_WITH_TIMEOUT(s.Ends, 2, 10000);
        QCOMPARE(s.Paths(), (QStringList{dir.path() + "/listed.txt", late}));
    }

    // Past 5000 rows nothing is added, checked or refreshed; deletions and renames of listed
    // files still apply.
    void beyondFiveThousandRows()
    {
        QTemporaryDir dir;
        const QByteArray folder = EncodeFileName(dir.path()) + '/';
        for (int i = 0; i < 5001; ++i) {
            QFile f(QString::fromUtf8(folder + "f" + QByteArray::number(i) + ".txt"));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        SearchedList s;
        QVERIFY(s.Search({dir.path()}));
        QCOMPARE(s.List.ItemCount(), 5001);
        const int offered = s.Offered.size();

        const QString created = writeFile(dir.path(), "new.txt", "x");
        const QString renamed = dir.path() + "/g2.txt";
        QVERIFY(rename(dir.path() + "/f2.txt", renamed));
        QVERIFY(QFile::remove(dir.path() + "/f1.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(s.List.ItemCount(), 5000, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(s.Lists(renamed), 10000);
        // The creation came first, and nothing was made of it: the list had 5001 rows.
        QVERIFY(!s.Lists(created));
        QCOMPARE(s.Offered.size(), offered);
    }

    // Changes the refresh once lost, each driven through a real search and real files; the
    // rows must end up being exactly the files on disk that match. Each case runs again with
    // the main thread's work cut into slices of one change or one row per turn.
    void refreshCases_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("oneItemPerSlice");
        for (const bool sliced : {false, true})
            for (const char *name :
                 {"created and moved away during the search", "saved during the search",
                  "finished download renamed to a matching name", "saved by renaming over the file",
                  "folder renamed", "renamed onto a listed file",
                  "renamed to a name that does not match",
                  "second folder moved out within a second", "queue overflow",
                  "burst stops at the limit", "folders beyond the watch budget"})
                QTest::addRow("%s%s", name, sliced ? ", one item per slice" : "")
                    << QString::fromLatin1(name) << sliced;
    }

    void refreshCases()
    {
        QFETCH(QString, name);
        QFETCH(bool, oneItemPerSlice);
        const std::chrono::microseconds slice = MainThreadSlice::Length();
        if (oneItemPerSlice)
            MainThreadSlice::SetLength(std::chrono::microseconds(0));
        const auto restoreSlice = qScopeGuard([slice] { MainThreadSlice::SetLength(slice); });
        QTemporaryDir dir;
        QTemporaryDir outside;
        const QString d = dir.path();
        const auto path = [&d](const char *pRelative) { return d + '/' + pRelative; };

        if (name == "created and moved away during the search") {
            // The folder is listed; while its files are offered, one more comes and one goes.
            const QString trigger = writeFile(d, "sub/trigger.txt", "x");
            const QString gone = writeFile(d, "sub/gone.txt", "x");
            SearchedList s;
            bool done = false;
            s.DuringSearch = [&](const QString &pPath) {
                if (done || pPath != trigger)
                    return;
                done = true;
                writeFile(d, "sub/new.txt", "x");
                QVERIFY(rename(gone, outside.path() + "/gone.txt"));
            };
            QVERIFY(s.Search({d}));
            QVERIFY(done);
            QTRY_COMPARE_WITH_TIMEOUT(s.SortedPaths(), Sorted({path("sub/new.txt"), trigger}),
                                      10000);
        } else if (name == "saved during the search") {
            // Judged (and refused) before the save; the save is seen and judged again.
            const QString trigger = writeFile(d, "sub/trigger.txt", "a needle");
            const QString doc = writeFile(d, "sub/doc.txt", "nothing yet");
            SearchedList s("needle");
            bool done = false;
            s.DuringSearch = [&](const QString &pPath) {
                if (!done && pPath == trigger) {
                    done = true;
                    writeFile(d, "sub/doc.txt", "now with the needle");
                }
            };
            QVERIFY(s.Search({d}));
            QVERIFY(done);
            QTRY_COMPARE_WITH_TIMEOUT(s.SortedPaths(), Sorted({doc, trigger}), 10000);
        } else if (name == "finished download renamed to a matching name") {
            const QString listed = writeFile(d, "listed.txt", "x");
            QVERIFY(QDir().mkpath(path("dl"))); // watched: the download is seen arriving
            SearchedList s;
            QVERIFY(s.Search({d}));
            const QString part = writeFile(d, "dl/report.txt.part", "x");
            QVERIFY(rename(part, path("dl/report.txt")));
            QTRY_COMPARE_WITH_TIMEOUT(s.SortedPaths(), Sorted({listed, path("dl/report.txt")}),
                                      10000);
        } else if (name == "saved by renaming over the file") {
            // As editors and sed -i save: a new file renamed over the old one is judged again.
            const QString loses = writeFile(d, "loses.txt", "a needle");
            const QString keeps = writeFile(d, "keeps.txt", "a needle");
            SearchedList s("needle");
            QVERIFY(s.Search({d}));
            QCOMPARE(s.SortedPaths(), Sorted({keeps, loses}));
            QVERIFY(rename(writeFile(d, "loses.txt.tmp", "no longer"), loses));
            QVERIFY(rename(writeFile(d, "keeps.txt.tmp", "still a needle"), keeps));
            QTRY_COMPARE_WITH_TIMEOUT(s.SortedPaths(), QStringList{keeps}, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(s.Offered.count(keeps), 2, 10000);
        } else if (name == "folder renamed") {
            writeFile(d, "old/x.txt", "x");
            writeFile(d, "old/deeper/y.txt", "x");
            SearchedList s;
            QVERIFY(s.Search({d}));
            QVERIFY(rename(path("old"), path("new")));
            QTRY_COMPARE_WITH_TIMEOUT(s.SortedPaths(),
                                      Sorted({path("new/x.txt"), path("new/deeper/y.txt")}), 10000);
            // The rows' new paths are live: a change there is seen as a change of the row.
            QVERIFY(QFile::remove(path("new/deeper/y.txt")));
            QTRY_COMPARE_WITH_TIMEOUT(s.SortedPaths(), QStringList{path("new/x.txt")}, 10000);
        } else if (name == "renamed onto a listed file") {
            const QString a = writeFile(d, "a.txt", "x");
            const QString b = writeFile(d, "b.txt", "x");
            SearchedList s;
            QVERIFY(s.Search({d}));
            QVERIFY(rename(a, b));
            QTRY_COMPARE_WITH_TIMEOUT(s.Paths(), QStringList{b}, 10000);
        } else if (name == "renamed to a name that does not match") {
            const QString a = writeFile(d, "a.txt", "x");
            const QString b = writeFile(d, "b.txt", "x");
            SearchedList s;
            QVERIFY(s.Search({d}));
            QVERIFY(rename(a, path("a.log")));
            QVERIFY(rename(b, path("c.txt")));
            QTRY_COMPARE_WITH_TIMEOUT(s.Paths(), QStringList{path("c.txt")}, 10000);
        } else if (name == "second folder moved out within a second") {
            const QString keep = writeFile(d, "keep.txt", "x");
            writeFile(d, "one/1.txt", "x");
            writeFile(d, "two/2.txt", "x");
            SearchedList s;
            QVERIFY(s.Search({d}));
            QCOMPARE(s.List.ItemCount(), 3);
            QVERIFY(rename(path("one"), outside.path() + "/one"));
            QVERIFY(rename(path("two"), outside.path() + "/two"));
            QTRY_COMPARE_WITH_TIMEOUT(s.Paths(), QStringList{keep}, 10000);
        } else if (name == "queue overflow") {
            // The changes' events are dropped, as the kernel drops what overflows its queue
            // (a test hook: the real queue holds 16384 events here); within 5 s of the search.
            writeFile(d, "sub/a.txt", "x");
            const QString b = writeFile(d, "sub/deep/b.txt", "x");
            SearchedList s;
            QVERIFY(s.Search({d}));
            TDvShellChangeNotifier &notifier = s.List.Notifier();
            notifier.SetReadingPaused(true);
            QVERIFY(QTest::qWaitFor([&] { return notifier.AllWatchesAdded(); }, 10000));
            const QString created = writeFile(d, "sub/deep/new.txt", "x");
            const QString inNewFolder = writeFile(d, "fresh/more/c.txt", "x");
            QVERIFY(QFile::remove(path("sub/a.txt")));
            notifier.InjectOverflow();
            notifier.SetReadingPaused(false);
            QTRY_COMPARE_WITH_TIMEOUT(s.SortedPaths(), Sorted({b, created, inNewFolder}), 10000);
            // The new folders are watched again.
            const QString later = writeFile(d, "fresh/more/later.txt", "x");
            QTRY_VERIFY_WITH_TIMEOUT(s.Lists(later), 10000);
        } else if (name == "burst stops at the limit") {
            writeFile(d, "first.txt", "x");
            QVERIFY(QDir().mkpath(path("burst")));
            SearchedList s;
            QVERIFY(s.Search({d}));
            const QByteArray folder = EncodeFileName(path("burst/"));
            for (int i = 0; i < 6000; ++i)
                QVERIFY(::close(::open((folder + QByteArray::number(i) + ".txt").constData(),
                                       O_CREAT | O_WRONLY | O_CLOEXEC, 0600)) == 0);
            QTRY_COMPARE_WITH_TIMEOUT(s.List.ItemCount(), 5001, 30000);
            QTRY_VERIFY_WITH_TIMEOUT(!s.List.IsSearching(), 30000);
            QTest::qWait(1500); // past the next second of the refresh
            QTRY_VERIFY_WITH_TIMEOUT(!s.List.IsSearching(), 30000);
            QCOMPARE(s.List.ItemCount(), 5001);
        } else if (name == "folders beyond the watch budget") {
            // Room for 3 watches here: half of the limit of 6 stays for other programs.
            WatchBudget::SetLimit(6);
            const auto restore = qScopeGuard([] { WatchBudget::SetLimit(0); });
            QCOMPARE(WatchBudget::SharedReserve(), 3);
            for (const char *sub : {"a", "b", "c", "d"})
                writeFile(d, QString::fromLatin1(sub) + "/x.txt", "x");
            SearchedList s;
            QVERIFY(s.Search({d}));
            QCOMPARE(s.List.ItemCount(), 4);
            QVERIFY(s.List.Notifier().LimitReached());
            QCOMPARE(s.List.Notifier().UnwatchedFolders().size(), 2);
            QStringList expected = s.Paths();
            for (const char *sub : {"a", "b", "c", "d"})
                expected << writeFile(d, QString::fromLatin1(sub) + "/new.txt", "x");
            // What the watches see comes first; the others with the next periodic read.
            QTRY_COMPARE_WITH_TIMEOUT(s.List.ItemCount(), 6, 10000);
            QVERIFY(s.List.RescanUnwatchedFolders());
            QTRY_COMPARE_WITH_TIMEOUT(s.SortedPaths(), Sorted(expected), 10000);
        } else {
            QFAIL("no such case");
        }
    }

private:
    std::unique_ptr<MainThreadWaker> m_waker;
};

QTEST_MAIN(tst_TDvFileListRefresh)
#include "tst_TDvFileListRefresh.moc"
