#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <stdexcept>

namespace dv {

// A failed installer download; What() is the text for the error box after the translated
// "Failed to download update. Please download manually on website." line.
class InstallerDownloadError : public std::runtime_error
{
public:
    explicit InstallerDownloadError(const QString &message)
        : std::runtime_error(message.toStdString()), fMessage(message)
    {}
    const QString &Message() const { return fMessage; }

private:
    QString fMessage;
};

// Downloads the installer "brn_update.exe" from the update server into a new folder that only
// this user can write. One object per download: a cancel request is never taken back, so an
// "Abort" pressed while the transfer is still starting is not lost.
class InstallerDownload
{
public:
    // Bytes received so far and the announced length (-1 when none, or when sent chunked).
    using ProgressFn = std::function<void(qint64 received, qint64 total)>;

    explicit InstallerDownload(QString url = DefaultUrl());

    // Where the installer comes from: the update server's download/delvora.exe.
    static QString DefaultUrl();

    // Asks a running download to stop; it fails at its next progress report (about once a
    // second even while no data arrives). Safe from any thread.
    void RequestCancel() { fCancelRequested.store(true); }
    bool CancelRequested() const { return fCancelRequested.load(); }

    // Runs the transfer on the calling thread and returns the installer's full path. Progress
    // is reported on the same thread. Redirects are not followed and any status but a success
    // fails. Throws InstallerDownloadError; a partial file is left where it was written.
    QString Run(const ProgressFn &progress = {});

private:
    QString fUrl;
    std::atomic<bool> fCancelRequested{false};
};

// Creates a new folder, mode 0700, below the user's cache folder ($XDG_CACHE_HOME, else
// ~/.cache) for one download; throws InstallerDownloadError when that fails.
QString CreatePrivateDownloadFolder();

} // namespace dv
