#include "core/filesearch/TDvShellChangeNotifier.h"
#include "core/platform/FileName.h"
#include "core/platform/WatchBudget.h"
#include "core/threads/MainThreadQueue.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace dv;
using testsupport::writeFile;

namespace {

using Change = TDvShellChangeNotifier::Change;

// A notifier with every change it delivered, in order.
struct Watching
{
    TDvShellChangeNotifier Notifier;
    std::vector<Change> Changes;

    Watching()
    {
        Notifier.OnChange = [this](TDvShellChangeNotifier &, TNotificationEvent pEvent,
                                   const QString &pPath1, const QString &pPath2) {
            Changes.push_back({pEvent, pPath1, pPath2});
        };
    }

    // Starts watching and waits until every folder has its watch.
    bool Start(const QString &pFolder, TDvShellChangeNotifier::WatchOptions pOptions = {})
    {
        Notifier.AddWatch(pFolder, pOptions);
        Notifier.SetEnabled(true);
        return Settle();
    }
    bool Settle()
    {
        return MainThreadQueue::RunPendingUntil([this] { return Notifier.AllWatchesAdded(); },
                                                10000);
    }
    int Count(TNotificationEvent pEvent, const QString &pPath1, const QString &pPath2 = {}) const
    {
        int n = 0;
        for (const Change &c : Changes)
            n += c.Event == pEvent && c.Path1 == pPath1 && c.Path2 == pPath2;
        return n;
    }
    bool WaitFor(TNotificationEvent pEvent, const QString &pPath1, const QString &pPath2 = {})
    {
        return MainThreadQueue::RunPendingUntil([&] { return Count(pEvent, pPath1, pPath2) > 0; },
                                                10000);
    }
    // Events come in order: once a file created now is reported, everything caused before
    // it has been reported too.
    bool Sentinel(const QString &pFolder)
    {
        const QString path =
            writeFile(pFolder, QStringLiteral("sentinel-%1").arg(++m_sentinels), {});
        return WaitFor(neFileCreate, path);
    }
    QStringList Summary() const
    {
        QStringList lines;
        for (const Change &c : Changes)
            lines << QStringLiteral("%1 %2 %3").arg(int(c.Event)).arg(c.Path1, c.Path2).trimmed();
        return lines;
    }

private:
    int m_sentinels = 0;
};

bool rename(const QString &pFrom, const QString &pTo)
{
    return ::rename(EncodeFileName(pFrom).constData(), EncodeFileName(pTo).constData()) == 0;
}

// Captures what is written to stderr while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = dup(2);
        dup2(m_file.handle(), 2);
    }
    ~StderrCapture() { Restore(); }
    QByteArray Restore()
    {
        if (m_saved >= 0) {
            std::fflush(stderr);
            dup2(m_saved, 2);
            close(m_saved);
            m_saved = -1;
        }
        QFile read(m_file.fileName());
        read.open(QIODevice::ReadOnly);
        return read.readAll();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace

class tst_TDvShellChangeNotifier : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { QCOMPARE(WatchBudget::Used(), 0); }

    // Created disabled: the watch list is kept, nothing is received until enabled.
    void disabledReceivesNothing()
    {
        QTemporaryDir dir;
        Watching w;
        w.Notifier.AddWatch(dir.path());
        QCOMPARE(w.Notifier.WatchedFolders(), QStringList{dir.path()});
        QVERIFY(!w.Notifier.AllWatchesAdded());
        writeFile(dir.path(), "before.txt", "x");
        w.Notifier.SetEnabled(true);
        QVERIFY(w.Settle());
        QVERIFY(w.Sentinel(dir.path()));
        QCOMPARE(w.Count(neFileCreate, dir.path() + "/before.txt"), 0);
    }

    // Creation, writes (one change per path however many), renames paired by cookie, moves
    // in and out of the tree, deletion: each with its kind and paths.
    void fileEventsInSubfolders()
    {
        QTemporaryDir dir;
        QTemporaryDir outside;
        const QString sub = dir.path() + "/sub";
        QVERIFY(QDir().mkpath(sub + "/deeper"));
        Watching w;
        QVERIFY(w.Start(dir.path()));
        QVERIFY(w.Notifier.WatchCount() >= 3);

        const QString file = writeFile(sub, "deeper/new.txt", "one");
        QVERIFY(w.WaitFor(neFileCreate, file));
        QVERIFY(w.WaitFor(neFileChange, file));
        // Paused, so that the writes wait in the kernel's queue and are read in one go.
        w.Notifier.SetReadingPaused(true);
        QVERIFY(w.Settle());
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::Append));
            f.write("two");
            f.close();
            QVERIFY(f.open(QIODevice::Append));
            f.write("three");
            f.close();
            QVERIFY(f.setPermissions(f.permissions() | QFileDevice::ExeUser));
        }
        w.Notifier.SetReadingPaused(false);
        QVERIFY(w.Sentinel(dir.path()));
        QCOMPARE(w.Count(neFileChange, file), 2); // writes and attributes, one change

        const QString renamed = sub + "/renamed.txt";
        QVERIFY(rename(file, renamed));
        QVERIFY(w.WaitFor(neFileRename, file, renamed));

        const QString away = outside.path() + "/away.txt";
        QVERIFY(rename(renamed, away));
        QVERIFY(w.WaitFor(neFileDelete, renamed));
        QVERIFY(rename(away, sub + "/back.txt"));
        QVERIFY(w.WaitFor(neFileCreate, sub + "/back.txt"));
        QVERIFY(QFile::remove(sub + "/back.txt"));
        QVERIFY(w.WaitFor(neFileDelete, sub + "/back.txt"));
        QVERIFY(w.Sentinel(dir.path()));

        QCOMPARE(w.Count(neFileCreate, renamed), 0);
        QCOMPARE(w.Count(neFileDelete, file), 0);
        QCOMPARE(w.Count(neFileCreate, away), 0);
    }

    // A renamed folder keeps its watches, which then report under the new name; a folder
    // moved out of the tree is a deletion and reports nothing more.
    void folderRenameAndMoveOut()
    {
        QTemporaryDir dir;
        QTemporaryDir outside;
        QVERIFY(QDir().mkpath(dir.path() + "/old/inner"));
        Watching w;
        QVERIFY(w.Start(dir.path()));
        QVERIFY(rename(dir.path() + "/old", dir.path() + "/new"));
        QVERIFY(w.WaitFor(neFolderRename, dir.path() + "/old", dir.path() + "/new"));
        const QString file = writeFile(dir.path(), "new/inner/f.txt", "x");
        QVERIFY(w.WaitFor(neFileCreate, file));

        QVERIFY(rename(dir.path() + "/new", outside.path() + "/gone"));
        QVERIFY(w.WaitFor(neFolderDelete, dir.path() + "/new"));
        writeFile(outside.path(), "gone/inner/late.txt", "x");
        QVERIFY(w.Sentinel(dir.path()));
        for (const Change &c : w.Changes)
            QVERIFY2(!c.Path1.contains("late.txt"), qPrintable(c.Path1));

        // Back in, and a folder made where a deleted one was (its inode may be reused): both
        // are watched again.
        QVERIFY(rename(outside.path() + "/gone", dir.path() + "/back"));
        QVERIFY(w.WaitFor(neFolderCreate, dir.path() + "/back"));
        QVERIFY(QDir(dir.path() + "/back").removeRecursively());
        QVERIFY(w.WaitFor(neFolderDelete, dir.path() + "/back"));
        QVERIFY(QDir().mkpath(dir.path() + "/again"));
        QVERIFY(w.WaitFor(neFolderCreate, dir.path() + "/again"));
        QVERIFY(w.Settle());
        const QString inAgain = writeFile(dir.path(), "again/f.txt", "x");
        QVERIFY(w.WaitFor(neFileCreate, inAgain));
    }

    // A folder that appears gets its watch, and what it already held when the watch came is
    // reported as created (a tree moved in, or made faster than the watch).
    void newFolderIsWatchedAndScanned()
    {
        QTemporaryDir dir;
        QTemporaryDir outside;
        writeFile(outside.path(), "tree/a.txt", "a");
        writeFile(outside.path(), "tree/deep/b.txt", "b");
        Watching w;
        QVERIFY(w.Start(dir.path()));
        QVERIFY(rename(outside.path() + "/tree", dir.path() + "/tree"));
        QVERIFY(w.WaitFor(neFolderCreate, dir.path() + "/tree"));
        QVERIFY(w.WaitFor(neFileCreate, dir.path() + "/tree/a.txt"));
        QVERIFY(w.WaitFor(neFolderCreate, dir.path() + "/tree/deep"));
        QVERIFY(w.WaitFor(neFileCreate, dir.path() + "/tree/deep/b.txt"));
        QVERIFY(w.Settle());
        const QString later = writeFile(dir.path(), "tree/deep/c.txt", "c");
        QVERIFY(w.WaitFor(neFileCreate, later));
    }

    // Each folder of the watch list is reported once its own watch is tried, also one that
    // cannot be watched, so a caller reading it again then misses no change; from that
    // report on, a change in the folder arrives.
    void watchInPlaceIsReported()
    {
        QTemporaryDir dir;
        const QString shown = dir.path() + "/shown";
        const QString missing = dir.path() + "/missing";
        QVERIFY(QDir().mkpath(shown));
        Watching w;
        QStringList inPlace;
        w.Notifier.OnWatchInPlace = [&](TDvShellChangeNotifier &, const QString &pFolder) {
            inPlace << pFolder;
        };
        w.Notifier.SetEnabled(true);
        TDvShellChangeNotifier::WatchOptions topOnly;
        topOnly.Recursive = false;
        w.Notifier.AddWatch(shown, topOnly);
        w.Notifier.AddWatch(missing, topOnly);
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return inPlace.size() >= 2; }, 10000));
        QCOMPARE(inPlace, (QStringList{shown, missing}));

        QVERIFY(QDir().mkpath(shown + "/made"));
        QVERIFY(w.WaitFor(neFolderCreate, shown + "/made"));
        QVERIFY(w.Settle());
        QCOMPARE(inPlace.size(), 2); // once per folder

        // A folder added later is reported by itself.
        const QString later = dir.path() + "/later";
        QVERIFY(QDir().mkpath(later));
        w.Notifier.AddWatch(later, topOnly);
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return inPlace.size() == 3; }, 10000));
        QCOMPARE(inPlace.last(), later);
    }

    // Reading and listing every file and folder causes no change at all: a content search
    // reads them all.
    void readingCausesNothing()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 20; ++i)
            writeFile(dir.path(), QStringLiteral("d%1/f%2.txt").arg(i % 4).arg(i), "text");
        Watching w;
        QVERIFY(w.Start(dir.path()));
        QDirIterator it(dir.path(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        int read = 0;
        while (it.hasNext()) {
            QFile f(it.next());
            if (f.open(QIODevice::ReadOnly)) {
                f.readAll();
                ++read;
            }
        }
        QCOMPARE(read, 20);
        QVERIFY(w.Sentinel(dir.path()));
        QCOMPARE(w.Changes.size(), std::size_t(1));
    }

    // The options of the search decide which subfolders are watched.
    void hiddenAndTopLevelOnly_data()
    {
        QTest::addColumn<bool>("recursive");
        QTest::addColumn<bool>("includeHidden");
        QTest::addColumn<bool>("seesSub");
        QTest::addColumn<bool>("seesHidden");
        QTest::newRow("recursive, no hidden") << true << false << true << false;
        QTest::newRow("recursive, hidden") << true << true << true << true;
        QTest::newRow("top level only") << false << true << false << false;
    }
    void hiddenAndTopLevelOnly()
    {
        QFETCH(bool, recursive);
        QFETCH(bool, includeHidden);
        QFETCH(bool, seesSub);
        QFETCH(bool, seesHidden);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.path() + "/sub"));
        QVERIFY(QDir().mkpath(dir.path() + "/.hidden"));
        Watching w;
        TDvShellChangeNotifier::WatchOptions options;
        options.Recursive = recursive;
        options.IncludeHidden = includeHidden;
        QVERIFY(w.Start(dir.path(), options));
        const QString inSub = writeFile(dir.path(), "sub/x.txt", "x");
        const QString inHidden = writeFile(dir.path(), ".hidden/y.txt", "y");
        QVERIFY(w.Sentinel(dir.path()));
        QCOMPARE(w.Count(neFileCreate, inSub), int(seesSub));
        QCOMPARE(w.Count(neFileCreate, inHidden), int(seesHidden));
    }

    // A link back to an ancestor is not followed around; a name that is not UTF-8 is
    // reported with its bytes kept.
    void linksAndByteNames()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.path() + "/a/b"));
        QVERIFY(QFile::link(dir.path() + "/a", dir.path() + "/a/b/loop"));
        const QByteArray odd = EncodeFileName(dir.path()) + "/caf\xe9";
        QVERIFY(::mkdir(odd.constData(), 0700) == 0);
        Watching w;
        QVERIFY(w.Start(dir.path()));
        QCOMPARE(w.Notifier.WatchCount(), 4); // root, a, a/b, the odd one
        const QByteArray fileBytes = odd + "/\xff.txt";
        QVERIFY(::close(::open(fileBytes.constData(), O_CREAT | O_WRONLY, 0600)) == 0);
        QVERIFY(w.WaitFor(neFileCreate, DecodeFileName(fileBytes)));
        QCOMPARE(EncodeFileName(DecodeFileName(fileBytes)), fileBytes);
        // QDir cannot remove names that are not UTF-8.
        QVERIFY(::unlink(fileBytes.constData()) == 0);
        QVERIFY(::rmdir(odd.constData()) == 0);
    }

    // Every root of the watch list is watched; one removed or cleared reports nothing more.
    void severalRoots()
    {
        QTemporaryDir one;
        QTemporaryDir two;
        Watching w;
        w.Notifier.AddWatch(one.path());
        QVERIFY(w.Start(two.path()));
        QVERIFY(w.Notifier.IsWatchedFolder(one.path() + "/"));
        QVERIFY(!w.Notifier.IsWatchedFolder(one.path().toUpper()));
        const QString a = writeFile(one.path(), "a.txt", "a");
        const QString b = writeFile(two.path(), "b.txt", "b");
        QVERIFY(w.WaitFor(neFileCreate, a));
        QVERIFY(w.WaitFor(neFileCreate, b));

        w.Notifier.RemoveWatch(one.path());
        QVERIFY(w.Settle());
        const QString c = writeFile(one.path(), "c.txt", "c");
        QVERIFY(w.Sentinel(two.path()));
        QCOMPARE(w.Count(neFileCreate, c), 0);

        w.Notifier.ClearWatches();
        w.Notifier.AddWatch(one.path());
        QVERIFY(w.Settle());
        const QString d = writeFile(two.path(), "d.txt", "d");
        QVERIFY(w.Sentinel(one.path()));
        QCOMPARE(w.Count(neFileCreate, d), 0);
    }

    // Subfolders held back (a search walks them) get their watches once released.
    void subfoldersHeld()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.path() + "/sub"));
        Watching w;
        w.Notifier.SetSubfoldersHeld(true);
        QVERIFY(w.Start(dir.path()));
        QCOMPARE(w.Notifier.WatchCount(), 1);
        w.Notifier.SetSubfoldersHeld(false);
        QVERIFY(w.Settle());
        QCOMPARE(w.Notifier.WatchCount(), 2);
        const QString file = writeFile(dir.path(), "sub/f.txt", "f");
        QVERIFY(w.WaitFor(neFileCreate, file));
    }

    // Out of watches (a small budget stands in for fs.inotify.max_user_watches, which cannot
    // be lowered here): the folders nearest the root are watched, the rest not, and half of
    // the limit stays for other programs; the rest is listed, it is said once on stderr, and
    // what is watched keeps working.
    void watchLimitKeepsNearestFolders()
    {
        QTemporaryDir dir;
        for (const char *top : {"a", "b", "c"})
            for (const char *below : {"x", "y", "z"})
                QVERIFY(QDir().mkpath(dir.path() + '/' + top + '/' + below));
        WatchBudget::SetLimit(8); // room for 4 here
        StderrCapture capture;
        {
            Watching w;
            QVERIFY(w.Start(dir.path()));
            QVERIFY(w.Notifier.LimitReached());
            QCOMPARE(w.Notifier.WatchCount(), 4); // the root, a, b and c
            QCOMPARE(WatchBudget::Used(), 4);
            QStringList unwatched = w.Notifier.UnwatchedFolders();
            QCOMPARE(unwatched.size(), 9);
            QVERIFY(unwatched.contains(dir.path() + "/b/y"));
            const QString file = writeFile(dir.path(), "c/top-level.txt", "x");
            QVERIFY(w.WaitFor(neFileCreate, file));
        }
        {
            Watching again;
            QVERIFY(again.Start(dir.path()));
            QVERIFY(again.Notifier.LimitReached());
        }
        WatchBudget::SetLimit(0);
        const QByteArray said = capture.Restore();
        QCOMPARE(said.count("max_user_watches"), 1);
    }

    // When the kernel's queue overflows, changes were lost: each root is reported as updated.
    void queueOverflowUpdatesRoot()
    {
        QFile limitFile("/proc/sys/fs/inotify/max_queued_events");
        QVERIFY(limitFile.open(QIODevice::ReadOnly));
        const int limit = limitFile.readAll().trimmed().toInt();
        if (limit <= 0 || limit > 200000)
            QSKIP("the queue is too long to fill here");
        QTemporaryDir dir;
        Watching w;
        QVERIFY(w.Start(dir.path()));
        w.Notifier.SetReadingPaused(true);
        QVERIFY(w.Settle());
        // Each file gives a creation and a close after writing.
        const QByteArray folder = EncodeFileName(dir.path()) + '/';
        for (int i = 0; i < limit / 2 + 100; ++i) {
            const QByteArray name = folder + QByteArray::number(i);
            QVERIFY(::close(::open(name.constData(), O_CREAT | O_WRONLY, 0600)) == 0);
        }
        w.Notifier.SetReadingPaused(false);
        QVERIFY(w.WaitFor(neFolderUpdate, dir.path()));
    }

    // With OnOverflow set, an overflow is reported to it, in order with the changes around
    // it; what the kernel dropped is not reported (InjectOverflow drops the queued events).
    void overflowIsReportedInOrder()
    {
        QTemporaryDir dir;
        Watching w;
        int overflows = 0;
        std::size_t changesBefore = 0;
        w.Notifier.OnOverflow = [&](TDvShellChangeNotifier &) {
            ++overflows;
            changesBefore = w.Changes.size();
        };
        QVERIFY(w.Start(dir.path()));
        const QString first = writeFile(dir.path(), "first.txt", "x");
        QVERIFY(w.WaitFor(neFileCreate, first));
        w.Notifier.SetReadingPaused(true);
        QVERIFY(w.Settle());
        const QString lost = writeFile(dir.path(), "lost.txt", "x");
        w.Notifier.InjectOverflow();
        w.Notifier.SetReadingPaused(false);
        // The overflow drops what is queued when it is handled: the sentinel comes after it.
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return overflows > 0; }, 10000));
        QVERIFY(w.Sentinel(dir.path()));
        QCOMPARE(overflows, 1);
        QCOMPARE(w.Count(neFileCreate, lost), 0);
        QCOMPARE(w.Count(neFolderUpdate, dir.path()), 0);
        QVERIFY(changesBefore >= 1 && changesBefore < w.Changes.size());
    }

    // A walk watches each folder before it lists it, also while the notifier holds the
    // subfolders back: a change there is reported at once. A folder watched by the walk and
    // by the notifier counts once, and the walk's hook outlives the notifier harmlessly.
    void walkWatchesItsFolders()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.path() + "/sub/deep"));
        TDvShellChangeNotifier::TFolderWatch hook;
        {
            Watching w;
            w.Notifier.SetSubfoldersHeld(true);
            QVERIFY(w.Start(dir.path()));
            QCOMPARE(w.Notifier.WatchCount(), 1);
            hook = w.Notifier.FolderWatch();
            for (const char *folder : {"", "/sub", "/sub/deep"}) {
                const QByteArray path = EncodeFileName(dir.path() + folder) + '/';
                const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                QVERIFY(fd >= 0);
                FolderIdentity identity;
                QVERIFY(DirectoryReader::Identify(fd, identity));
                hook(fd, path, identity, *folder == 0);
                ::close(fd);
            }
            QCOMPARE(WatchBudget::Used(), 3);
            const QString file = writeFile(dir.path(), "sub/deep/f.txt", "f");
            QVERIFY(w.WaitFor(neFileCreate, file));
            QCOMPARE(w.Notifier.WatchCount(), 3);
            w.Notifier.SetSubfoldersHeld(false);
            QVERIFY(w.Settle());
            QCOMPARE(WatchBudget::Used(), 3);
        }
        const QByteArray path = EncodeFileName(dir.path()) + '/';
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        hook(fd, path, FolderIdentity(), true);
        ::close(fd);
        QCOMPARE(WatchBudget::Used(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_TDvShellChangeNotifier)
#include "tst_TDvShellChangeNotifier.moc"
