#include "gui/update/TfrmNewVersion.h"

#include "core/i18n/Translation.h"
#include "core/update/InstallerDownload.h"
#include "core/update/NewVersionCheck.h"
#include "gui/app/TMainForm.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStandardPaths>
#include <QUrl>

#include <optional>

namespace dv {

namespace {

// xdg-open reports a type without a program only on its own error output, after the program
// has ended; ask the desktop's MIME defaults first. Nothing when it cannot be told (no
// xdg-mime, or no clear answer): then the hand-over itself decides.
std::optional<bool> HasDebianPackageHandler()
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return std::nullopt;
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"),
                          QStringLiteral("application/vnd.debian.binary-package")});
    if (!query.waitForFinished(5000)) {
        query.kill();
        query.waitForFinished(1000);
        return std::nullopt;
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return std::nullopt;
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

} // namespace

TfrmNewVersion::TfrmNewVersion(QWidget *parent)
    : QDialog(parent), fStallTimeoutMs(InstallerDownload::kDefaultStallTimeoutMs),
      fMaxDownloadBytes(InstallerDownload::kDefaultMaxBytes)
{
    setObjectName(QStringLiteral("frmNewVersion"));
    setWindowTitle(QStringLiteral("New Version"));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);
    QFont f = font();
    f.setPointSize(9);
    setFont(f);
    setFixedSize(414, 197);

    // The message keeps its place and the dialog its size; a long list of changes scrolls.
    MessageArea = new QScrollArea(this);
    MessageArea->setObjectName(QStringLiteral("MessageArea"));
    MessageArea->setGeometry(90, 11, 327, 115);
    MessageArea->setFrameShape(QFrame::NoFrame);
    MessageArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MessageArea->setWidgetResizable(true);
    MessageArea->setBackgroundRole(QPalette::Window);
    Label1 = new QLabel;
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setTextFormat(Qt::PlainText);
    MessageArea->setWidget(Label1);

    VirtualImage1 = new QLabel(this);
    VirtualImage1->setObjectName(QStringLiteral("VirtualImage1"));
    VirtualImage1->setGeometry(9, 15, 70, 75);
    VirtualImage1->setPixmap(
        QIcon(QStringLiteral(":/delvora/icons/update.svg")).pixmap(QSize(70, 75)));

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    // The same margin on both sides.
    ProgressBar1->setGeometry(8, 133, 414 - 2 * 8, 17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();

    btUpdateNow = new QPushButton(QStringLiteral("Update Now"), this);
    btUpdateNow->setObjectName(QStringLiteral("btUpdateNow"));
    btUpdateNow->setGeometry(209, 161, 100, 25);
    btCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btCancel->setGeometry(322, 161, 75, 25);
    // No button answers Enter or Escape: an update is taken or refused only on purpose.
    for (QPushButton *b : {btUpdateNow, btCancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setFocusPolicy(Qt::StrongFocus);
    }
    setTabOrder(btUpdateNow, btCancel);
    // The message comes last: reached with the keyboard to scroll a long list of changes.
    setTabOrder(btCancel, MessageArea);

    connect(btUpdateNow, &QPushButton::clicked, this, &TfrmNewVersion::btUpdateNowClick);
    connect(btCancel, &QPushButton::clicked, this, &TfrmNewVersion::btCancelClick);
}

TfrmNewVersion::~TfrmNewVersion()
{
    StopWorker();
}

bool TfrmNewVersion::PassUpdateCheck()
{
    if (!CheckForNewVersion())
        return true;
    TfrmNewVersion dialog; // no owner: there is no main window yet
    dialog.exec();
    return dialog.Tag() != 0;
}

void TfrmNewVersion::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    FormShow();
}

void TfrmNewVersion::FormShow()
{
    fTag = 1;
    setWindowTitle(u' ' + TMainForm::ApplicationTitle());
    btUpdateNow->setText(Translate(QStringLiteral("Update Now")));
    btUpdateNow->setAccessibleName(btUpdateNow->text());
    SetCancelCaption(CloseEndsProgram() ? Translate(QStringLiteral("Exit"))
                                        : Translate(QStringLiteral("Skip")));
    Label1->setText(NewVersionMessage());
    // The message is what a screen reader must read out.
    Label1->setAccessibleName(NewVersionMessage());
    const QString title = Translate(QStringLiteral("New Version"));
    setAccessibleName(title);
    VirtualImage1->setAccessibleName(title);
    ProgressBar1->setAccessibleName(Translate(QStringLiteral("Download progress")));
    btUpdateNow->setFocus();
}

void TfrmNewVersion::SetCancelCaption(const QString &caption)
{
    btCancel->setText(caption);
    btCancel->setAccessibleName(caption);
    FitButtons();
}

void TfrmNewVersion::FitButtons()
{
    // Both buttons keep their place at the right edge; a caption longer than the button (as
    // "Jetzt aktualisieren") widens it to the left instead of being cut.
    constexpr int kRight = 397;
    constexpr int kGap = 13;
    // The style's size hint asks for at least 80 pixels; only the caption itself counts here.
    const auto needed = [](const QPushButton *b) {
        return b->fontMetrics().horizontalAdvance(b->text()) + 16;
    };
    const int cancelWidth = qMax(75, needed(btCancel));
    btCancel->setGeometry(kRight - cancelWidth, 161, cancelWidth, 25);
    const int updateWidth = qMax(100, needed(btUpdateNow));
    btUpdateNow->setGeometry(btCancel->x() - kGap - updateWidth, 161, updateWidth, 25);
}

void TfrmNewVersion::closeEvent(QCloseEvent *event)
{
    // The close box during a download asks for the abort, like the button does; the error
    // box and the end follow at the next progress report.
    if (fDownloading) {
        event->ignore();
        btCancelClick();
        return;
    }
    if (CloseEndsProgram())
        fTag = 0;
    QDialog::closeEvent(event);
}

void TfrmNewVersion::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmNewVersion::btCancelClick()
{
    if (btCancel->text() == Translate(QStringLiteral("Abort"))) {
        fDownloadCancelRequested = true;
        if (fDownload)
            fDownload->RequestCancel();
        return;
    }
    close();
}

void TfrmNewVersion::btUpdateNowClick()
{
    if (fDownloading)
        return;
    SetCloseEndsProgram(true);
    fDownloadCancelRequested = false;
    fDownload = std::make_shared<InstallerDownload>();
    fDownload->SetStallTimeout(fStallTimeoutMs);
    fDownload->SetMaxBytes(fMaxDownloadBytes);

    SetCancelCaption(Translate(QStringLiteral("Abort")));
    btUpdateNow->setEnabled(false);
    btCancel->setFocus();
    ProgressBar1->setValue(0);
    ProgressBar1->show();
    ProgressBar1->repaint();
    fDownloading = true;

    fReceived.store(0);
    fTotal.store(-1);
    fProgressPosted.store(false);
    fWorker = std::thread([this, download = fDownload] {
        QString path;
        QString failure;
        bool failed = false;
        try {
            path = download->Run([this](qint64 received, qint64 total) {
                fReceived.store(received);
                fTotal.store(total);
                if (!fProgressPosted.exchange(true))
                    QMetaObject::invokeMethod(
                        this,
                        [this] {
                            fProgressPosted.store(false);
                            DownloadProgress(fReceived.load(), fTotal.load());
                        },
                        Qt::QueuedConnection);
            });
        } catch (const InstallerDownloadError &e) {
            failed = true;
            failure = e.Message();
        } catch (const std::exception &e) {
            failed = true;
            failure = QString::fromLocal8Bit(e.what());
        }
        QMetaObject::invokeMethod(
            this, [this, path, failure, failed] { DownloadFinished(path, failure, failed); },
            Qt::QueuedConnection);
    });
}

void TfrmNewVersion::DownloadProgress(qint64 received, qint64 total)
{
    if (!fDownloading || total <= 0)
        return;
    ProgressBar1->setValue(int(qMin<qint64>(100, received * 100 / total)));
    ProgressBar1->repaint();
}

void TfrmNewVersion::DownloadFinished(const QString &path, const QString &failure, bool failed)
{
    StopWorker();
    fDownloading = false;
    fDownload.reset();
    if (failed) {
        FailurePath(failure);
        return;
    }
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        FailurePath(Translate(QStringLiteral("Cannot find downloaded file.")));
        return;
    }
    // Never run here: the desktop's package installer opens it and asks for authentication.
    if (HasDebianPackageHandler() == false ||
        !QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        // The download itself worked: the package is there to be installed by hand.
        QMessageBox box(
            QMessageBox::Warning, TMainForm::ApplicationTitle(),
            Translate(QStringLiteral("No program for installing Debian packages was found.")) +
                QStringLiteral("\r\n\r\n") +
                Translate(QStringLiteral("The update was downloaded to:")) +
                QStringLiteral("\r\n") + path,
            QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("NoPackageInstallerBox"));
        box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        box.exec();
    }
    close();
}

void TfrmNewVersion::FailurePath(const QString &cause)
{
    QMessageBox box(QMessageBox::Critical, TMainForm::ApplicationTitle(),
                    Translate(QStringLiteral(
                        "Failed to download update. Please download manually on website.")) +
                        QStringLiteral("\r\n\r\n") + cause,
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("DownloadFailedBox"));
    box.exec();
    QDesktopServices::openUrl(QUrl(TMainForm::HomePageUrl()));
    close();
}

void TfrmNewVersion::StopWorker()
{
    if (!fWorker.joinable())
        return;
    if (fDownload)
        fDownload->RequestCancel();
    fWorker.join();
}

} // namespace dv
