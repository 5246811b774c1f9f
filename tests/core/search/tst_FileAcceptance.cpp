// The verdict on a candidate: accepted or not, and for a file whose content could not be
// tested, why (real files, real HTTP over loopback).
#include "core/search/CachedExtraction.h"
#include "core/search/ContentMatcher.h"
#include "core/search/ExtractionClient.h"
#include "core/search/FileAcceptance.h"
#include "core/search/TextExtraction.h"
#include "core/search/UnsearchedFiles.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace dv;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

// Restores the process-wide switches whatever a test does.
struct Switches
{
    explicit Switches(bool scan) { ScanUnrecognizedFormats = scan; }
    ~Switches()
    {
        ScanUnrecognizedFormats = false;
        ContentTestCancelled = false;
        SetExtractionReadTimeout(0);
    }
};

// How the server answers the row's document.
enum Answer
{
    Text,        // the document text "plain words of a document"
    Status422,   // 422 Unprocessable Entity
    EmptyOk,     // 200 with no text: a type the server does not know
    Held,        // nothing for 10 s, against a read time-out of 300 ms
    Endless,     // text that never ends, the text to find only at its very start
    Unreachable, // nobody listens at the endpoint
};

} // namespace

Q_DECLARE_METATYPE(dv::ContentTestFailure)

class TestFileAcceptance : public QObject
{
    Q_OBJECT

    testsupport::TemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        return testsupport::writeFile(m_dir.path(), name, bytes);
    }

private slots:
    void initTestCase()
    {
        testsupport::useTemporaryCacheHome();
        SetTextCacheEnabled(false); // every row asks the server itself
    }

    void cleanupTestCase() { SetExtractionServerEndpoint(QString()); }

    void verdictForEachOutcome_data()
    {
        QTest::addColumn<QString>("file"); // a fixture made by the test body
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("scan");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<ContentTestFailure>("failure");
        QTest::addColumn<QString>("reason"); // a part of the reason
        using F = ContentTestFailure;
        // Tested: a verdict either way, no failure.
        QTest::newRow("text file holds it")
            << "a.txt" << 0 << false << "NEEDLE" << true << F::None << "";
        QTest::newRow("text file lacks it")
            << "a.txt" << 0 << false << "absent" << false << F::None << "";
        QTest::newRow("document holds it")
            << "doc.pdf" << int(Text) << false << "WORDS" << true << F::None << "";
        QTest::newRow("document lacks it")
            << "doc.pdf" << int(Text) << false << "absent" << false << F::None << "";
        QTest::newRow("type the server does not know")
            << "doc.pdf" << int(EmptyOk) << false << "words" << false << F::None << "";
        QTest::newRow("skipped extension, never opened")
            << "gone.mp4" << 0 << true << "x" << false << F::None << "";
        QTest::newRow("no text, never opened")
            << "gone.txt" << 0 << false << "" << true << F::None << "";
        // Could not be opened: the system's text.
        QTest::newRow("vanished file") << "gone.txt" << 0 << false << "x" << false << F::CannotOpen
                                       << "Cannot open: No such file or directory";
        QTest::newRow("vanished document") << "gone.pdf" << int(Text) << false << "x" << false
                                           << F::CannotOpen << "No such file or directory";
        QTest::newRow("folder") << "folder.txt" << 0 << false << "x" << false << F::CannotOpen
                                << "Cannot open: Is a directory";
        QTest::newRow("FIFO") << "fifo.pdf" << int(Text) << false << "x" << false << F::CannotOpen
                              << "Cannot open: not a regular file";
        QTest::newRow("no read permission") << "locked.txt" << 0 << false << "x" << false
                                            << F::CannotOpen << "Cannot open: Permission denied";
        // The server could not give the text.
        QTest::newRow("server 422")
            << "doc.pdf" << int(Status422) << false << "words" << false << F::ExtractionFailed
            << "Extraction failed: HTTP 422 Unprocessable Entity";
        QTest::newRow("server unreachable")
            << "doc.pdf" << int(Unreachable) << false << "words" << false << F::ServerUnreachable
            << "Extraction server unreachable: http://127.0.0.1:";
        QTest::newRow("server time-out")
            << "doc.pdf" << int(Held) << false << "words" << false << F::TimedOut
            << "Extraction server sent nothing for 0.3 s";
        // The raw scan finds what the server could not give: no failure left to tell.
        QTest::newRow("server unreachable, raw bytes hold it")
            << "doc.pdf" << int(Unreachable) << true << "PLAIN" << true << F::None << "";
        QTest::newRow("server 422, raw bytes lack it")
            << "doc.pdf" << int(Status422) << true << "absent" << false << F::ExtractionFailed
            << "HTTP 422";
        // Over a limit: an occurrence within the bound counts; past it the file is told.
        QTest::newRow("text file past 2 MiB, found in the head")
            << "big.txt" << 0 << false << "head" << true << F::None << "";
        QTest::newRow("text file past 2 MiB, only beyond")
            << "big.txt" << 0 << false << "tail" << false << F::OverLimit
            << "Only the first 2 MiB were searched";
        QTest::newRow("text file past 2 MiB, raw scan reads on")
            << "big.txt" << 0 << true << "tail" << true << F::None << "";
        QTest::newRow("binary file past 2 MiB: no text to search beyond")
            << "big.log" << 0 << false << "tail" << false << F::None << "";
        QTest::newRow("text file past 2 MiB, raw scan lacks it too")
            << "big.txt" << 0 << true << "absent" << false << F::None << "";
        QTest::newRow("server text without end, found at its start")
            << "doc.pdf" << int(Endless) << false << "start" << true << F::None << "";
        QTest::newRow("server text without end, lacking it")
            << "doc.pdf" << int(Endless) << false << "absent" << false << F::OverLimit
            << "Text longer than 16 Mi characters; only its start was searched";
        // Stopped by the user: not a file to tell about.
        QTest::newRow("cancelled")
            << "doc.pdf" << int(Held) << false << "words" << false << F::Cancelled << "";
    }

    void verdictForEachOutcome()
    {
        QFETCH(QString, file);
        QFETCH(int, answer);
        QFETCH(bool, scan);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(ContentTestFailure, failure);
        QFETCH(QString, reason);

        Switches switches(scan);
        LoopbackHttpServer server;
        HttpAnswer reply = HttpAnswer::text("plain words of a document");
        if (answer == Status422) {
            reply = HttpAnswer::text("cannot parse", 422, "Unprocessable Entity");
        } else if (answer == EmptyOk) {
            reply = HttpAnswer::text("");
        } else if (answer == Held) {
            reply.delayBeforeMs = 10000;
            SetExtractionReadTimeout(300);
        } else if (answer == Endless) {
            reply = HttpAnswer::text("start ");
            reply.contentLength = false;
            reply.endlessTail = QByteArray(65536, 'z');
        }
        server.setAnswer("/tika", reply);
        SetExtractionServerEndpoint(server.baseUrl());
        if (answer == Unreachable)
            server.stop(); // the port is closed: nobody answers there

        QString path = m_dir.filePath(file);
        if (file == "a.txt" || file == "doc.pdf") {
            write(file, "%PDF-1.7 plain needle bytes");
        } else if (file == "folder.txt") {
            QVERIFY(QDir(m_dir.path()).mkpath(file));
        } else if (file == "fifo.pdf") {
            QFile::remove(path);
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (file == "locked.txt") {
            // A root process opens every file whatever its mode: the other rows cover the
            // path through the system's text.
            if (::geteuid() == 0)
                QSKIP("running as root: a mode of 000 does not stop the open");
            write(file, "x");
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0), 0);
        } else if (file == "big.log") {
            QByteArray bytes(kDefaultExtractionLimit, '\0');
            bytes += " tail";
            write(file, bytes);
        } else if (file == "big.txt") {
            QByteArray bytes = "head ";
            bytes += QByteArray(kDefaultExtractionLimit, 'y');
            bytes += " tail";
            write(file, bytes);
        }
        if (failure == ContentTestFailure::Cancelled)
            ContentTestCancelled = true;

        const CandidateVerdict verdict = JudgeCandidateFile(path, text);
        QCOMPARE(verdict.Accepted, accepted);
        QCOMPARE(int(verdict.Failure), int(failure));
        QVERIFY2(verdict.Reason.contains(reason), qPrintable(verdict.Reason));
        QCOMPARE(verdict.CouldNotBeSearched(),
                 failure != ContentTestFailure::None && failure != ContentTestFailure::Cancelled);
        if (file.endsWith(".mp4") || text.isEmpty() || file == "fifo.pdf")
            QCOMPARE(server.requestCount(), 0);
        // The content test alone answers the same.
        if (!text.isEmpty() && !file.endsWith(".mp4")) {
            const ContentTestResult result = TestFileContent(path, text);
            QCOMPARE(result.Found, accepted);
            QCOMPARE(int(result.Error.Failure), int(failure));
        }
    }

    void unsearchedFilesKeepsWhatCouldNotBeSearched()
    {
        UnsearchedFiles list;
        QVERIFY(!list.note("/t/a.txt", CandidateVerdict{true, ContentTestFailure::None, {}}));
        QVERIFY(!list.note("/t/b.pdf",
                           CandidateVerdict{false, ContentTestFailure::Cancelled, "cancelled"}));
        QVERIFY(
            list.note("/t/c.pdf", CandidateVerdict{false, ContentTestFailure::TimedOut, "held"}));
        QVERIFY(list.note("/t/d.txt",
                          CandidateVerdict{false, ContentTestFailure::CannotOpen, "denied"}));
        QCOMPARE(list.count(), 2);
        const QList<UnsearchedFiles::Entry> entries = list.entries();
        QCOMPARE(entries[0].Path, QStringLiteral("/t/c.pdf"));
        QCOMPARE(int(entries[0].Failure), int(ContentTestFailure::TimedOut));
        QCOMPARE(entries[1].Reason, QStringLiteral("denied"));

        // Tested again: one entry per path, with the latest reason, in its first place; a
        // cancelled test changes nothing, a successful one drops it.
        QVERIFY(list.note("/t/c.pdf",
                          CandidateVerdict{false, ContentTestFailure::ExtractionFailed, "422"}));
        QVERIFY(!list.note("/t/d.txt",
                           CandidateVerdict{false, ContentTestFailure::Cancelled, "cancelled"}));
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.entries()[0].Reason, QStringLiteral("422"));
        QCOMPARE(int(list.entries()[0].Failure), int(ContentTestFailure::ExtractionFailed));
        QVERIFY(!list.note("/t/c.pdf", CandidateVerdict{false, ContentTestFailure::None, {}}));
        QCOMPARE(list.count(), 1);
        QCOMPARE(list.entries()[0].Path, QStringLiteral("/t/d.txt"));

        // Gone: the path and everything below it, not a path that only begins the same.
        QVERIFY(list.note("/t/sub/e.pdf",
                          CandidateVerdict{false, ContentTestFailure::TimedOut, "held"}));
        QVERIFY(list.note("/t/subway.pdf",
                          CandidateVerdict{false, ContentTestFailure::TimedOut, "held"}));
        list.forget("/t/sub");
        list.forget("/t/d.txt");
        QCOMPARE(list.count(), 1);
        QCOMPARE(list.entries()[0].Path, QStringLiteral("/t/subway.pdf"));
        QVERIFY(list.note("/t/d.txt",
                          CandidateVerdict{false, ContentTestFailure::CannotOpen, "denied"}));
        QCOMPARE(list.entries()[1].Path, QStringLiteral("/t/d.txt"));
        list.clear();
        QVERIFY(list.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFileAcceptance)
#include "tst_FileAcceptance.moc"
