#include "core/i18n/Translation.h"
#include "core/update/InstallerDownload.h"
#include "core/update/InstallerFolder.h"
#include "core/update/NewVersionCheck.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace dv;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

const QByteArray kInstallerPath = "/download/delvora.deb";

// A Debian package as far as anyone looks before installing it: an ar archive whose first
// member is "debian-binary", followed by Size bytes of other members.
QByteArray debPackage(int size)
{
    QByteArray b = "!<arch>\n";
    b += QByteArray("debian-binary").leftJustified(16, ' ');
    b += QByteArray("0").leftJustified(12, ' ') + QByteArray("0").leftJustified(6, ' ') +
         QByteArray("0").leftJustified(6, ' ') + QByteArray("100644").leftJustified(8, ' ') +
         QByteArray("4").leftJustified(10, ' ') + "`\n2.0\n";
    for (int i = 0; i < size; ++i)
        b += char(i * 7 + i / 251);
    return b;
}

int modeOf(const QString &path)
{
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

QString runExpectingFailure(InstallerDownload &download)
{
    try {
        download.Run();
    } catch (const InstallerDownloadError &e) {
        return e.Message();
    }
    return QStringLiteral("<the download succeeded>");
}

} // namespace

class InstallerDownloadTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString cacheDir() const { return QDir(m_dir.path()).filePath("cache"); }
    QString appDir() const { return QDir(m_dir.path()).filePath("cache/Delvora"); }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QDir(m_dir.path()).filePath("config").toLocal8Bit());
        qputenv("XDG_CACHE_HOME", cacheDir().toLocal8Bit());
        SetTranslationFilePath(testsupport::writeFile(
            m_dir.path(), "transl.dt",
            "2\nEnglish\nDeutsch\nen\nde\nDownload is cancelled. Please download manually.\n"
            "Download abgebrochen.\n"
            "No data arrived for %d seconds.\nKeine Daten seit %d Sekunden.\n"));
        LoadTranslations();
    }

    void init()
    {
        // Every case starts without the app folder; some cases replace it by something else.
        QFile::remove(appDir());
        QDir(appDir()).removeRecursively();
        QDir(cacheDir()).mkpath(".");
        QFile::setPermissions(cacheDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
        const QByteArray body = debPackage(300000);
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

        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("delvora.deb"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), body);

        // A fresh folder of our own in the user's cache; nobody else can read or change
        // anything on the way.
        const QString folder = QFileInfo(path).absolutePath();
        QCOMPARE(QFileInfo(folder).dir().absolutePath(), appDir());
        QCOMPARE(modeOf(appDir()), 0700);
        QCOMPARE(modeOf(folder), 0700);
        QCOMPARE(modeOf(path), 0600);

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

    void earlierDownloadFoldersAreRemoved()
    {
        LoopbackHttpServer server;
        server.setAnswer(kInstallerPath, HttpAnswer::text(debPackage(10)));
        const QString first = InstallerDownload(server.url(kInstallerPath)).Run();
        // Something placed beside our folders, and a link that looks like one of them: the
        // link goes, never what it points to.
        const QString outside = testsupport::writeFile(m_dir.path(), "outside/keep.txt", "keep");
        QVERIFY(
            QFile::link(QFileInfo(outside).absolutePath(), QDir(appDir()).filePath("update-link")));
        testsupport::writeFile(appDir(), "notes.txt", "mine");

        server.setAnswer(kInstallerPath, HttpAnswer::text(debPackage(20)));
        const QString second = InstallerDownload(server.url(kInstallerPath)).Run();
        QVERIFY(QFileInfo(first).absolutePath() != QFileInfo(second).absolutePath());
        QVERIFY(!QFileInfo::exists(QFileInfo(first).absolutePath()));
        QFile f(second);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), debPackage(20));
        QVERIFY(QFileInfo::exists(outside));
        QVERIFY(QFileInfo::exists(QDir(appDir()).filePath("notes.txt")));
    }

    // Folders on the way that another user could change are refused before anything is
    // written; the app folder of an earlier build (0755) is closed to others.
    void foldersOnTheWay_data()
    {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QString>("refusal"); // empty: the download goes ahead
        QTest::newRow("cache writable by others") << "cache 0777"
                                                  << "Other users can change the folder";
        QTest::newRow("cache writable by the group") << "cache 0770"
                                                     << "Other users can change the folder";
        QTest::newRow("cache sticky like /tmp") << "cache 01777"
                                                << "";
        QTest::newRow("app folder is a link") << "app link"
                                              << "Delvora";
        QTest::newRow("app folder is a file") << "app file"
                                              << "Delvora";
        QTest::newRow("app folder of an earlier build") << "app 0755"
                                                        << "";
        QTest::newRow("app folder writable by others") << "app 0777"
                                                       << "";
    }
    void foldersOnTheWay()
    {
        QFETCH(QString, setUp);
        QFETCH(QString, refusal);
        const QString elsewhere = QDir(m_dir.path()).filePath("elsewhere");
        QDir(elsewhere).removeRecursively();
        QDir().mkpath(elsewhere);
        if (setUp.startsWith("cache ")) {
            QVERIFY(::chmod(QFile::encodeName(cacheDir()).constData(),
                            mode_t(setUp.mid(6).toInt(nullptr, 8))) == 0);
        } else if (setUp == "app link") {
            QVERIFY(QFile::link(elsewhere, appDir()));
        } else if (setUp == "app file") {
            testsupport::writeFile(cacheDir(), "Delvora", "not a folder");
        } else {
            QDir().mkpath(appDir());
            QVERIFY(::chmod(QFile::encodeName(appDir()).constData(),
                            mode_t(setUp.mid(4).toInt(nullptr, 8))) == 0);
        }

        LoopbackHttpServer server;
        server.setAnswer(kInstallerPath, HttpAnswer::text(debPackage(10)));
        InstallerDownload download(server.url(kInstallerPath));
        if (refusal.isEmpty()) {
            const QString path = download.Run();
            QCOMPARE(QFileInfo(QFileInfo(path).absolutePath()).dir().absolutePath(), appDir());
            QCOMPARE(modeOf(appDir()), 0700);
        } else {
            const QString message = runExpectingFailure(download);
            QVERIFY2(message.contains(refusal), qPrintable(message));
            QCOMPARE(server.requestCount(), 0);
            QVERIFY(QDir(elsewhere).isEmpty());
        }
        QVERIFY(::chmod(QFile::encodeName(cacheDir()).constData(), 0700) == 0);
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
        QTest::newRow("not a package") << "not a package"
                                       << "The downloaded file is not a Debian package.";
        QTest::newRow("announced too large") << "announced too large"
                                             << "The installer is larger than 1 MB.";
        QTest::newRow("grows too large") << "grows too large"
                                         << "The installer is larger than 1 MB.";
        QTest::newRow("stalls in the body") << "stalls in the body"
                                            << "No data arrived for 1 seconds.";
        QTest::newRow("stalls before the answer") << "stalls before the answer"
                                                  << "No data arrived for 1 seconds.";
    }
    void failures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        LoopbackHttpServer server;
        server.setAnswer("/elsewhere", HttpAnswer::text(debPackage(10)));
        const bool tooLarge = kind.contains("too large");
        HttpAnswer a = HttpAnswer::text(debPackage(tooLarge ? 3 * 1024 * 1024 : 65536));
        if (kind == "redirect") {
            a = HttpAnswer::redirect("/elsewhere");
        } else if (kind == "404") {
            a = HttpAnswer::text("gone", 404, "Not Found");
        } else if (kind == "cut") {
            a.closeAfterBodyBytes = 5000;
        } else if (kind == "not a package") {
            a = HttpAnswer::text("#!/bin/sh\necho owned\n");
        } else if (kind == "grows too large") {
            a.chunked = true;
            a.pieceSize = 65536;
        } else if (kind == "stalls in the body") {
            a.pieceSize = 4096;
            a.delayBetweenPiecesMs = 60000;
        } else if (kind == "stalls before the answer") {
            a.delayBeforeMs = 60000;
        }
        server.setAnswer(kInstallerPath, a);
        const QString url = server.url(kInstallerPath);
        if (kind == "down")
            server.stop();
        InstallerDownload download(url);
        download.SetMaxBytes(1024 * 1024);
        download.SetStallTimeout(1000);
        QElapsedTimer timer;
        timer.start();
        const QString got = runExpectingFailure(download);
        if (!message.isEmpty())
            QCOMPARE(got, message);
        QVERIFY(!got.isEmpty() && got != "<the download succeeded>");
        // A stall ends the download, not the server's far-off answer.
        QVERIFY(timer.elapsed() < 30000);
        // Redirects are never followed.
        for (const auto &r : server.requests())
            QCOMPARE(r.path, kInstallerPath);
        // Nothing of a refused or failed download stays in the cache.
        QCOMPARE(QDir(appDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    void stallMessageIsTranslated()
    {
        SetCurrentLanguage(1);
        LoopbackHttpServer server;
        HttpAnswer a = HttpAnswer::text(debPackage(10));
        a.delayBeforeMs = 60000;
        server.setAnswer(kInstallerPath, a);
        InstallerDownload download(server.url(kInstallerPath));
        download.SetStallTimeout(1000);
        QCOMPARE(runExpectingFailure(download), QStringLiteral("Keine Daten seit 1 Sekunden."));
        SetCurrentLanguage(0);
    }

    void cancelTakesEffectAtTheNextReport()
    {
        SetCurrentLanguage(1);
        LoopbackHttpServer server;
        HttpAnswer slow = HttpAnswer::text(debPackage(40 * 4096));
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

    // Only HTTPS, or plain HTTP that never leaves this computer.
    void safeSources_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("safe");
        QTest::newRow("https") << "https://update.example.org/download/delvora.deb" << true;
        QTest::newRow("HTTPS upper case") << "HTTPS://update.example.org/x.deb" << true;
        QTest::newRow("loopback") << "http://127.0.0.1:8080/x.deb" << true;
        QTest::newRow("loopback net") << "http://127.45.6.7/x.deb" << true;
        QTest::newRow("loopback v6") << "http://[::1]:8080/x.deb" << true;
        QTest::newRow("plain http") << "http://update.example.org/x.deb" << false;
        QTest::newRow("plain http, local net") << "http://192.168.1.2/x.deb" << false;
        QTest::newRow("name that looks like loopback")
            << "http://127.0.0.1.example.org/x.deb" << false;
        QTest::newRow("localhost by name") << "http://localhost/x.deb" << false;
        QTest::newRow("v4 in v6") << "http://[::ffff:127.0.0.1]/x.deb" << false;
        QTest::newRow("user part") << "http://127.0.0.1@example.org/x.deb" << false;
        QTest::newRow("ftp") << "ftp://127.0.0.1/x.deb" << false;
        QTest::newRow("file") << "file:///tmp/x.deb" << false;
        QTest::newRow("https without host") << "https:///x.deb" << false;
        QTest::newRow("garbage") << "not a url" << false;
    }
    void safeSources()
    {
        QFETCH(QString, url);
        QFETCH(bool, safe);
        QCOMPARE(InstallerDownload::IsSafeSource(url), safe);
    }

    void plainHttpElsewhereIsRefusedBeforeAnyTransfer()
    {
        // TEST-NET-1: nothing answers there, and nothing may be tried.
        InstallerDownload download(QStringLiteral("http://192.0.2.1/download/delvora.deb"));
        const QString message = runExpectingFailure(download);
        QVERIFY2(message.contains("HTTPS") &&
                     message.endsWith("http://192.0.2.1/download/delvora.deb"),
                 qPrintable(message));
        QVERIFY(!QFileInfo::exists(appDir()));
    }

    void defaultAddress()
    {
        qputenv("DELVORA_UPDATE_URL", "http://127.0.0.1:9/base/");
        QCOMPARE(InstallerDownload::DefaultUrl(),
                 QStringLiteral("http://127.0.0.1:9/base/download/delvora.deb"));
        QCOMPARE(InstallerDownload::FileName(), QStringLiteral("delvora.deb"));
        qunsetenv("DELVORA_UPDATE_URL");
    }
};

QTEST_GUILESS_MAIN(InstallerDownloadTest)
#include "tst_InstallerDownload.moc"
