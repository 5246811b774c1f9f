#include "core/threads/MainThreadWaker.h"
#include "gui/filesearch/TDvFileList.h"
#include "tests/support/TestSupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLocale>
#include <QSet>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <stdexcept>

using namespace dv;

namespace {

using testsupport::writeFile;

void setModified(const QString &pPath, const QDateTime &pTime)
{
    QFile file(pPath);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(pTime, QFileDevice::FileModificationTime));
}

QStringList captions(const TDvFileList &pList)
{
    QStringList names;
    for (int i = 0; i < pList.ItemCount(); ++i)
        names << pList.Item(i)->Caption();
    return names;
}

} // namespace

class tst_TDvFileList : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_waker = std::make_unique<MainThreadWaker>(); }
    void cleanupTestCase() { m_waker.reset(); }

    // The real enumeration fills the list; refused paths never reach the view, and each
    // batch arrives in one insertion.
    void searchAddsAcceptedPaths()
    {
        QTemporaryDir dir;
        writeFile(dir.path(), "a.txt", "a");
        writeFile(dir.path(), "b.log", "b");
        writeFile(dir.path(), "sub/c.txt", "c");
        writeFile(dir.path(), "sub/d.log", "d");
        TDvFileList list;
        QAbstractItemModelTester tester(list.Model());
        QSignalSpy inserted(list.Model(), &QAbstractItemModel::rowsInserted);
        list.SearchOptions().SetFilter("*.*");
        list.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        QStringList offered;
        int countInHandler = -1;
        list.OnAddPath = [&](const QString &path, bool &canAdd) {
            offered << path;
            countInHandler = list.ItemCount();
            canAdd = !path.endsWith(".log");
        };
        int ends = 0;
        list.SetOnEndSearch([&] { ++ends; });
        list.Search(dir.path());
        QTRY_COMPARE_WITH_TIMEOUT(ends, 1, 30000);

        const QString root = dir.path() + '/';
        QCOMPARE(QSet<QString>(offered.begin(), offered.end()),
                 (QSet<QString>{root + "a.txt", root + "b.log", root + "sub/c.txt",
                                root + "sub/d.log"}));
        QVERIFY(countInHandler >= 1); // the candidate row exists while the handler runs
        QCOMPARE(list.ItemCount(), 2);
        QCOMPARE(list.Model()->rowCount(), 2);
        QStringList paths{list.Item(0)->Path(), list.Item(1)->Path()};
        paths.sort();
        QCOMPARE(paths, (QStringList{root + "a.txt", root + "sub/c.txt"}));
        int insertedRows = 0;
        for (const QList<QVariant> &args : inserted)
            insertedRows += args.at(2).toInt() - args.at(1).toInt() + 1;
        QCOMPARE(insertedRows, 2);
        QCOMPARE(inserted.count(), 1); // a tree this small is one batch
    }

    void refusingEverythingStillEnds()
    {
        QTemporaryDir dir;
        writeFile(dir.path(), "a.txt", "a");
        TDvFileList list;
        int added = 0;
        int ends = 0;
        list.OnAddItem = [](TDvFileListItem &, bool &canAdd) { canAdd = false; };
        list.OnAddPath = [&](const QString &, bool &) { ++added; };
        list.SetOnEndSearch([&] { ++ends; });
        list.Search(dir.path());
        QTRY_COMPARE_WITH_TIMEOUT(ends, 1, 30000);
        QCOMPARE(list.ItemCount(), 0);
        QCOMPARE(added, 0); // a row refused by OnAddItem is not offered to OnAddPath
    }

    void threeRootsOneEndSearch()
    {
        QTemporaryDir dir;
        for (const char *root : {"r1", "r2", "r3"})
            for (int i = 0; i < 20; ++i)
                writeFile(dir.path(), QStringLiteral("%1/f%2.txt").arg(root).arg(i), "x");
        TDvFileList list;
        list.SearchOptions().SetFilesAndFolders(ffFilesOnly);
        list.OnAddPath = [](const QString &, bool &) {};
        int ends = 0;
        list.SetOnEndSearch([&] { ++ends; });
        for (const char *root : {"r1", "r2", "r3"})
            list.Search(dir.filePath(root));
        QCOMPARE(list.WatchedRoots(),
                 (QStringList{dir.filePath("r1"), dir.filePath("r2"), dir.filePath("r3")}));
        QTRY_COMPARE_WITH_TIMEOUT(ends, 1, 30000);
        QCOMPARE(list.ItemCount(), 60);
        QTest::qWait(300);
        QCOMPARE(ends, 1);
    }

    void stopEndsOnce()
    {
        TDvFileList list;
        int ends = 0;
        list.SetOnEndSearch([&] { ++ends; });
        list.Stop(); // idle: nothing to report
        QTest::qWait(50);
        QCOMPARE(ends, 0);

        // Every path is handed over on this thread, so the search cannot have ended before
        // the stop below.
        QTemporaryDir dir;
        for (int i = 0; i < 200; ++i)
            writeFile(dir.path(), QStringLiteral("d%1/f%2.txt").arg(i % 20).arg(i), "x");
        list.OnAddPath = [](const QString &, bool &) {};
        list.Search(dir.path());
        list.Stop();
        QTRY_COMPARE_WITH_TIMEOUT(ends, 1, 10000);
        QVERIFY(!list.IsSearching());
        const int rows = list.ItemCount();
        QTest::qWait(300);
        QCOMPARE(ends, 1);
        QCOMPARE(list.ItemCount(), rows); // nothing arrives after the stop
    }

    // The date column shows its text whole from the first show on, whatever the font.
    void dateColumnFitsItsText()
    {
        QTemporaryDir dir;
        const QString file = writeFile(dir.path(), "a.txt", "x");
        setModified(file, QDateTime(QDate(2026, 12, 28), QTime(23, 59, 59)));
        TDvFileList list;
        QFont font = list.font();
        font.setPixelSize(24);
        list.setFont(font);
        list.Add(file);
        list.resize(1600, 300);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const int column = FileListModel::ColDateModified;
        const QString text = list.Model()->index(0, column).data().toString();
        QVERIFY(!text.isEmpty());
        // The item delegate's room for the text: the text and a margin on each side.
        const int margin = list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list);
        const int needed = QFontMetrics(font).horizontalAdvance(text) + 2 * (margin + 1);
        const int width = list.header()->sectionSize(column);
        QVERIFY2(width >= needed, qPrintable(QStringLiteral("%1 < %2").arg(width).arg(needed)));
    }

    void addAndFind()
    {
        QTemporaryDir dir;
        const QString file = writeFile(dir.path(), "Report.TXT", "x");
        TDvFileList list;
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, list.Add(QString()));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, list.Add("relative/name.txt"));
        try {
            list.Add(QString());
        } catch (const std::invalid_argument &e) {
            QCOMPARE(QString(e.what()), "pPath must be assigned");
        }
        QVERIFY(list.Add(file));
        QVERIFY(list.Add(file)); // duplicates are listed twice
        QCOMPARE(list.ItemCount(), 2);
        QVERIFY(list.Add(dir.path() + "/sub/"));
        QVERIFY(list.Item(2)->IsFolder());
        QCOMPARE(list.Item(2)->Path(), dir.path() + "/sub");
        QCOMPARE(list.Item(2)->Caption(), "sub");

        // Names differing in letter case are different files here.
        QCOMPARE(list.ReturnItemInList(file.toLower()), nullptr);
        QCOMPARE(list.ReturnItemInList(file), list.Item(0));
        QCOMPARE(list.ReturnItemInList(file + "/"), list.Item(0));
        QCOMPARE(list.ReturnItemInList(file, 1), list.Item(1));
        QCOMPARE(list.ReturnItemInList(file, 2), nullptr);
        QVERIFY(list.IsItemInList(dir.path() + "/sub"));
        QVERIFY(!list.IsItemInList(dir.path() + "/SUB"));
        QVERIFY(!list.IsItemInList(dir.path() + "/Report.TX"));

        // A handler that fails leaves no half-added row behind.
        list.OnAddPath = [](const QString &, bool &) { throw std::runtime_error("no"); };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, list.Add(file));
        QCOMPARE(list.ItemCount(), 3);
    }

    // The acceptance handler lets the window work; a header click sorts the list in the
    // middle of a batch, and the candidate row is still found and refused.
    void sortDuringBatch()
    {
        TDvFileList list;
        QAbstractItemModelTester tester(list.Model());
        list.OnAddPath = [&](const QString &path, bool &canAdd) {
            if (path.endsWith("/b"))
                list.SetSortColumn(FileListModel::ColName);
            canAdd = !path.endsWith("/b");
        };
        list.BeginUpdate();
        for (const char *name : {"/x/d", "/x/c", "/x/b", "/x/a"})
            list.Add(name);
        list.EndUpdate();
        QCOMPARE(captions(list), (QStringList{"c", "d", "a"}));
        QCOMPARE(list.Model()->rowCount(), 3);
        list.Sort();
        QCOMPARE(captions(list), (QStringList{"a", "c", "d"}));
    }

    // Texts are made when the view asks for a row, not when the row is added.
    void columnsAndLazyTexts()
    {
        QTemporaryDir dir;
        const QString file = writeFile(dir.path(), "notes.txt", QByteArray(23506, 'x'));
        const QDateTime when(QDate(2021, 3, 4), QTime(5, 6, 7));
        setModified(file, when);
        TDvFileList list;
        QStringList headers;
        for (int c = 0; c < list.Model()->columnCount(); ++c)
            headers << list.Model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        QCOMPARE(headers, (QStringList{"Name", "In Folder", "Size", "Type", "Date modified"}));

        list.BeginUpdate();
        for (int i = 0; i < 2000; ++i)
            list.Add(file);
        list.EndUpdate();
        list.Add(dir.path() + "/");
        for (int i = 0; i < list.ItemCount(); ++i)
            QVERIFY(!list.Item(i)->Shown() && !list.Item(i)->FileDataRead());

        list.resize(600, 300);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QTRY_VERIFY(list.Item(0)->Shown());
        QVERIFY(!list.Item(1999)->Shown()); // far below the visible rows

        const FileListModel &m = *list.Model();
        QCOMPARE(m.index(0, FileListModel::ColName).data().toString(), "notes.txt");
        QCOMPARE(m.index(0, FileListModel::ColInFolder).data().toString(), dir.path());
        QCOMPARE(m.index(0, FileListModel::ColSize).data().toString(), "22.9 KB");
        QVERIFY(!m.index(0, FileListModel::ColType).data().toString().isEmpty());
        QCOMPARE(m.index(0, FileListModel::ColDateModified).data().toString(),
                 QLocale().toString(when, QLocale::ShortFormat));
        QVERIFY(
            !m.index(0, FileListModel::ColName).data(Qt::DecorationRole).value<QIcon>().isNull());
        const int folderRow = list.ItemCount() - 1;
        QCOMPARE(m.index(folderRow, FileListModel::ColSize).data().toString(), QString());

        // Rows that go while their exact icons are fetched: the late results touch nothing.
        list.Clear();
        QTest::qWait(100);
        QCOMPARE(list.ItemCount(), 0);
        list.Add(file);
        list.Add(dir.path() + "/");

        // A file that cannot be read leaves its values empty.
        list.Add(dir.path() + "/gone.txt");
        QCOMPARE(m.index(list.ItemCount() - 1, FileListModel::ColSize).data().toString(),
                 QString());
    }

    void sorting()
    {
        QTemporaryDir dir;
        const QDateTime base(QDate(2020, 1, 1), QTime(12, 0));
        struct F
        {
            const char *name;
            int size;
            int ageDays;
        };
        for (const F &f : {F{"file10.txt", 300, 1}, F{"file9.txt", 100, 3}, F{"B.log", 200, 2},
                           F{"sub2/a.txt", 50, 5}, F{"sub10/a.txt", 60, 4}}) {
            const QString path = writeFile(dir.path(), f.name, QByteArray(f.size, 'x'));
            setModified(path, base.addDays(-f.ageDays));
        }
        TDvFileList list;
        QAbstractItemModelTester tester(list.Model());
        const QString r = dir.path() + '/';
        for (const QString &p : {r + "file10.txt", r + "sub10/", r + "sub10/a.txt", r + "file9.txt",
                                 r + "sub2/a.txt", r + "B.log"})
            list.Add(p);
        // Unsorted: the order of adding.
        QCOMPARE(captions(list),
                 (QStringList{"file10.txt", "sub10", "a.txt", "file9.txt", "a.txt", "B.log"}));
        list.SelectItem(0);

        list.SetSortColumn(FileListModel::ColName);
        QVERIFY(!list.ReverseSortOrder());
        QCOMPARE(captions(list),
                 (QStringList{"sub10", "a.txt", "a.txt", "B.log", "file9.txt", "file10.txt"}));
        QCOMPARE(list.ItemIndex(), 5); // the selection follows its row
        list.SetSortColumn(FileListModel::ColName);
        QVERIFY(list.ReverseSortOrder());
        QCOMPARE(captions(list),
                 (QStringList{"file10.txt", "file9.txt", "B.log", "a.txt", "a.txt", "sub10"}));

        list.SetSortColumn(FileListModel::ColInFolder);
        QVERIFY(!list.ReverseSortOrder());
        QStringList byFolder;
        for (int i = 0; i < list.ItemCount(); ++i)
            byFolder << list.Item(i)->Path().mid(r.size());
        QCOMPARE(byFolder, (QStringList{"sub10", "B.log", "file9.txt", "file10.txt", "sub2/a.txt",
                                        "sub10/a.txt"}));

        // Size and date start descending; the second click turns the order round.
        list.SetSortColumn(FileListModel::ColSize);
        QVERIFY(list.ReverseSortOrder());
        QCOMPARE(captions(list),
                 (QStringList{"file10.txt", "B.log", "file9.txt", "a.txt", "a.txt", "sub10"}));
        list.SetSortColumn(FileListModel::ColSize);
        QVERIFY(!list.ReverseSortOrder());
        QCOMPARE(captions(list),
                 (QStringList{"sub10", "a.txt", "a.txt", "file9.txt", "B.log", "file10.txt"}));
        QCOMPARE(list.Item(1)->Path(), r + "sub2/a.txt");

        list.SetSortColumn(FileListModel::ColDateModified);
        QVERIFY(list.ReverseSortOrder());
        QStringList byDate;
        for (int i = 0; i < list.ItemCount(); ++i)
            byDate << list.Item(i)->Path().mid(r.size());
        // Descending turns the whole order round: the folder goes last.
        QCOMPARE(byDate, (QStringList{"file10.txt", "B.log", "file9.txt", "sub10/a.txt",
                                      "sub2/a.txt", "sub10"}));

        // Sizes were read once and are kept: the sort no longer touches the files.
        QVERIFY(QFile::remove(r + "file10.txt"));
        list.SetSortColumn(FileListModel::ColSize);
        QCOMPARE(list.Item(0)->Caption(), "file10.txt");

        list.SetSortColumn(FileListModel::ColType);
        QCOMPARE(list.Item(0)->Caption(), "sub10");

        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, list.SetSortColumn(5));

        // Clear keeps columns and sort state; the next rows are sorted by it again.
        const int column = list.SortedBy();
        list.Clear();
        QCOMPARE(list.ItemCount(), 0);
        QCOMPARE(list.SortedBy(), column);
        QCOMPARE(list.Model()->columnCount(), 5);
    }

    void headerClickSorts()
    {
        QTemporaryDir dir;
        TDvFileList list;
        list.Add(writeFile(dir.path(), "b.txt", "xx"));
        list.Add(writeFile(dir.path(), "a.txt", "x"));
        list.resize(600, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QHeaderView *head = list.header();
        const QPoint sizeHeader(head->sectionViewportPosition(FileListModel::ColSize) + 5,
                                head->height() / 2);
        QTest::mouseClick(head->viewport(), Qt::LeftButton, {}, sizeHeader);
        QCOMPARE(list.SortedBy(), int(FileListModel::ColSize));
        QCOMPARE(captions(list), (QStringList{"b.txt", "a.txt"}));
        QTest::mouseClick(head->viewport(), Qt::LeftButton, {}, sizeHeader);
        QCOMPARE(captions(list), (QStringList{"a.txt", "b.txt"}));
    }

    // One event per burst of changes, about 200 ms after the first; not restarted.
    void selectionEvent()
    {
        QTemporaryDir dir;
        TDvFileList list;
        for (int i = 0; i < 5; ++i)
            list.Add(writeFile(dir.path(), QStringLiteral("f%1.txt").arg(i), "x"));
        QList<TDvFileListItem *> events;
        list.OnSelectionChanged = [&](TDvFileListItem *item) { events << item; };
        QElapsedTimer clock;
        clock.start();
        list.SelectItem(0);
        list.SelectItem(1);
        list.SelectItem(2);
        QTRY_COMPARE(events.size(), 1);
        QVERIFY(clock.elapsed() >= 190);
        QCOMPARE(events.first(), list.Item(2));
        QCOMPARE(list.SelectedPath(), list.Item(2)->Path());
        QCOMPARE(list.SelCount(), 1);

        list.selectionModel()->clearSelection();
        QTRY_COMPARE(events.size(), 2);
        QCOMPARE(events.last(), nullptr);
        QCOMPARE(list.ItemIndex(), -1);
        QTest::qWait(300);
        QCOMPARE(events.size(), 2);
    }

private:
    std::unique_ptr<MainThreadWaker> m_waker;
};

QTEST_MAIN(tst_TDvFileList)
#include "tst_TDvFileList.moc"
