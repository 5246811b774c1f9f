#include "gui/filesearch/TDvShellOperations.h"

#include "core/platform/FileName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace dv {

namespace {

const QString kGnomeFormat = QStringLiteral("x-special/gnome-copied-files");
const QString kKdeCutFormat = QStringLiteral("application/x-kde-cutselection");

bool Exists(const QString &pPath)
{
    struct stat st;
    return ::lstat(EncodeFileName(pPath).constData(), &st) == 0;
}

void SetError(QString *pError, const QString &pText)
{
    if (pError)
        *pError = pText;
}

QString ErrnoText(int pErrno)
{
    return QString::fromLocal8Bit(std::strerror(pErrno));
}

// rename(2) that fails rather than replace an existing target.
bool RenameNoReplace(const QString &pFrom, const QString &pTo, int *pErrno)
{
    const QByteArray from = EncodeFileName(pFrom);
    const QByteArray to = EncodeFileName(pTo);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *pErrno = errno;
        return false;
    }
    // A file system without the flag: test first, accepting the small window.
    if (Exists(pTo)) {
        *pErrno = EEXIST;
        return false;
    }
    if (::rename(from.constData(), to.constData()) == 0)
        return true;
    *pErrno = errno;
    return false;
}

bool CopyRecursively(const QString &pSource, const QString &pTarget)
{
    const QFileInfo info(pSource);
    if (!info.isDir() || info.isSymLink()) {
        if (info.isSymLink())
            return QFile::link(info.symLinkTarget(), pTarget);
        return QFile::copy(pSource, pTarget);
    }
    if (!QDir().mkdir(pTarget))
        return false;
    const QDir dir(pSource);
    const QStringList names =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names)
        if (!CopyRecursively(dir.filePath(name), pTarget + QLatin1Char('/') + name))
            return false;
    return true;
}

} // namespace

QMimeData *TDvShellOperations::FileUrlsMimeData(const QStringList &pPaths, bool pCut)
{
    auto *data = new QMimeData;
    QList<QUrl> urls;
    QByteArray gnome = pCut ? QByteArrayLiteral("cut") : QByteArrayLiteral("copy");
    for (const QString &path : pPaths) {
        const QUrl url = QUrl::fromLocalFile(path);
        urls.append(url);
        gnome += '\n' + url.toEncoded();
    }
    data->setUrls(urls);
    data->setData(kGnomeFormat, gnome);
    data->setData(kKdeCutFormat, pCut ? QByteArrayLiteral("1") : QByteArrayLiteral("0"));
    data->setText(pPaths.join(QLatin1Char('\n')));
    return data;
}

QStringList TDvShellOperations::LocalFiles(const QMimeData *pData)
{
    QStringList files;
    if (!pData)
        return files;
    for (const QUrl &url : pData->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            files.append(url.toLocalFile());
    return files;
}

bool TDvShellOperations::IsCut(const QMimeData *pData)
{
    if (!pData)
        return false;
    if (pData->hasFormat(kGnomeFormat))
        return pData->data(kGnomeFormat).startsWith("cut");
    return pData->data(kKdeCutFormat).startsWith('1');
}

bool TDvShellOperations::MoveToTrash(const QString &pPath, QString *pError)
{
    if (!Exists(pPath)) {
        SetError(pError, QStringLiteral("The file no longer exists."));
        return false;
    }
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!dataHome.isEmpty()) {
        QDir().mkpath(dataHome + QStringLiteral("/Trash/files"));
        QDir().mkpath(dataHome + QStringLiteral("/Trash/info"));
    }
    QString pathInTrash;
    if (!QFile::moveToTrash(pPath, &pathInTrash)) {
        SetError(pError, QStringLiteral("The file could not be moved to the trash."));
        return false;
    }
    // Where did it go? A trash keeps files in ".../Trash/files/" (home) or
    // ".../.Trash-<uid>/files/", ".../.Trash/<uid>/files/" (other volumes).
    const QFileInfo target(pathInTrash);
    const QString filesDir = target.absolutePath();
    const QString trashDir = QFileInfo(filesDir).absolutePath();
    const QString trashName = QFileInfo(trashDir).fileName();
    const bool inTrash =
        !pathInTrash.isEmpty() && Exists(pathInTrash) &&
        QFileInfo(filesDir).fileName() == QLatin1String("files") &&
        (trashName == QLatin1String("Trash") || trashName.startsWith(QLatin1String(".Trash")) ||
         QFileInfo(QFileInfo(trashDir).absolutePath()).fileName() == QLatin1String(".Trash"));
    if (inTrash && !Exists(pPath))
        return true;
    if (!pathInTrash.isEmpty() && Exists(pathInTrash) && !Exists(pPath)) {
        int err = 0;
        RenameNoReplace(pathInTrash, pPath, &err);
    }
    SetError(pError, QStringLiteral("The file could not be moved to the trash."));
    return false;
}

bool TDvShellOperations::Rename(const QString &pPath, const QString &pNewName, QString *pError)
{
    if (pNewName.isEmpty() || pNewName == QLatin1String(".") || pNewName == QLatin1String("..") ||
        pNewName.contains(QLatin1Char('/')) || pNewName.contains(QChar(0))) {
        SetError(pError, QStringLiteral("The file name is not valid."));
        return false;
    }
    const qsizetype slash = pPath.lastIndexOf(QLatin1Char('/'));
    const QString target = pPath.left(slash + 1) + pNewName;
    int err = 0;
    if (RenameNoReplace(pPath, target, &err))
        return true;
    SetError(pError, err == EEXIST ? QStringLiteral("A file with this name already exists.")
                                   : ErrnoText(err));
    return false;
}

QString TDvShellOperations::FreeName(const QString &pFolder, const QString &pName)
{
    QString folder = pFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    if (!Exists(folder + pName))
        return pName;
    const qsizetype dot = pName.lastIndexOf(QLatin1Char('.'));
    const bool hasExt = dot > 0;
    const QString base = hasExt ? pName.left(dot) : pName;
    const QString ext = hasExt ? pName.mid(dot) : QString();
    for (int n = 1;; ++n) {
        const QString candidate = base + QStringLiteral(" - Copy") +
                                  (n > 1 ? QStringLiteral(" (%1)").arg(n) : QString()) + ext;
        if (!Exists(folder + candidate))
            return candidate;
    }
}

QString TDvShellOperations::Paste(const QString &pSource, const QString &pTargetFolder, bool pMove,
                                  QString *pError)
{
    const QFileInfo source(pSource);
    if (!Exists(pSource)) {
        SetError(pError, QStringLiteral("The file no longer exists."));
        return {};
    }
    QString folder = pTargetFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    if (source.isDir() && !source.isSymLink() &&
        (folder == pSource + QLatin1Char('/') || folder.startsWith(pSource + QLatin1Char('/')))) {
        SetError(pError, QStringLiteral("The destination folder is inside the source folder."));
        return {};
    }
    if (pMove && source.absolutePath() + QLatin1Char('/') == folder)
        return pSource; // moving a file onto itself leaves it where it is
    const QString target = folder + FreeName(folder, source.fileName());
    if (pMove) {
        int err = 0;
        if (RenameNoReplace(pSource, target, &err))
            return target;
        if (err != EXDEV) {
            SetError(pError, ErrnoText(err));
            return {};
        }
    }
    if (!CopyRecursively(pSource, target)) {
        SetError(pError, QStringLiteral("The file could not be copied."));
        return {};
    }
    if (pMove) {
        const bool removed = source.isDir() && !source.isSymLink()
                                 ? QDir(pSource).removeRecursively()
                                 : QFile::remove(pSource);
        if (!removed) {
            SetError(pError, QStringLiteral("The file was copied but could not be removed."));
            return target;
        }
    }
    return target;
}

} // namespace dv
