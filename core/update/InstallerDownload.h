#pragma once

#include "core/update/InstallerDownloadError.h"

#include <QString>

#include <atomic>
#include <functional>

namespace dv {

// Downloads the installer, a Debian package, from the update server into a new private folder
// (InstallerFolder). Only over HTTPS, or over plain HTTP from this computer (a loopback
// address), so nobody on the network path can hand the user a package of their own. One
// object per download: a cancel request is never taken back, so an "Abort" pressed while the
// transfer is still starting is not lost.
class InstallerDownload
{
public:
    // Bytes received so far and the announced length (-1 when none, or when sent chunked).
    using ProgressFn = std::function<void(qint64 received, qint64 total)>;

    static constexpr int kDefaultStallTimeoutMs = 30000;
    static constexpr qint64 kDefaultMaxBytes = qint64(256) * 1024 * 1024;

    explicit InstallerDownload(QString url = DefaultUrl());

    // Where the installer comes from: the installer path of the build below the update
    // server's address.
    static QString DefaultUrl();
    // The name the installer is saved under: the last part of the build's installer path.
    static QString FileName();
    // True for an https address, and for an http address whose host is a loopback address
    // (127.0.0.0/8 or ::1).
    static bool IsSafeSource(const QString &url);

    // The download fails when no data arrives for this long (also while connecting).
    void SetStallTimeout(int ms) { m_stallTimeoutMs = ms; }
    // The download fails when the installer is announced or grows larger than this.
    void SetMaxBytes(qint64 bytes) { m_maxBytes = bytes; }

    // Asks a running download to stop; it fails at its next progress report (about once a
    // second even while no data arrives). Safe from any thread.
    void RequestCancel() { m_cancelRequested.store(true); }
    bool CancelRequested() const { return m_cancelRequested.load(); }

    // Runs the transfer on the calling thread and returns the installer's full path. Progress
    // is reported on the same thread. Redirects are not followed and any status but a success
    // fails, as does a file that is not a Debian package. Throws InstallerDownloadError; the
    // folder of a refused or failed download is removed with what was written.
    QString Run(const ProgressFn &progress = {});

private:
    QString m_url;
    int m_stallTimeoutMs = kDefaultStallTimeoutMs;
    qint64 m_maxBytes = kDefaultMaxBytes;
    std::atomic<bool> m_cancelRequested{false};
};

} // namespace dv
