#include "core/platform/FileName.h"
#include "core/platform/Ticks.h"
#include "core/threads/MainThreadWaker.h"
#include "gui/filesearch/TDvFileList.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

using namespace dv;
using testsupport::writeFile;

namespace {

// A result list after a real search of its roots, with what its OnAddPath was offered.
struct SearchedList
{
    TDvFileList List;
    QStringList Offered;
    QStringList Refused; // refused while this holds them
    int Ends = 0;

    SearchedList()
    {
        List.SearchOptions().SetFilter("*.txt");
        List.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        List.OnAddPath = [this](const QString &pPath, bool &pCanAdd) {
            Offered << pPath;
            pCanAdd = !Refused.contains(pPath);
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
};

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

    // A renamed file keeps its row under the new name without a new acceptance; a deleted
    // file loses its row; a folder moved away has its rows checked and removed.
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
        QCOMPARE(s.Offered.size(), offered);

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
        QVERIFY(QFile::remove(dir.path() + "/f1.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(s.List.ItemCount(), 5000, 10000);
        const QString renamed = dir.path() + "/g2.txt";
        QVERIFY(rename(dir.path() + "/f2.txt", renamed));
        QTRY_VERIFY_WITH_TIMEOUT(s.Lists(renamed), 10000);
        // The creation came first, and nothing was made of it: the list had 5001 rows.
        QVERIFY(!s.Lists(created));
        QCOMPARE(s.Offered.size(), offered);
    }

private:
    std::unique_ptr<MainThreadWaker> m_waker;
};

QTEST_MAIN(tst_TDvFileListRefresh)
#include "tst_TDvFileListRefresh.moc"
