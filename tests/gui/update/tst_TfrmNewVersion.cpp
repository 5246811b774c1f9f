#include "core/i18n/Translation.h"
#include "core/update/NewVersionCheck.h"
#include "gui/app/TMainForm.h"
#include "gui/update/TfrmNewVersion.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <QUrl>

#include <functional>
#include <memory>

using dv::TfrmNewVersion;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

const QByteArray kVersionPath = "/download/version/delvora-version.html";
const QByteArray kChangesPath = "/download/version/delvora-changes.html";
const QByteArray kInstallerPath = "/download/delvora.deb";

const char kTable[] = "2\nEnglish\nDeutsch\nen\nde\n"
                      "The new version %s is available\nDie neue Version %s ist verfügbar\n"
                      "What's new:\nNeuigkeiten:\n"
                      "Update Now\nJetzt aktualisieren\n"
                      "Exit\nBeenden\n"
                      "Skip\nÜberspringen\n"
                      "Abort\nAbbrechen\n"
                      "New Version\nNeue Version\n"
                      "Download progress\nDownload-Fortschritt\n"
                      "Failed to download update. Please download manually on website.\n"
                      "Update fehlgeschlagen.\n"
                      "Download is cancelled. Please download manually.\nDownload abgebrochen.\n";

QByteArray debPackage(int size)
{
    QByteArray b = "!<arch>\ndebian-binary   0           0     0     100644  4         `\n2.0\n";
    for (int i = 0; i < size; ++i)
        b += char('a' + i % 26);
    return b;
}

// Receives the addresses handed to the desktop services: the file URL of the installer (for
// the package installer) and the home page. The offscreen platform opens nothing itself.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

// Records where the bar stood at every progress report.
class RecordingDialog : public TfrmNewVersion
{
public:
    QList<int> positions;

protected:
    void DownloadProgress(qint64 received, qint64 total) override
    {
        TfrmNewVersion::DownloadProgress(received, total);
        positions << ProgressBar1->value();
    }
};

// Runs Action once a visible top-level widget of type T appears (also inside a modal loop);
// the watch ends with the returned timer.
template <typename T> std::unique_ptr<QTimer> whenShown(std::function<void(T *)> action)
{
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(10);
    QTimer *t = timer.get();
    QObject::connect(t, &QTimer::timeout, [t, action] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *found = qobject_cast<T *>(w); found && found->isVisible()) {
                t->stop();
                action(found);
                return;
            }
        }
    });
    timer->start();
    return timer;
}

} // namespace

class TstTfrmNewVersion : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LoopbackHttpServer *m_server = nullptr;
    UrlCatcher m_catcher;
    QStringList m_boxes; // texts of the error boxes, closed with OK
    QTimer m_boxCloser;

    void announce(const QByteArray &versionLine)
    {
        m_server->setAnswer(kVersionPath, HttpAnswer::text(versionLine + "\r\n"));
        m_server->setAnswer(kChangesPath, HttpAnswer::text("Faster search\r\n\r\nNew icons\r\n"));
    }

    // Shows the dialog for an announced update (not modal, so the test can drive it).
    void showDialog(TfrmNewVersion &dialog, const QByteArray &versionLine = "25/20")
    {
        announce(versionLine);
        dv::SetCloseEndsProgram(false);
        QVERIFY(dv::CheckForNewVersion());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    }

    // Closes every error box with OK as soon as it shows, keeping its text.
    void watchErrorBoxes()
    {
        connect(&m_boxCloser, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (!box || !box->isVisible() || box->property("seen").toBool())
                    continue;
                box->setProperty("seen", true);
                m_boxes << box->text();
                if (box->icon() != QMessageBox::Critical || box->windowTitle() != "Delvora")
                    m_boxes << QStringLiteral("<not an error box of Delvora>");
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_boxCloser.start(10);
    }

    void registerPackageInstaller(bool registered)
    {
        const QString desktopFile =
            QDir(m_dir.path()).filePath("data/applications/test-package-installer.desktop");
        const QString defaults = QDir(m_dir.path()).filePath("config/mimeapps.list");
        if (!registered) {
            QFile::remove(desktopFile);
            QFile::remove(defaults);
            return;
        }
        testsupport::writeFile(QFileInfo(desktopFile).absolutePath(),
                               QFileInfo(desktopFile).fileName(),
                               "[Desktop Entry]\nType=Application\nName=Test package installer\n"
                               "Exec=true %f\nMimeType=application/vnd.debian.binary-package;\n");
        testsupport::writeFile(QFileInfo(defaults).absolutePath(), "mimeapps.list",
                               "[Default Applications]\napplication/vnd.debian.binary-package="
                               "test-package-installer.desktop\n");
    }

    QList<QUrl> opened(const QString &scheme) const
    {
        QList<QUrl> urls;
        for (const QUrl &u : m_catcher.opened)
            if (u.scheme() == scheme)
                urls << u;
        return urls;
    }

    bool anyMainWindow() const
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<dv::TMainForm *>(w))
                return true;
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", QDir(m_dir.path()).filePath("config").toLocal8Bit());
        qputenv("XDG_CACHE_HOME", QDir(m_dir.path()).filePath("cache").toLocal8Bit());
        dv::SetTranslationFilePath(testsupport::writeFile(m_dir.path(), "transl.dt", kTable));
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Delvora"))
            .setValue(QStringLiteral("CurrentLanguage"), QStringLiteral("en"));
        dv::LoadTranslations();
        // The desktop's MIME defaults come from our folders only, in the plain (no desktop
        // environment) mode of xdg-utils: a package installer is registered for .deb files.
        for (const char *name :
             {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
              "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID", "DISPLAY", "WAYLAND_DISPLAY"})
            qunsetenv(name);
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        qputenv("XDG_DATA_HOME", QDir(m_dir.path()).filePath("data").toLocal8Bit());
        qputenv("XDG_DATA_DIRS", QDir(m_dir.path()).filePath("no-data").toLocal8Bit());
        qputenv("XDG_CONFIG_DIRS", QDir(m_dir.path()).filePath("no-config").toLocal8Bit());
        registerPackageInstaller(true);
        QDesktopServices::setUrlHandler("file", &m_catcher, "open");
        watchErrorBoxes();
        QDesktopServices::setUrlHandler(QUrl(dv::TMainForm::HomePageUrl()).scheme(), &m_catcher,
                                        "open");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler("file");
        QDesktopServices::unsetUrlHandler(QUrl(dv::TMainForm::HomePageUrl()).scheme());
    }

    void init()
    {
        m_server = new LoopbackHttpServer;
        qputenv("DELVORA_UPDATE_URL", m_server->baseUrl().toLocal8Bit() + '/');
        m_catcher.opened.clear();
        m_boxes.clear();
        dv::SetCurrentLanguage(0);
    }

    void cleanup()
    {
        delete m_server;
        m_server = nullptr;
        qunsetenv("DELVORA_UPDATE_URL");
    }

    // Start-up: the dialog comes before any main window; Skip (or the close box of an
    // optional update) lets start-up go on, Exit (or the close box of a mandatory one) ends it.
    void startUp_data()
    {
        QTest::addColumn<QByteArray>("versionLine");
        QTest::addColumn<bool>("useCloseBox");
        QTest::addColumn<QString>("secondButton");
        QTest::addColumn<bool>("goesOn");
        QTest::newRow("optional, Skip") << QByteArray("25/20") << false << "Skip" << true;
        QTest::newRow("optional, close box") << QByteArray("25/20") << true << "Skip" << true;
        QTest::newRow("mandatory, Exit") << QByteArray("25/25") << false << "Exit" << false;
        QTest::newRow("mandatory, close box") << QByteArray("25/25") << true << "Exit" << false;
    }
    void startUp()
    {
        QFETCH(QByteArray, versionLine);
        QFETCH(bool, useCloseBox);
        QFETCH(QString, secondButton);
        QFETCH(bool, goesOn);
        announce(versionLine);
        dv::SetCloseEndsProgram(false);
        bool seen = false;
        const auto watch = whenShown<TfrmNewVersion>([&](TfrmNewVersion *d) {
            seen = true;
            QVERIFY(!anyMainWindow());
            QVERIFY(d->isModal());
            QCOMPARE(d->btCancel->text(), secondButton);
            if (useCloseBox)
                d->close();
            else
                d->btCancel->click();
        });
        QCOMPARE(TfrmNewVersion::PassUpdateCheck(), goesOn);
        QVERIFY(seen);
        QCOMPARE(m_server->requestCount(), 2); // the two documents, no download
        QVERIFY(m_catcher.opened.isEmpty());
    }

    void noDialogWithoutNewerVersion_data()
    {
        QTest::addColumn<QByteArray>("versionLine");
        QTest::newRow("same version") << QByteArray("24/20");
        QTest::newRow("broken document") << QByteArray("25 / 20");
        QTest::newRow("no server") << QByteArray();
    }
    void noDialogWithoutNewerVersion()
    {
        QFETCH(QByteArray, versionLine);
        if (versionLine.isEmpty())
            m_server->stop();
        else
            announce(versionLine);
        bool seen = false;
        const auto watch = whenShown<TfrmNewVersion>([&](TfrmNewVersion *d) {
            seen = true;
            d->close();
        });
        QVERIFY(TfrmNewVersion::PassUpdateCheck());
        QVERIFY(!seen);
    }

    void layoutAndTexts_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QByteArray>("versionLine");
        QTest::addColumn<QString>("updateNow");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("message");
        QTest::newRow("English, optional") << 0 << QByteArray("25/20") << "Update Now"
                                           << "Skip"
                                           << "The new version 2.5 is available\r\n\r\nWhat's "
                                              "new:\r\nFaster search\r\nNew icons\r\n";
        QTest::newRow("German, mandatory")
            << 1 << QByteArray("26/25") << "Jetzt aktualisieren"
            << "Beenden"
            << "This version of the software is out of date. You must download the current "
               "version 2.6 to continue using the software.\r\n\r\nNeuigkeiten:\r\nFaster "
               "search\r\nNew icons\r\n";
    }
    void layoutAndTexts()
    {
        QFETCH(int, language);
        QFETCH(QByteArray, versionLine);
        QFETCH(QString, updateNow);
        QFETCH(QString, second);
        QFETCH(QString, message);
        dv::SetCurrentLanguage(language);
        TfrmNewVersion d;
        QCOMPARE(d.btCancel->text(), QStringLiteral("Cancel")); // until shown
        showDialog(d, versionLine);
        QCOMPARE(d.windowTitle(), QStringLiteral(" Delvora"));
        QCOMPARE(d.Tag(), 1);
        QCOMPARE(d.btUpdateNow->text(), updateNow);
        QCOMPARE(d.btCancel->text(), second);
        QCOMPARE(d.Label1->text(), message);
        QVERIFY(d.Label1->wordWrap());
        QCOMPARE(d.size(), QSize(414, 197));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        QCOMPARE(d.MessageArea->geometry(), QRect(90, 11, 327, 115));
        QCOMPARE(d.Label1->parentWidget(), d.MessageArea->viewport());
        QCOMPARE(d.VirtualImage1->geometry(), QRect(9, 15, 70, 75));
        QVERIFY(!d.VirtualImage1->pixmap().isNull());
        // Inside the dialog, the same margin on both sides.
        QCOMPARE(d.ProgressBar1->geometry(), QRect(8, 133, 398, 17));
        QCOMPARE(d.width() - 1 - d.ProgressBar1->geometry().right(), d.ProgressBar1->x());
        QVERIFY(d.ProgressBar1->isHidden());
        QCOMPARE(d.ProgressBar1->minimum(), 0);
        QCOMPARE(d.ProgressBar1->maximum(), 100);
        if (language == 0) {
            QCOMPARE(d.btUpdateNow->geometry(), QRect(209, 161, 100, 25));
            QCOMPARE(d.btCancel->geometry(), QRect(322, 161, 75, 25));
        }
        // A longer caption widens its button to the left; nothing is cut or overlaps.
        for (QPushButton *b : {d.btUpdateNow, d.btCancel})
            QVERIFY2(b->width() >= b->fontMetrics().horizontalAdvance(b->text()) + 8,
                     qPrintable(b->text()));
        QCOMPARE(d.btCancel->geometry().right(), 322 + 75 - 1);
        QCOMPARE(d.btUpdateNow->geometry().right(), d.btCancel->x() - 13 - 1);
        QVERIFY(d.btUpdateNow->x() > d.MessageArea->x());
        // Every control carries its name and a translated accessible name.
        const QList<QPair<QWidget *, QString>> controls{
            {d.Label1, message},
            {d.VirtualImage1, language ? "Neue Version" : "New Version"},
            {d.ProgressBar1, language ? "Download-Fortschritt" : "Download progress"},
            {d.btUpdateNow, updateNow},
            {d.btCancel, second}};
        for (const auto &[w, name] : controls) {
            QCOMPARE(d.findChild<QWidget *>(w->objectName()), w);
            QCOMPARE(w->accessibleName(), name);
        }
        QCOMPARE(d.objectName(), QStringLiteral("frmNewVersion"));
        // Keyboard: the focus starts on "Update Now", Tab goes to the second button; Enter and
        // Escape are bound to nothing.
        QApplication::setActiveWindow(&d);
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QCOMPARE(d.focusWidget(), d.btUpdateNow);
        QTest::keyClick(&d, Qt::Key_Tab);
        QCOMPARE(d.focusWidget(), d.btCancel);
        for (QWidget *target : {static_cast<QWidget *>(&d), static_cast<QWidget *>(d.btCancel)}) {
            QTest::keyClick(target, Qt::Key_Escape);
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
        }
        QTest::qWait(50);
        QVERIFY(d.isVisible());
        QCOMPARE(m_server->requestCount(), 2);
        // Space presses the focused button, as everywhere.
        QTest::keyClick(d.btCancel, Qt::Key_Space);
        QTRY_VERIFY(!d.isVisible());
        QCOMPARE(d.Tag(), language ? 0 : 1);
    }

    // A long list of changes scrolls inside the message's place; the dialog keeps its size.
    void longMessageScrolls()
    {
        QByteArray changes;
        for (int i = 1; i <= 30; ++i)
            changes += "Change number " + QByteArray::number(i) + "\r\n";
        m_server->setAnswer(kVersionPath, HttpAnswer::text("25/20\r\n"));
        m_server->setAnswer(kChangesPath, HttpAnswer::text(changes));
        dv::SetCloseEndsProgram(false);
        QVERIFY(dv::CheckForNewVersion());
        TfrmNewVersion d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QVERIFY(d.Label1->text().endsWith("Change number 30\r\n"));
        QCOMPARE(d.size(), QSize(414, 197));
        // The message's place: what of the label lies outside it is cut off unless it scrolls.
        const QRect place(90, 11, 327, 115);
        const auto shownPart = [&] {
            const QRect label(d.Label1->mapTo(&d, QPoint(0, 0)), d.Label1->size());
            return label.intersected(place).intersected(
                QRect(d.Label1->parentWidget()->mapTo(&d, QPoint(0, 0)),
                      d.Label1->parentWidget()->size()));
        };
        QVERIFY(d.Label1->height() > place.height());
        QVERIFY(d.Label1->width() <= place.width()); // no line is cut at the right
        auto *area = qobject_cast<QScrollArea *>(d.Label1->parentWidget()->parentWidget());
        QVERIFY2(area, "the message cannot scroll");
        QVERIFY(area->verticalScrollBar()->isVisible());
        QCOMPARE(shownPart().top(), d.Label1->mapTo(&d, QPoint(0, 0)).y());
        // The keyboard reaches it after the buttons, and pages to the end.
        d.btCancel->setFocus();
        QTest::keyClick(&d, Qt::Key_Tab);
        QCOMPARE(d.focusWidget(), area);
        for (int i = 0; i < 20; ++i)
            QTest::keyClick(area, Qt::Key_PageDown);
        QCOMPARE(area->verticalScrollBar()->value(), area->verticalScrollBar()->maximum());
        const QRect label(d.Label1->mapTo(&d, QPoint(0, 0)), d.Label1->size());
        QCOMPARE(shownPart().bottom(), label.bottom());
        QVERIFY(d.ProgressBar1->y() > place.bottom());
        d.btCancel->click();
    }

    // Update Now: the bar follows the announced length only; the package is handed to the
    // desktop (the "file" handler above stands in for the package installer); the program ends.
    void downloadAndHandOver_data()
    {
        QTest::addColumn<int>("framing"); // 0 length, 1 chunked, 2 until the connection closes
        QTest::addColumn<bool>("barMoves");
        QTest::newRow("content length") << 0 << true;
        QTest::newRow("chunked") << 1 << false;
        QTest::newRow("no length") << 2 << false;
    }
    void downloadAndHandOver()
    {
        QFETCH(int, framing);
        QFETCH(bool, barMoves);
        const QByteArray body = debPackage(20 * 16384);
        HttpAnswer a = HttpAnswer::text(body);
        a.chunked = framing == 1;
        a.contentLength = framing == 0;
        a.pieceSize = 16384;
        a.delayBetweenPiecesMs = 30;
        m_server->setAnswer(kInstallerPath, a);
        RecordingDialog d;
        showDialog(d);
        d.btUpdateNow->click();
        QVERIFY(dv::CloseEndsProgram());
        QCOMPARE(d.btCancel->text(), QStringLiteral("Abort"));
        QVERIFY(!d.btUpdateNow->isEnabled());
        QVERIFY(d.ProgressBar1->isVisible());
        QCOMPARE(d.ProgressBar1->value(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 20000);
        QCOMPARE(d.Tag(), 0);
        QVERIFY(m_boxes.isEmpty());
        QVERIFY(!d.positions.isEmpty());
        if (barMoves) {
            QVERIFY(std::is_sorted(d.positions.begin(), d.positions.end()));
            QVERIFY(d.positions.first() < d.positions.last());
        } else {
            QCOMPARE(d.positions.count(0), d.positions.size());
        }
        const QList<QUrl> files = opened("file");
        QCOMPARE(files.size(), 1);
        QFile handed(files.first().toLocalFile());
        QVERIFY(handed.open(QIODevice::ReadOnly));
        QCOMPARE(handed.readAll(), body);
        QVERIFY(opened("https").isEmpty());
    }

    // Every failure: one error box with the cause, the home page, the end of the program.
    void failures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("cause"); // what the error box says after the first line
        QTest::newRow("redirect") << "redirect"
                                  << "HTTP 302 Found";
        QTest::newRow("not found") << "404"
                                   << "HTTP 404 Not Found";
        QTest::newRow("stall") << "stall"
                               << "No data arrived for 1 seconds.";
        QTest::newRow("plain http to another host")
            << "plain http"
            << "does not use one: http://192.0.2.1/download/delvora.deb";
    }
    void failures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, cause);
        HttpAnswer a = HttpAnswer::text(debPackage(1000));
        if (kind == "redirect")
            a = HttpAnswer::redirect(m_server->url("/elsewhere").toLatin1());
        else if (kind == "404")
            a = HttpAnswer::text("gone", 404, "Not Found");
        else if (kind == "stall")
            a.delayBeforeMs = 60000;
        m_server->setAnswer(kInstallerPath, a);
        m_server->setAnswer("/elsewhere", HttpAnswer::text(debPackage(1000)));
        TfrmNewVersion d;
        d.SetStallTimeout(1000);
        showDialog(d);
        if (kind == "plain http")
            qputenv("DELVORA_UPDATE_URL", "http://192.0.2.1/");
        d.btUpdateNow->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 20000);
        QCOMPARE(d.Tag(), 0);
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().startsWith(
                     "Failed to download update. Please download manually on website.\r\n\r\n"),
                 qPrintable(m_boxes.first()));
        QVERIFY2(m_boxes.first().contains(cause), qPrintable(m_boxes.first()));
        QCOMPARE(opened("https"), QList<QUrl>{QUrl(dv::TMainForm::HomePageUrl())});
        QVERIFY(opened("file").isEmpty());
        for (const auto &r : m_server->requests())
            QVERIFY(r.path != "/elsewhere");
        // Nothing of the failed download stays in the cache.
        const QDir cache(QDir(m_dir.path()).filePath("cache/Delvora"));
        QCOMPARE(cache.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    // The package arrived, but nothing on this desktop installs it: the box says so and where
    // the package is, and the download counts as no failure.
    void noPackageInstaller_data()
    {
        QTest::addColumn<bool>("registered"); // false: the desktop's defaults name none
        QTest::newRow("desktop opens no files") << true;
        QTest::newRow("no package installer registered") << false;
    }
    void noPackageInstaller()
    {
        QFETCH(bool, registered);
        if (!registered && QStandardPaths::findExecutable("xdg-mime").isEmpty())
            QSKIP("xdg-mime (xdg-utils) is not installed");
        m_server->setAnswer(kInstallerPath, HttpAnswer::text(debPackage(1000)));
        TfrmNewVersion d;
        showDialog(d);
        registerPackageInstaller(registered);
        if (registered)
            QDesktopServices::unsetUrlHandler("file"); // offscreen: nothing opens a file
        d.btUpdateNow->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 20000);
        QDesktopServices::setUrlHandler("file", &m_catcher, "open");
        registerPackageInstaller(true);
        QCOMPARE(d.Tag(), 0);
        QCOMPARE(m_boxes.size(), 2);
        QCOMPARE(m_boxes.last(), QStringLiteral("<not an error box of Delvora>"));
        const QString text = m_boxes.first();
        QVERIFY2(text.startsWith("No program for installing Debian packages was found.\r\n\r\n"
                                 "The update was downloaded to:\r\n"),
                 qPrintable(text));
        QVERIFY2(!text.contains("Failed to download update"), qPrintable(text));
        const QString path = text.section(QStringLiteral("\r\n"), -1);
        QFile package(path);
        QVERIFY2(package.open(QIODevice::ReadOnly), qPrintable(path));
        QCOMPARE(package.readAll(), debPackage(1000));
        QVERIFY(opened("https").isEmpty());
        QVERIFY(opened("file").isEmpty());
    }

    // Abort (or the close box) during the download does not close the dialog; the error box
    // follows at the next progress report, in the interface's language.
    void abort_data()
    {
        QTest::addColumn<bool>("useCloseBox");
        QTest::newRow("Abort") << false;
        QTest::newRow("close box") << true;
    }
    void abort()
    {
        QFETCH(bool, useCloseBox);
        dv::SetCurrentLanguage(1);
        HttpAnswer slow = HttpAnswer::text(debPackage(200 * 4096));
        slow.pieceSize = 4096;
        slow.delayBetweenPiecesMs = 100;
        m_server->setAnswer(kInstallerPath, slow);
        RecordingDialog d;
        showDialog(d);
        d.btUpdateNow->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d.positions.isEmpty(), 10000);
        if (useCloseBox)
            d.close();
        else
            d.btCancel->click();
        QVERIFY(d.DownloadCancelRequested());
        QVERIFY(d.isVisible());
        QCOMPARE(d.btCancel->text(), QStringLiteral("Abbrechen"));
        QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 10000);
        QCOMPARE(d.Tag(), 0);
        QCOMPARE(m_boxes, QStringList{"Update fehlgeschlagen.\r\n\r\nDownload abgebrochen."});
        QCOMPARE(opened("https"), QList<QUrl>{QUrl(dv::TMainForm::HomePageUrl())});
        QVERIFY(opened("file").isEmpty());
    }
};

QTEST_MAIN(TstTfrmNewVersion)
#include "tst_TfrmNewVersion.moc"
