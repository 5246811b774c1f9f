#include "core/i18n/Translation.h"
#include "core/update/InstallerDownload.h"
#include "core/update/NewVersionCheck.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace dv;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

const QByteArray kInstallerPath = "/download/delvora.exe";

QByteArray payload(int size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = char(i * 7 + i / 251);
    return b;
}

} // namespace

class InstallerDownloadTest : public QObject
{
    Q_OBJECT

    QTemporaryDir fDir;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QDir(fDir.path()).filePath("config").toLocal8Bit());
        qputenv("XDG_CACHE_HOME", QDir(fDir.path()).filePath("cache").toLocal8Bit());
        SetTranslationFilePath(testsupport::writeFile(
            fDir.path(), "transl.dt",
            "2\nEnglish\nDeutsch\nen\nde\nDownload is cancelled. Please download manually.\n"
            "Download abgebrochen.\n"));
        LoadTranslations();
    }

    void downloads_data()
    {
        QTest::addColumn<int>("framing"); // 0 length, 1 chunked, 2 ends with the connection
        QTest::newRow("content length") << 0;
        QTest::newRow("chunked") << 1;
        QTest::newRow("until close") << 2;
    }
    void downloads()
    {
        QFETCH(int, framing);
        const QByteArray body = payload(300000);
        LoopbackHttpServer server;
        HttpAnswer answer = HttpAnswer::text(body);
        answer.chunked = framing == 1;
        answer.contentLength = framing == 0;
        answer.pieceSize = 65536;
        answer.delayBetweenPiecesMs = 20;
        server.setAnswer(kInstallerPath, answer);

        InstallerDownload download(server.url(kInstallerPath));
        QList<QPair<qint64, qint64>> reports;
        const QString path = download.Run([&](qint64 received, qint64 total) {
            reports.append({received, total});
        });

        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("brn_update.exe"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), body);

        // A fresh folder of our own, in the user's cache, that nobody else can write.
        const QFileInfo folder(QFileInfo(path).absolutePath());
        QCOMPARE(folder.dir().absolutePath(), QDir(fDir.path()).filePath("cache/Delvora"));
        QCOMPARE(int(folder.permissions() & 0x0FFF &
                     ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser | QFile::ReadOwner |
                       QFile::WriteOwner | QFile::ExeOwner)),
                 0);

        QVERIFY(!reports.isEmpty());
        // The length is known once the headers are in, and only when one was announced.
        qint64 last = 0;
        bool lengthSeen = false;
        for (const auto &[received, total] : reports) {
            QVERIFY(received >= last);
            last = received;
            if (total != -1)
                QCOMPARE(total, qint64(body.size()));
            lengthSeen = lengthSeen || total != -1;
        }
        QCOMPARE(lengthSeen, framing == 0);
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(server.requests().first().header("User-Agent"),
                 QByteArray("Mozilla/4.0 (compatible; MyApp)"));
    }

    void everyDownloadGetsItsOwnFolder()
    {
        LoopbackHttpServer server;
        server.setAnswer(kInstallerPath, HttpAnswer::text("one"));
        const QString first = InstallerDownload(server.url(kInstallerPath)).Run();
        server.setAnswer(kInstallerPath, HttpAnswer::text("two"));
        const QString second = InstallerDownload(server.url(kInstallerPath)).Run();
        QVERIFY(QFileInfo(first).absolutePath() != QFileInfo(second).absolutePath());
        QFile f(second);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("two"));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("redirect") << "redirect"
                                  << "HTTP 302 Found";
        QTest::newRow("not found") << "404"
                                   << "HTTP 404 Not Found";
        QTest::newRow("no server") << "down"
                                   << "";
        QTest::newRow("cut short") << "cut"
                                   << "";
    }
    void failures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        LoopbackHttpServer server;
        server.setAnswer("/elsewhere", HttpAnswer::text("installer"));
        if (kind == "redirect") {
            server.setAnswer(kInstallerPath, HttpAnswer::redirect("/elsewhere"));
        } else if (kind == "404") {
            server.setAnswer(kInstallerPath, HttpAnswer::text("gone", 404, "Not Found"));
        } else if (kind == "cut") {
            HttpAnswer a = HttpAnswer::text(payload(100000));
            a.closeAfterBodyBytes = 5000;
            server.setAnswer(kInstallerPath, a);
        }
        const QString url = server.url(kInstallerPath);
        if (kind == "down")
            server.stop();
        try {
            InstallerDownload(url).Run();
            QFAIL("the download succeeded");
        } catch (const InstallerDownloadError &e) {
            if (!message.isEmpty())
                QCOMPARE(e.Message(), message);
            QVERIFY(!e.Message().isEmpty());
        }
        // Redirects are never followed.
        for (const auto &r : server.requests())
            QCOMPARE(r.path, kInstallerPath);
    }

    void cancelTakesEffectAtTheNextReport()
    {
        SetCurrentLanguage(1);
        LoopbackHttpServer server;
        HttpAnswer slow = HttpAnswer::text(payload(40 * 4096));
        slow.pieceSize = 4096;
        slow.delayBetweenPiecesMs = 100;
        server.setAnswer(kInstallerPath, slow);

        InstallerDownload download(server.url(kInstallerPath));
        qint64 lastSeen = 0;
        int reportsAfterCancel = 0;
        try {
            download.Run([&](qint64 received, qint64) {
                if (download.CancelRequested())
                    ++reportsAfterCancel;
                lastSeen = received;
                if (received > 0)
                    download.RequestCancel(); // the dialog's "Abort"
            });
            QFAIL("the download was not cancelled");
        } catch (const InstallerDownloadError &e) {
            QCOMPARE(e.Message(), QStringLiteral("Download abgebrochen."));
        }
        QCOMPARE(reportsAfterCancel, 0);
        QVERIFY(lastSeen < 40 * 4096);
        SetCurrentLanguage(0);
    }

    void defaultAddress()
    {
        qputenv("DELVORA_UPDATE_URL", "http://127.0.0.1:9/base/");
        QCOMPARE(InstallerDownload::DefaultUrl(),
                 QStringLiteral("http://127.0.0.1:9/base/download/delvora.exe"));
        qunsetenv("DELVORA_UPDATE_URL");
    }
};

QTEST_GUILESS_MAIN(InstallerDownloadTest)
#include "tst_InstallerDownload.moc"
