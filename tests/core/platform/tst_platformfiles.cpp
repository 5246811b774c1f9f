#include "core/platform/FileName.h"
#include "core/platform/MountTable.h"
#include "core/platform/PathCompare.h"
#include "core/platform/UniqueFd.h"
#include "tests/support/TemporaryDir.h"

#include <QFileInfo>
#include <QTest>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace dv;

namespace {

// The write end of a pipe: the read end sees the end of the data once every writer is
// closed, so a closed descriptor is told from an open one even if its number is reused.
struct Pipe
{
    int Read = -1;
    int Write = -1;
    Pipe()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            Read = fds[0];
            Write = fds[1];
        }
    }
    ~Pipe() { ::close(Read); }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
    // True once no one holds the write end: read gives 0 rather than EAGAIN.
    bool WriterClosed() const
    {
        char byte;
        return ::read(Read, &byte, 1) == 0;
    }
};

} // namespace

class TestPlatformFiles : public QObject
{
    Q_OBJECT

private slots:
    void fileNameRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ascii") << QByteArray("plain.txt") << true;
        QTest::newRow("utf-8") << QByteArray("gr\xc3\xbc\xc3\x9f \xf0\x9f\x98\x80.txt") << true;
        QTest::newRow("latin-1 byte") << QByteArray("caf\xe9.txt") << false;
        QTest::newRow("lone continuation") << QByteArray("\x80\xbf") << false;
        QTest::newRow("truncated sequence") << QByteArray("a\xe2\x82") << false;
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << false;
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
        QTest::newRow("escape lookalike") << QByteArray("\xed\xb2\x80") << false;
    }

    void fileNameRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(IsValidUtf8(bytes.constData(), bytes.size()), valid);
        const QString name = DecodeFileName(bytes);
        QCOMPARE(EncodeFileName(name), bytes);
        QByteArray appended("/dir/");
        AppendEncodedFileName(appended, name);
        QCOMPARE(appended, "/dir/" + bytes);
        if (valid)
            QCOMPARE(name, QString::fromUtf8(bytes));
        // Two different names never decode to the same text.
        QVERIFY(DecodeFileName(bytes + "x") != name);
    }

    void samePath_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("equal") << "/d/a.txt"
                               << "/d/a.txt" << true;
        QTest::newRow("case differs") << "/d/A.txt"
                                      << "/d/a.txt" << false;
        QTest::newRow("folder case differs") << "/D/a.txt"
                                             << "/d/a.txt" << false;
        QTest::newRow("trailing separator") << "/d/sub/"
                                            << "/d/sub" << true;
        QTest::newRow("two trailing separators") << "/d/sub//"
                                                 << "/d/sub" << false;
        QTest::newRow("prefix") << "/d/a.tx"
                                << "/d/a.txt" << false;
        QTest::newRow("root") << "/"
                              << "/" << true;
        QTest::newRow("escaped byte") << DecodeFileName(QByteArray("/d/caf\xe9"))
                                      << DecodeFileName(QByteArray("/d/caf\xc9")) << false;
    }

    void samePath()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(SamePath(a, b), same);
        QCOMPARE(SamePath(b, a), same);
        // Held as folder and name, as a result row keeps it.
        if (!b.endsWith(u'/')) {
            const qsizetype slash = b.lastIndexOf(u'/');
            QCOMPARE(SamePath(a, b.left(slash + 1), b.mid(slash + 1)), same);
        }
    }

    // The tests' temporary folders go away whole, names that are not UTF-8 included, and
    // never through a link into another folder.
    void temporaryFolderGoesWhole()
    {
        testsupport::TemporaryDir outside;
        const QByteArray kept = EncodeFileName(outside.path()) + "/kept.txt";
        QCOMPARE(::close(::open(kept.constData(), O_CREAT | O_WRONLY, 0644)), 0);
        QString path;
        {
            testsupport::TemporaryDir dir;
            QVERIFY(dir.isValid());
            path = dir.path();
            const QByteArray odd = EncodeFileName(path) + "/caf\xe9";
            QCOMPARE(::mkdir(odd.constData(), 0755), 0);
            QCOMPARE(::mkdir((odd + "/sub").constData(), 0755), 0);
            QCOMPARE(
                ::close(::open((odd + "/sub/r\xe9.txt").constData(), O_CREAT | O_WRONLY, 0644)), 0);
            QCOMPARE(
                ::symlink(EncodeFileName(outside.path()).constData(), (odd + "/link").constData()),
                0);
        }
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(::access(kept.constData(), F_OK) == 0);
    }

    void fileUrl_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("plain") << QByteArray("/tmp/a.txt") << QByteArray("file:///tmp/a.txt");
        QTest::newRow("reserved characters") << QByteArray("/tmp/my file%20#1?.txt")
                                             << QByteArray("file:///tmp/my%20file%2520%231%3F.txt");
        QTest::newRow("utf-8") << QByteArray("/tmp/caf\xc3\xa9 \xf0\x9f\x98\x80")
                               << QByteArray("file:///tmp/caf%C3%A9%20%F0%9F%98%80");
        QTest::newRow("latin-1 byte")
            << QByteArray("/tmp/caf\xe9/x") << QByteArray("file:///tmp/caf%E9/x");
        QTest::newRow("mixed") << QByteArray("/t\xc3\xa9/\xff\xc3\xa9\x80")
                               << QByteArray("file:///t%C3%A9/%FF%C3%A9%80");
    }

    void fileUrl()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, encoded);
        const QString name = DecodeFileName(path);
        const QUrl url = FileUrlFromPath(name);
        QCOMPARE(url.toEncoded(), encoded);
        QCOMPARE(PathFromFileUrl(url), name);
        // What another program puts on the clipboard comes back the same way.
        const QUrl parsed(QString::fromLatin1(encoded));
        QCOMPARE(EncodeFileName(PathFromFileUrl(parsed)), path);
        if (IsValidUtf8(path.constData(), path.size())) {
            QCOMPARE(url, QUrl::fromLocalFile(name));
            QCOMPARE(PathFromFileUrl(url), url.toLocalFile());
        }
    }

    void fileUrlNotLocal()
    {
        QCOMPARE(PathFromFileUrl(QUrl(QStringLiteral("https://example.com/a"))), QString());
        QCOMPARE(PathFromFileUrl(QUrl(QStringLiteral("file://server/share/a"))), QString());
        QCOMPARE(PathFromFileUrl(QUrl()), QString());
        QCOMPARE(PathFromFileUrl(QUrl(QStringLiteral("file://localhost/tmp/a"))),
                 QStringLiteral("/tmp/a"));
        QVERIFY(FileUrlFromPath(QString()).isEmpty());
    }

    void mountTableParsing()
    {
        struct stat root;
        QVERIFY(stat("/", &root) == 0);
        const QByteArray rootDev =
            QByteArray::number(major(root.st_dev)) + ':' + QByteArray::number(minor(root.st_dev));
        const QByteArray text = "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
                                "24 28 0:6 / /dev rw - devtmpfs devtmpfs rw\n"
                                "29 28 0:26 / /run rw shared:5 - tmpfs tmpfs rw\n"
                                "30 28 7:1 / /mnt/with\\040space rw - ext4 /dev/sdb1 rw\n"
                                "28 1 " +
                                rootDev +
                                " / / rw,relatime - ext4 /dev/vda rw\n"
                                "broken line\n";
        const MountTable table = MountTable::Parse(text);
        QCOMPARE(table.Mounts().size(), size_t(5));
        QCOMPARE(table.Mounts()[3].MountPoint, QByteArray("/mnt/with space"));
        QCOMPARE(table.Mounts()[2].Type, QByteArray("tmpfs"));
        QVERIFY(table.IsPseudoDevice(makedev(0, 21)));
        QVERIFY(table.IsPseudoDevice(makedev(0, 6)));
        QVERIFY(!table.IsPseudoDevice(makedev(0, 26))); // tmpfs is searched when asked for
        QVERIFY(!table.IsPseudoDevice(root.st_dev));
        // Only real file systems that exist here; "/" first although listed last.
        const QStringList drives = table.ReadyDrives();
        QVERIFY(!drives.isEmpty());
        QCOMPARE(drives.first(), QString("/"));
        QVERIFY(!drives.contains("/proc/"));
        QVERIFY(!drives.contains("/run/"));
    }

    // Exactly one owner closes the descriptor, exactly once, whichever way it is handed on.
    void uniqueFdOwnership()
    {
        {
            Pipe pipe;
            QVERIFY(pipe.Write >= 0);
            {
                UniqueFd owner(pipe.Write);
                QVERIFY(owner.isValid());
                QCOMPARE(owner.get(), pipe.Write);
                QVERIFY(!pipe.WriterClosed());
            }
            QVERIFY(pipe.WriterClosed());
        }
        {
            Pipe pipe;
            UniqueFd moved;
            {
                UniqueFd first(pipe.Write);
                moved = UniqueFd(std::move(first));
                QVERIFY(!first.isValid());
                QCOMPARE(moved.get(), pipe.Write);
            }
            QVERIFY(!pipe.WriterClosed()); // the moved-from owner closed nothing
            UniqueFd last(std::move(moved));
            QVERIFY(!moved.isValid());
            QVERIFY(!pipe.WriterClosed());
            last.reset();
            QVERIFY(pipe.WriterClosed());
            QVERIFY(!last);
        }
        {
            // Assigning over an owner closes what it held; reset does too, and keeps errno.
            Pipe held, taken;
            UniqueFd owner(held.Write);
            owner = UniqueFd(taken.Write);
            QVERIFY(held.WriterClosed());
            QVERIFY(!taken.WriterClosed());
            errno = ENOENT;
            owner.reset();
            QCOMPARE(errno, ENOENT);
            QVERIFY(taken.WriterClosed());
        }
        {
            Pipe pipe;
            int released = -1;
            {
                UniqueFd owner(pipe.Write);
                released = owner.release();
                QVERIFY(!owner.isValid());
            }
            QCOMPARE(released, pipe.Write);
            QVERIFY(!pipe.WriterClosed());
            ::close(released);
            QVERIFY(pipe.WriterClosed());
        }
        {
            // close() reports the result and leaves nothing to close twice.
            Pipe pipe;
            UniqueFd owner(pipe.Write);
            QVERIFY(owner.close());
            QVERIFY(!owner.isValid());
            QVERIFY(pipe.WriterClosed());
            QVERIFY(owner.close());                  // nothing held
            QVERIFY(!UniqueFd(INT_MAX - 1).close()); // EBADF surfaces as false
        }
    }
};

QTEST_GUILESS_MAIN(TestPlatformFiles)
#include "tst_platformfiles.moc"
