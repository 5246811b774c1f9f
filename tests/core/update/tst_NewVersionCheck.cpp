#include "core/i18n/Translation.h"
#include "core/update/NewVersionCheck.h"
#include "core/update/VersionDocuments.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace dv;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

const QByteArray kVersionPath = "/download/version/delvora-version.html";
const QByteArray kChangesPath = "/download/version/delvora-changes.html";

} // namespace

class NewVersionCheckTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    void serve(LoopbackHttpServer &server, const QByteArray &version, const QByteArray &changes)
    {
        server.setAnswer(kVersionPath, HttpAnswer::text(version));
        server.setAnswer(kChangesPath, HttpAnswer::text(changes));
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QDir(m_dir.path()).filePath("config").toLocal8Bit());
        QCOMPARE(RunningVersionNumber(), 24);
        QVERIFY(!CloseEndsProgram());
        QVERIFY(NewVersionMessage().isEmpty());
    }

    void init()
    {
        SetCloseEndsProgram(false);
        SetTranslationFilePath(QDir(m_dir.path()).filePath("none"));
        LoadTranslations(); // English
    }

    void versionLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("latest");
        QTest::addColumn<int>("oldest");
        QTest::addColumn<QString>("display");
        QTest::newRow("25/20") << "25/20" << true << 25 << 20 << "2.5";
        QTest::newRow("210/0") << "210/0" << true << 210 << 0 << "21.0";
        QTest::newRow("7/1") << "7/1" << true << 7 << 1 << ".7";
        QTest::newRow("second slash") << "25/20/1" << false << 0 << 0 << "";
        QTest::newRow("spaces") << "25 / 20" << false << 0 << 0 << "";
        QTest::newRow("trailing space") << "25/20 " << false << 0 << 0 << "";
        QTest::newRow("no slash") << "25" << false << 0 << 0 << "";
        QTest::newRow("empty latest") << "/20" << false << 0 << 0 << "";
        QTest::newRow("empty oldest") << "25/" << false << 0 << 0 << "";
        QTest::newRow("letters") << "2.5/2.0" << false << 0 << 0 << "";
        QTest::newRow("too large") << "2147483648/1" << false << 0 << 0 << "";
        QTest::newRow("html") << "<html>" << false << 0 << 0 << "";
    }
    void versionLines()
    {
        QFETCH(QString, line);
        QFETCH(bool, valid);
        const auto parsed = ParseVersionLine(line);
        QCOMPARE(parsed.has_value(), valid);
        if (valid) {
            QTEST(parsed->latest, "latest");
            QTEST(parsed->oldest, "oldest");
            QTEST(parsed->displayVersion, "display");
        }
    }

    void check_data()
    {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<QByteArray>("changes");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("mandatory");
        QTest::addColumn<QString>("message");

        const QString optional = "The new version 2.5 is available\r\n\r\nWhat's new:\r\n";
        QTest::newRow("newer") << QByteArray("25/24\n") << QByteArray("Faster search\n\n  \nFixes")
                               << true << false << optional + "Faster search\r\n  \r\nFixes\r\n";
        QTest::newRow("no changes")
            << QByteArray("25/20") << QByteArray() << true << false << optional;
        QTest::newRow("BOM and CRLF")
            << QByteArray("\xEF\xBB\xBF"
                          "25/20\r\nignored\r\n")
            << QByteArray("\r\n\r\nA\r\n") << true << false << optional + "A\r\n";
        QTest::newRow("mandatory")
            << QByteArray("25/25") << QByteArray("B") << true << true
            << "This version of the software is out of date. You must download the current "
               "version 2.5 to continue using the software.\r\n\r\nWhat's new:\r\nB\r\n";
        // Latest below oldest would demand the running version itself: a broken document.
        QTest::newRow("latest below oldest")
            << QByteArray("24/25") << QByteArray("x") << false << false << "";
        QTest::newRow("latest below oldest, both newer")
            << QByteArray("26/27") << QByteArray("x") << false << false << "";
        QTest::newRow("latest equals oldest")
            << QByteArray("26/26") << QByteArray() << true << true
            << "This version of the software is out of date. You must download the current "
               "version 2.6 to continue using the software.\r\n\r\nWhat's new:\r\n";
        QTest::newRow("same") << QByteArray("24/20") << QByteArray("x") << false << false << "";
        QTest::newRow("older") << QByteArray("23/20") << QByteArray("x") << false << false << "";
        QTest::newRow("spaces") << QByteArray("25 / 20") << QByteArray("x") << false << false << "";
        QTest::newRow("empty document") << QByteArray() << QByteArray("x") << false << false << "";
        QTest::newRow("empty first line")
            << QByteArray("\n25/20") << QByteArray("x") << false << false << "";
    }
    void check()
    {
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, changes);
        QFETCH(bool, shown);
        QFETCH(bool, mandatory);
        QFETCH(QString, message);

        LoopbackHttpServer server;
        serve(server, version, changes);
        const QString before = NewVersionMessage();
        QCOMPARE(CheckForNewVersion(server.baseUrl()), shown);
        QCOMPARE(CloseEndsProgram(), mandatory);
        QCOMPARE(NewVersionMessage(), shown ? message : before);

        // Both documents are asked for, in order, whatever the first one says.
        const auto requests = server.requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].path, kVersionPath);
        QCOMPARE(requests[1].path, kChangesPath);
        for (const auto &r : requests) {
            QCOMPARE(r.method, QByteArray("GET"));
            QCOMPARE(r.header("User-Agent"), QByteArray("Mozilla/4.0 (compatible; MyApp)"));
        }
    }

    void messageIsTranslated()
    {
        SetTranslationFilePath(
            testsupport::writeFile(m_dir.path(), "transl.dt",
                                   "2\nEnglish\nDeutsch\nen\nde\nThe new version %s is available\n"
                                   "Die neue Version %s ist da\nWhat's new:\nNeu:\n"));
        LoadTranslations();
        SetCurrentLanguage(1);
        LoopbackHttpServer server;
        serve(server, "31/20", "Eins");
        QVERIFY(CheckForNewVersion(server.baseUrl()));
        QCOMPARE(NewVersionMessage(),
                 QStringLiteral("Die neue Version 3.1 ist da\r\n\r\nNeu:\r\nEins\r\n"));
    }

    void serverFailures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("version missing") << "version 404";
        QTest::newRow("changes missing") << "changes 404";
        QTest::newRow("server error") << "version 500";
        QTest::newRow("not modified") << "version 304";
        QTest::newRow("no content") << "version 204";
        QTest::newRow("10 redirects") << "redirects 10";
        QTest::newRow("11 redirects") << "redirects 11";
        QTest::newRow("no server") << "down";
    }
    void serverFailures()
    {
        QFETCH(QString, failure);
        LoopbackHttpServer server;
        serve(server, "26/20", "news");
        const QStringList f = failure.split(' ');
        bool expected = false;
        if (f[0] == "version" || f[0] == "changes") {
            const int status = f[1].toInt();
            const QByteArray path = f[0] == "version" ? kVersionPath : kChangesPath;
            server.setAnswer(path, HttpAnswer::text(status == 204 ? "" : "x", status, "Status"));
        } else if (f[0] == "redirects") {
            const int hops = f[1].toInt();
            for (int i = 0; i < hops; ++i) {
                const QByteArray from = i == 0 ? kVersionPath : "/hop" + QByteArray::number(i);
                const QByteArray to = i + 1 == hops ? "/final" : "/hop" + QByteArray::number(i + 1);
                server.setAnswer(from, HttpAnswer::redirect(to, i % 2 ? 301 : 302));
            }
            server.setAnswer("/final", HttpAnswer::text("26/20"));
            expected = hops <= 10;
        } else {
            server.stop();
        }
        SetCloseEndsProgram(false);
        QCOMPARE(CheckForNewVersion(server.baseUrl()), expected);
        QVERIFY(!CloseEndsProgram());
    }

    // The whole check has one deadline of 5 s, from its start to its answer: no server keeps
    // the start waiting longer, whether it stalls, trickles or is slow with each document.
    void deadline_data()
    {
        QTest::addColumn<int>("stalledDocument"); // 0 version, 1 changes
        QTest::addColumn<int>("delayBeforeMs");
        QTest::addColumn<int>("msPerByte"); // the body's pace, one byte at a time; 0 all at once
        QTest::addColumn<int>("otherDelayBeforeMs");
        QTest::newRow("version never answers") << 0 << 60000 << 0 << 0;
        QTest::newRow("version trickles") << 0 << 0 << 1000 << 0;
        QTest::newRow("changes trickle") << 1 << 0 << 1000 << 0;
        QTest::newRow("each document slow, together too slow") << 1 << 3000 << 0 << 3000;
    }
    void deadline()
    {
        QFETCH(int, stalledDocument);
        QFETCH(int, delayBeforeMs);
        QFETCH(int, msPerByte);
        QFETCH(int, otherDelayBeforeMs);
        LoopbackHttpServer server;
        HttpAnswer stalled = HttpAnswer::text("27/20\n" + QByteArray(40, 'x'));
        stalled.delayBeforeMs = delayBeforeMs;
        if (msPerByte > 0) {
            stalled.chunked = true;
            stalled.pieceSize = 1;
            stalled.delayBetweenPiecesMs = msPerByte;
        }
        HttpAnswer other = HttpAnswer::text(stalledDocument == 0 ? "news" : "27/20\n");
        other.delayBeforeMs = otherDelayBeforeMs;
        server.setAnswer(kVersionPath, stalledDocument == 0 ? stalled : other);
        server.setAnswer(kChangesPath, stalledDocument == 0 ? other : stalled);
        const QString before = NewVersionMessage();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!CheckForNewVersion(server.baseUrl()));
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= 4900 && elapsed < 9000, qPrintable(QString::number(elapsed)));
        QVERIFY(!CloseEndsProgram());
        QCOMPARE(NewVersionMessage(), before);
    }

    // A slow server within the deadline is waited for; a stalled one is given up at it.
    void slowAnswers()
    {
        LoopbackHttpServer server;
        HttpAnswer slow = HttpAnswer::text("27/20\n");
        slow.delayBeforeMs = 1500;
        server.setAnswer(kVersionPath, slow);
        HttpAnswer trickle = HttpAnswer::text("line one\nline two\n");
        trickle.chunked = true;
        trickle.pieceSize = 4;
        trickle.delayBetweenPiecesMs = 200;
        server.setAnswer(kChangesPath, trickle);
        QVERIFY(CheckForNewVersion(server.baseUrl()));
        QVERIFY(NewVersionMessage().endsWith("line one\r\nline two\r\n"));

        HttpAnswer stalled = HttpAnswer::text("27/20\n");
        stalled.delayBeforeMs = 60000;
        server.setAnswer(kVersionPath, stalled);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!CheckForNewVersion(server.baseUrl()));
        QVERIFY(timer.elapsed() >= 4900);
        QVERIFY(timer.elapsed() < 40000);
    }

    void oversizedDocumentIsRefused()
    {
        LoopbackHttpServer server;
        serve(server, "27/20\n" + QByteArray(3 * 1024 * 1024, 'x'), "news");
        QVERIFY(!CheckForNewVersion(server.baseUrl()));
        // A document that never ends is not read to its end either, whichever it is.
        HttpAnswer endless = HttpAnswer::text("27/20\n");
        endless.chunked = true;
        endless.endlessTail = QByteArray(65536, 'x');
        for (const QByteArray &path : {kVersionPath, kChangesPath}) {
            serve(server, "27/20\n", "news");
            server.setAnswer(path, endless);
            QVERIFY2(!CheckForNewVersion(server.baseUrl()), path.constData());
        }
    }

    void serverAddressFromTheEnvironment()
    {
        LoopbackHttpServer server;
        serve(server, "28/20", "");
        qputenv("DELVORA_UPDATE_URL", server.baseUrl().toUtf8()); // no slash at the end
        QCOMPARE(UpdateBaseUrl(), server.baseUrl());
        QVERIFY(CheckForNewVersion());
        QVERIFY(NewVersionMessage().contains("2.8"));
        qunsetenv("DELVORA_UPDATE_URL");
        // Back to the built-in address, whichever the build chose.
        QVERIFY(UpdateBaseUrl().startsWith("http"));
        QVERIFY(UpdateBaseUrl() != server.baseUrl());
    }
};

QTEST_GUILESS_MAIN(NewVersionCheckTest)
#include "tst_NewVersionCheck.moc"
