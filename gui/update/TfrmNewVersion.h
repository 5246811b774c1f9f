#pragma once

#include <QDialog>

#include <atomic>
#include <memory>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;

namespace dv {

class InstallerDownload;

// The update dialog that start-up shows, before the main window exists, when the update
// server announces a newer version. "Update Now" downloads the installer package and hands it
// to the desktop's package installer; the second button is "Skip" for an optional update,
// "Exit" for a mandatory one and "Abort" while the download runs. After "Update Now" the
// program always ends when the dialog closes. The transfer runs on a worker thread; the
// button states, the abort rule and the order of the steps are those of a download on the
// interface thread.
class TfrmNewVersion : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmNewVersion(QWidget *parent = nullptr);
    ~TfrmNewVersion() override;

    // The new-version check and, when it finds a newer version, the modal dialog. False when
    // the program must end without a main window.
    static bool PassUpdateCheck();

    // 1: start-up goes on; 0: the program ends. Valid once the dialog was shown and closed.
    int Tag() const { return fTag; }
    bool DownloadCancelRequested() const { return fDownloadCancelRequested; }
    bool Downloading() const { return fDownloading; }

    // Limits of the installer download (defaults: 30 s without data, 256 MB).
    void SetStallTimeout(int ms) { fStallTimeoutMs = ms; }
    void SetMaxDownloadBytes(qint64 bytes) { fMaxDownloadBytes = bytes; }

    // Label1 shows the message inside MessageArea, which scrolls when it is too long.
    QScrollArea *MessageArea = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *VirtualImage1 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QPushButton *btUpdateNow = nullptr;
    QPushButton *btCancel = nullptr;

public slots:
    void btUpdateNowClick();
    void btCancelClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

    virtual void FormShow();
    // Bytes received so far and the announced length (-1 without one, or when chunked).
    virtual void DownloadProgress(qint64 received, qint64 total);

private:
    void DownloadFinished(const QString &path, const QString &failure, bool failed);
    void FailurePath(const QString &cause);
    void SetCancelCaption(const QString &caption);
    void FitButtons();
    void StopWorker();

    int fTag = 0;
    bool fDownloadCancelRequested = false;
    bool fDownloading = false;
    int fStallTimeoutMs;
    qint64 fMaxDownloadBytes;
    std::shared_ptr<InstallerDownload> fDownload;
    std::thread fWorker;
    // The worker's latest progress, handed to the interface thread one report at a time.
    std::atomic<qint64> fReceived{0};
    std::atomic<qint64> fTotal{-1};
    std::atomic<bool> fProgressPosted{false};
};

} // namespace dv
