// delvora-find as a user runs it: the built program on temporary trees.
#include "core/cache/ExtractedTextCache.h"
#include "core/platform/FileName.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace dv;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

struct Result
{
    int code = -1;
    QByteArray out, err;
    QStringList lines() const
    {
        QStringList l = linesInOrder();
        l.sort();
        return l;
    }
    QStringList linesInOrder() const
    {
        QStringList l;
        for (const QByteArray &line : out.split('\n'))
            if (!line.isEmpty())
                l << DecodeFileName(line);
        return l;
    }
};

QString Program()
{
    return QString::fromLocal8Bit(qgetenv("DELVORA_BUILD_DIR")) + "/cli/delvora-find";
}

constexpr uid_t kOtherUser = 65534; // nobody

// A copy of the program that another user can run: the build tree may lie in a folder only
// root can enter.
QString ProgramForAnyone()
{
    static QTemporaryDir dir;
    static const QString copy = [] {
        const QString path = dir.filePath("delvora-find");
        if (!dir.isValid() || !QFile::copy(Program(), path) ||
            ::chmod(EncodeFileName(dir.path()).constData(), 0755) != 0 ||
            ::chmod(EncodeFileName(path).constData(), 0755) != 0)
            return Program();
        return path;
    }();
    return copy;
}

// Whether the other user a test runs the program as can reach it: in a chroot whose root folder
// only root may enter, nothing can.
bool OtherUserCanRun()
{
    const QByteArray program = EncodeFileName(ProgramForAnyone());
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)
            ::_exit(1);
        ::_exit(::access(program.constData(), X_OK) == 0 ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Runs delvora-find; with pMaxDescriptors, under that limit of open descriptors; with pZone,
// in that time zone.
// With pWithoutRoot, a program run as root runs as another user, to whom a folder of mode
// 000 is closed.
Result RunFind(const QStringList &args, int pMaxDescriptors = 0, const QByteArray &pZone = {},
               bool pWithoutRoot = false)
{
    QProcess p;
    const bool asOtherUser = pWithoutRoot && ::geteuid() == 0;
    if (asOtherUser)
        p.setChildProcessModifier([] {
            if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)
                ::_exit(99);
        });
    if (!pZone.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), QString::fromLatin1(pZone));
        p.setProcessEnvironment(env);
    }
    if (pMaxDescriptors > 0)
        p.start("/bin/sh",
                QStringList{"-c",
                            QString("ulimit -n %1 && exec \"$0\" \"$@\"").arg(pMaxDescriptors),
                            Program()} +
                    args);
    else
        p.start(asOtherUser ? ProgramForAnyone() : Program(), args);
    Result r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void SetModified(const QString &path, const QDateTime &when)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
}

} // namespace

class TestDelvoraFind : public QObject
{
    Q_OBJECT

    testsupport::TemporaryDir tmp;
    QString root;

private slots:
    void initTestCase()
    {
        testsupport::useTemporaryCacheHome();
        QVERIFY2(QFile::exists(Program()), "build delvora-find before running this test");
        root = tmp.path();
        testsupport::writeFile(root, "a.txt", "alpha needle omega");
        testsupport::writeFile(root, "b.txt", "nothing here");
        testsupport::writeFile(root, "Makefile", "all: needle");
        testsupport::writeFile(root, "movie.mp4", "needle");
        testsupport::writeFile(root, ".hidden.txt", "needle");
        testsupport::writeFile(root, "sub/c.txt", "NEEDLE in caps");
        testsupport::writeFile(root, "sub/big.bin", QByteArray(5000, 'x'));
        SetModified(root + "/b.txt", QDateTime(QDate(2024, 3, 5), QTime(23, 59, 59)));
        SetModified(root + "/a.txt", QDateTime(QDate(2024, 3, 6), QTime(0, 0, 0)));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "unknown option '--bogus'";
        QTest::newRow("missing value") << QStringList{"--name"} << "'--name' needs an argument";
        QTest::newRow("size not a number")
            << QStringList{"--min-size", "abc"} << "--min-size: 'abc' is not a number";
        QTest::newRow("negative size")
            << QStringList{"--max-size", "-5"} << "--max-size: '-5' is not a number";
        QTest::newRow("size overflows")
            << QStringList{"--max-size", "99999999999999999999"} << "is not a number";
        QTest::newRow("impossible date") << QStringList{"--modified", "2024-02-30", "2024-03-01"}
                                         << "--modified: '2024-02-30' is not a date";
        QTest::newRow("date shape")
            << QStringList{"--created", "2024-1-1", "2024-03-01"} << "'2024-1-1' is not a date";
        QTest::newRow("one date only")
            << QStringList{"--accessed", "2024-01-01"} << "needs two dates";
        QTest::newRow("two date conditions")
            << QStringList{"--created",  "2024-01-01", "2024-01-02",
                           "--modified", "2024-01-01", "2024-01-02"}
            << "only one of --accessed, --created and --modified";
    }

    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Result r = RunFind(QStringList{root} + args);
        QCOMPARE(r.code, 2);
        QVERIFY(r.out.isEmpty());
        const QString err = QString::fromUtf8(r.err);
        const QString first = err.section('\n', 0, 0);
        QVERIFY2(first.startsWith("delvora-find: ") && first.contains(message), qPrintable(err));
        QVERIFY(err.contains("Usage: delvora-find"));
    }

    void helpAndVersion()
    {
        Result r = RunFind({"--help"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.startsWith("Usage: delvora-find"));
        QVERIFY(r.out.contains("-s, --no-messages"));
        r = RunFind({"--version"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("delvora-find 2.4\n"));
    }

    void criteria_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("default filter: every visible file")
            << QStringList{} << QStringList{"/Makefile",  "/a.txt",       "/b.txt",
                                            "/movie.mp4", "/sub/big.bin", "/sub/c.txt"};
        QTest::newRow("masks") << QStringList{"-n", "*.txt; *.BIN"}
                               << QStringList{"/a.txt", "/b.txt", "/sub/big.bin", "/sub/c.txt"};
        QTest::newRow("plain name widened") << QStringList{"--name=ak"} << QStringList{"/Makefile"};
        QTest::newRow("hidden") << QStringList{"-H", "-n", "*.txt"}
                                << QStringList{"/.hidden.txt", "/a.txt", "/b.txt", "/sub/c.txt"};
        QTest::newRow("no subfolders")
            << QStringList{"--no-subfolders", "-n", "*.txt"} << QStringList{"/a.txt", "/b.txt"};
        QTest::newRow("min size") << QStringList{"--min-size", "4"} << QStringList{"/sub/big.bin"};
        QTest::newRow("max size") << QStringList{"--max-size", "1", "-n", "*.txt"}
                                  << QStringList{"/a.txt", "/b.txt", "/sub/c.txt"};
        QTest::newRow("modified on whole days")
            << QStringList{"--modified", "2024-03-01", "2024-03-05"} << QStringList{"/b.txt"};
        // A skipped extension (movie.mp4) is never opened; a file that is not plain text
        // (Makefile) is found through the extraction server or, when allowed, its raw bytes.
        QTest::newRow("text and name") << QStringList{"--text", "  needle  ", "-n", "*.txt"}
                                       << QStringList{"/a.txt", "/sub/c.txt"};
        QTest::newRow("text and raw bytes") << QStringList{"-u", "-t", "needle"}
                                            << QStringList{"/Makefile", "/a.txt", "/sub/c.txt"};
    }

    void criteria()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expected);
        const Result r = RunFind(args << root);
        QCOMPARE(r.code, 0);
        QStringList got;
        for (const QString &line : r.lines())
            got << line.mid(root.size());
        QCOMPARE(got, expected);
        QVERIFY(r.err.isEmpty());
    }

    void nothingFoundAndMissingFolders()
    {
        Result r = RunFind({"-n", "*.none", root});
        QCOMPARE(r.code, 1);
        QVERIFY(r.out.isEmpty());

        r = RunFind({root + "/missing"});
        QCOMPARE(r.code, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.contains("missing': no such file or folder"));

        // The others are still searched; a file given is judged as the walk of its folder
        // would judge it.
        r = RunFind({"-n", "c.txt", root + "/missing", root + "/a.txt", root + "/sub"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.lines(), QStringList{root + "/sub/c.txt"});
        QVERIFY(r.err.contains("no such file or folder"));
        QVERIFY(!r.err.contains("a.txt"));
    }

    // Files given alongside folders pass the same criteria and content test as found ones.
    void filesGivenAreSearched_data()
    {
        QTest::addColumn<QStringList>("args"); // "@" stands for the test folder
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("by name") << QStringList{"-n", "*.txt", "@/a.txt", "@/Makefile"}
                                 << QStringList{"@/a.txt"};
        QTest::newRow("by content") << QStringList{"-t", "needle", "@/a.txt", "@/b.txt", "@/sub"}
                                    << QStringList{"@/a.txt", "@/sub/c.txt"};
        QTest::newRow("hidden only when asked") << QStringList{"@/.hidden.txt"} << QStringList{};
        QTest::newRow("hidden asked")
            << QStringList{"-H", "@/.hidden.txt"} << QStringList{"@/.hidden.txt"};
        QTest::newRow("size") << QStringList{"--min-size", "4", "@/sub/big.bin", "@/a.txt"}
                              << QStringList{"@/sub/big.bin"};
    }

    void filesGivenAreSearched()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expected);
        args.replaceInStrings("@", root);
        expected.replaceInStrings("@", root);
        const Result r = RunFind(args);
        QCOMPARE(r.code, expected.isEmpty() ? 1 : 0);
        QCOMPARE(r.lines(), expected);
        QVERIFY(r.err.isEmpty());
    }

    void rawNameBytesAreWritten()
    {
        testsupport::TemporaryDir dir;
        const QByteArray name = EncodeFileName(dir.path()) + "/caf\xe9.txt";
        const int fd = open(name.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(write(fd, "needle", 6), ssize_t(6));
        close(fd);
        const Result r = RunFind({"-t", "needle", dir.path()});
        unlink(name.constData());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, name + "\n");
    }

    void nullEndsEachPath_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("-0") << QStringList{"-0"};
        QTest::newRow("--null") << QStringList{"--null"};
        QTest::newRow("--null with a content test") << QStringList{"--null", "-t", "needle"};
    }
    void nullEndsEachPath()
    {
        // A name may hold a line break; only a NUL byte cannot occur in a path.
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        testsupport::writeFile(dir.path(), "two\nlines.txt", "needle");
        testsupport::writeFile(dir.path(), "sub/plain.txt", "needle");
        const Result r = RunFind(args << dir.path());
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.endsWith('\0'));
        QVERIFY(!r.out.contains("txt\n"));
        QList<QByteArray> paths = r.out.chopped(1).split('\0');
        std::sort(paths.begin(), paths.end());
        const QByteArray root = EncodeFileName(dir.path());
        QCOMPARE(paths, (QList<QByteArray>{root + "/sub/plain.txt", root + "/two\nlines.txt"}));
        QVERIFY(RunFind({"--help"}).out.contains("-0, --null"));
    }

    void deepTreeUnderALowDescriptorLimit()
    {
        // A chain of 1,000 folders with a file in each. One descriptor held per level would
        // run out at the limit and lose everything below it, silently.
        const int levels = 1000;
        QTemporaryDir dir;
        int fd = open(EncodeFileName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(fd >= 0);
        for (int k = 0; k < levels; ++k) {
            const int file =
                openat(fd, QByteArray::number(k).constData(), O_CREAT | O_WRONLY, 0644);
            QVERIFY(file >= 0);
            close(file);
            QCOMPARE(mkdirat(fd, "d", 0755), 0);
            const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
            close(fd);
            QVERIFY(next >= 0);
            fd = next;
        }
        close(fd);

        const Result r = RunFind({dir.path()}, 40);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.count('\n'), levels);
        QVERIFY(r.out.contains(QByteArray("/d").repeated(levels - 1) + "/" +
                               QByteArray::number(levels - 1) + "\n"));
    }

    // A file whose content could not be tested is told on stderr (unless -s), and with
    // nothing found the exit status says an error occurred, as grep and rg do.
    void unsearchedFilesAndExitStatus_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("serverRunning"); // else its port is closed
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message"); // the one stderr line after "PATH: "
        const QString failed = "Extraction failed: HTTP 422 Unprocessable Entity";
        QTest::newRow("found, another failed")
            << QStringList{"-t", "needle"} << true << 0 << failed;
        QTest::newRow("found, another failed, -s")
            << QStringList{"-s", "-t", "needle"} << true << 0 << "";
        QTest::newRow("nothing found, one failed")
            << QStringList{"-t", "absent"} << true << 2 << failed;
        QTest::newRow("nothing found, server unreachable")
            << QStringList{"-t", "absent"} << false << 2 << "Extraction server unreachable: ";
        QTest::newRow("nothing found, one failed, --no-messages")
            << QStringList{"--no-messages", "-t", "absent"} << false << 2 << "";
        QTest::newRow("nothing found, nothing failed")
            << QStringList{"-t", "absent", "-n", "*.txt"} << true << 1 << "";
        QTest::newRow("no text: nothing tested") << QStringList{"-n", "*.pdf"} << false << 0 << "";
        QTest::newRow("-s also quiets a missing folder")
            << QStringList{"-s", "-n", "*.none", "/nonexistent-folder-of-delvora-test"} << true << 1
            << "";
    }
    void unsearchedFilesAndExitStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, serverRunning);
        QFETCH(int, code);
        QFETCH(QString, message);
        LoopbackHttpServer server;
        server.setAnswer("/tika", HttpAnswer::text("cannot parse", 422, "Unprocessable Entity"));
        qputenv("DELVORA_EXTRACTION_URL", server.baseUrl().toUtf8());
        const auto restore = qScopeGuard([] { qunsetenv("DELVORA_EXTRACTION_URL"); });
        if (!serverRunning)
            server.stop();
        testsupport::TemporaryDir dir;
        testsupport::writeFile(dir.path(), "a.txt", "a needle");
        const QString doc = testsupport::writeFile(dir.path(), "doc.pdf", "%PDF-1.7 bytes");

        const Result r = RunFind(QStringList{"--no-cache"} + args << dir.path());
        QCOMPARE(r.code, code);
        if (message.isEmpty()) {
            QCOMPARE(r.err, QByteArray());
        } else {
            const QByteArray head = "delvora-find: " + EncodeFileName(doc) + ": ";
            QVERIFY2(r.err.startsWith(head + message.toUtf8()), r.err.constData());
            QCOMPARE(r.err.count('\n'), 1);
            QVERIFY(r.err.endsWith('\n'));
        }
        QCOMPARE(r.lines(), code == 0 && !args.contains("*.pdf")
                                ? QStringList{dir.filePath("a.txt")}
                            : code == 0 ? QStringList{doc}
                                        : QStringList{});
    }

    // A folder that cannot be searched is told on stderr as a file is, and counts toward the
    // exit status 2; the search goes on with the rest.
    void foldersThatCannotBeSearched_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("root"); // "locked": the folder of mode 000; else the tree
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message"); // "": none
        const QString denied = "locked: Cannot open: Permission denied";
        QTest::newRow("subfolder") << QStringList{"-n", "*.none"} << "" << 2 << denied;
        QTest::newRow("root") << QStringList{"-n", "*.none"} << "locked" << 2 << denied;
        QTest::newRow("found beside it") << QStringList{"-n", "*.txt"} << "" << 0 << denied;
        QTest::newRow("-s") << QStringList{"-s", "-n", "*.none"} << "" << 2 << "";
        QTest::newRow("pseudo file system") << QStringList{"-n", "*.none"} << "/proc" << 2
                                            << "/proc: Not searched: a pseudo file system";
    }
    void foldersThatCannotBeSearched()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, root);
        QFETCH(int, code);
        QFETCH(QString, message);
        if (root == "/proc" && !QFile::exists("/proc/self/stat"))
            QSKIP("No /proc here");
        if (::geteuid() == 0 && !OtherUserCanRun())
            QSKIP("Root cannot run the program as another user here");
        testsupport::TemporaryDir dir;
        QCOMPARE(::chmod(EncodeFileName(dir.path()).constData(), 0755), 0);
        testsupport::writeFile(dir.path(), "ok.txt", "text");
        testsupport::writeFile(dir.path(), "locked/secret.txt", "text");
        const QString locked = dir.filePath("locked");
        QCOMPARE(::chmod(EncodeFileName(locked).constData(), 0), 0);
        const auto unlock = qScopeGuard([&] { ::chmod(EncodeFileName(locked).constData(), 0700); });

        const QString searched = root.isEmpty() ? dir.path() : root == "locked" ? locked : root;
        const Result r = RunFind(QStringList{"--no-cache"} + args << searched, 0, {}, true);
        QCOMPARE(r.code, code);
        if (message.isEmpty())
            QCOMPARE(r.err, QByteArray());
        else if (root == "/proc")
            QCOMPARE(r.err, "delvora-find: " + message.toUtf8() + '\n');
        else
            QCOMPARE(r.err,
                     "delvora-find: " + EncodeFileName(dir.path()) + '/' + message.toUtf8() + '\n');
        QCOMPARE(r.lines(), code == 0 ? QStringList{dir.filePath("ok.txt")} : QStringList{});
    }

    // A signal ends the program while it is held in an exchange with an extraction server that
    // never answers, and the exit code tells which signal (128 + its number).
    void signalEndsAHeldContentTest_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("code");
        QTest::newRow("SIGINT") << int(SIGINT) << 130;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
    }
    void signalEndsAHeldContentTest()
    {
        QFETCH(int, signal);
        QFETCH(int, code);
        LoopbackHttpServer server;
        HttpAnswer never = HttpAnswer::text("needle");
        never.delayBeforeMs = 600000;
        server.setAnswer("/tika", never);
        QTemporaryDir dir;
        testsupport::writeFile(dir.path(), "held.pdf", "%PDF-1.7 needle");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DELVORA_EXTRACTION_URL"), server.baseUrl());
        p.setProcessEnvironment(env);
        p.start(Program(), {"-t", "needle", dir.path()});
        QVERIFY(p.waitForStarted());
        // Provably busy: the file is with the server, which will not answer for ten minutes.
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, 20000);
        QElapsedTimer timer;
        timer.start();
        ::kill(static_cast<pid_t>(p.processId()), signal);
        QVERIFY(p.waitForFinished(20000));
        // Well before the 30 s read time-out that used to end it.
        QVERIFY2(timer.elapsed() < 15000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), code);
        QVERIFY(p.readAllStandardOutput().isEmpty());
    }

    // Whole days by the local clock, even on a day whose midnight a clock change skips, and
    // to the nanosecond at the end of the last day.
    void wholeDaysOfTheLocalClock()
    {
        testsupport::TemporaryDir dir;
        const QByteArray zone = "America/Santiago"; // 2022-09-11 starts at 01:00 -03
        auto make = [&](const char *name, const QDateTime &utc, long nanoseconds) {
            const QString path = testsupport::writeFile(dir.path(), name, "x");
            const timespec times[2] = {{utc.toSecsSinceEpoch(), nanoseconds},
                                       {utc.toSecsSinceEpoch(), nanoseconds}};
            QCOMPARE(utimensat(AT_FDCWD, EncodeFileName(path).constData(), times, 0), 0);
        };
        make("before.txt", QDateTime(QDate(2022, 9, 11), QTime(3, 59, 59), Qt::UTC), 999999999);
        make("first.txt", QDateTime(QDate(2022, 9, 11), QTime(4, 0), Qt::UTC), 0);
        make("last.txt", QDateTime(QDate(2022, 9, 12), QTime(2, 59, 59), Qt::UTC), 999500000);
        make("after.txt", QDateTime(QDate(2022, 9, 12), QTime(3, 0), Qt::UTC), 0);
        const Result r = RunFind({"--modified", "2022-09-11", "2022-09-11", dir.path()}, 0, zone);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.lines(), QStringList({dir.filePath("first.txt"), dir.filePath("last.txt")}));
    }

    // --no-cache: every run asks the server for the document's text, and no cache is made;
    // without it the first run makes the cache.
    void noCacheBypassesTheCache()
    {
        LoopbackHttpServer server;
        server.setAnswer("/tika", HttpAnswer::text("some document text"));
        QTemporaryDir dir, cacheHome;
        testsupport::writeFile(dir.path(), "doc.pdf", "%PDF-1.7 bytes");
        const QByteArray oldCacheHome = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome.path()));
        qputenv("DELVORA_EXTRACTION_URL", server.baseUrl().toUtf8());
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_CACHE_HOME", oldCacheHome);
            qunsetenv("DELVORA_EXTRACTION_URL");
        });
        const QString folder = cacheHome.filePath(QStringLiteral("delvora"));
        for (int run = 1; run <= 2; ++run) {
            const Result r = RunFind({"--no-cache", "-t", "document", dir.path()});
            QCOMPARE(r.code, 0);
            QCOMPARE(r.lines(), QStringList{dir.filePath("doc.pdf")});
            QCOMPARE(server.requestCount(), run);
            QVERIFY(!QFile::exists(folder));
        }
        // The cache keeps no text of a file changed in its last seconds: the document has to
        // be older than that first.
        std::this_thread::sleep_for(std::chrono::milliseconds(kDefaultTextCacheSettleMs + 100));
        const Result r = RunFind({"-t", "document", dir.path()});
        QCOMPARE(r.code, 0);
        QCOMPARE(server.requestCount(), 3);
        QVERIFY(QFile::exists(folder));
        // The text read past the match was written before the process ended: a search for
        // any word now asks the server nothing.
        QCOMPARE(RunFind({"-t", "SOME", dir.path()}).code, 0);
        QCOMPARE(RunFind({"-t", "absent", dir.path()}).code, 1);
        QCOMPARE(server.requestCount(), 3);
        QVERIFY(RunFind({"--help"}).out.contains("--no-cache"));
    }

    // The contents are tested several at once, yet the output is what a one-by-one run
    // writes: the files that hold the text, in the order of the walk (as listed without a
    // text). Documents go to the server; the tree has more files than the look-ahead holds.
    void contentResultsComeInTheWalksOrder()
    {
        LoopbackHttpServer server;
        server.setHandler(
            [](const testsupport::HttpRequestRecord &r) { return HttpAnswer::text(r.body); });
        qputenv("DELVORA_EXTRACTION_URL", server.baseUrl().toUtf8());
        const auto restore = qScopeGuard([] { qunsetenv("DELVORA_EXTRACTION_URL"); });
        testsupport::TemporaryDir dir;
        QSet<QString> holding;
        for (int f = 0; f < 6; ++f) {
            for (int i = 0; i < 120; ++i) {
                const bool has = (i * 7 + f) % 5 == 0;
                const bool pdf = i % 9 == 4;
                const QString path = testsupport::writeFile(
                    dir.path(),
                    QStringLiteral("d%1/s/f%2.%3").arg(f).arg(i).arg(pdf ? "pdf" : "txt"),
                    QByteArray(pdf ? "%PDF-1.7 " : "") + (has ? "a Needle" : "hay"));
                if (has)
                    holding.insert(path);
            }
        }
        const Result all = RunFind({dir.path()});
        QCOMPARE(all.code, 0);
        QCOMPARE(server.requestCount(), 0);
        QStringList expected;
        for (const QString &path : all.linesInOrder())
            if (holding.contains(path))
                expected << path;
        QCOMPARE(expected.size(), holding.size());
        const Result found = RunFind({"--no-cache", "-t", "needle", dir.path()});
        QCOMPARE(found.code, 0);
        QCOMPARE(found.linesInOrder(), expected);
        QVERIFY(server.requestCount() > 0);
    }

    void interruptEndsCleanly()
    {
        // The program is held for certain: its results go to a pipe nobody reads, and there
        // are more of them than the pipe holds, so it cannot end before the signal.
        testsupport::TemporaryDir dir;
        const QString stem(120, QLatin1Char('n'));
        for (int i = 0; i < 1500; ++i)
            testsupport::writeFile(dir.path(), QStringLiteral("%1%2.txt").arg(stem).arg(i), "x");
        int out[2];
        QCOMPARE(pipe2(out, O_CLOEXEC), 0);
        const int capacity = fcntl(out[0], F_GETPIPE_SZ);
        QVERIFY(capacity > 0 && capacity < 1500 * (dir.path().size() + 120));
        const QByteArray program = EncodeFileName(Program());
        const QByteArray folder = EncodeFileName(dir.path());
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDERR_FILENO);
            execl(program.constData(), program.constData(), folder.constData(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        QVERIFY(pid > 0);
        close(out[1]);
        // Ends the child should the test fail half-way.
        struct Reaper
        {
            pid_t pid;
            ~Reaper()
            {
                if (waitpid(pid, nullptr, WNOHANG) == 0) {
                    ::kill(pid, SIGKILL);
                    waitpid(pid, nullptr, 0);
                }
            }
        } reaper{pid};
        // The first results show that the search (and its signal handling) has begun.
        int queued = 0;
        QTRY_VERIFY_WITH_TIMEOUT(ioctl(out[0], FIONREAD, &queued) == 0 && queued > 0, 20000);
        int status = 0;
        QCOMPARE(waitpid(pid, &status, WNOHANG), pid_t(0));
        ::kill(pid, SIGINT);
        close(out[0]); // as Ctrl+C also ends the reader of the pipe
        // The macro tests its condition once more after the wait: reap only once.
        bool ended = false;
        auto reap = [&] { return ended = ended || waitpid(pid, &status, WNOHANG) == pid; };
        QTRY_VERIFY_WITH_TIMEOUT(reap(), 20000);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 130);
    }
};

QTEST_GUILESS_MAIN(TestDelvoraFind)
#include "tst_delvorafind.moc"
