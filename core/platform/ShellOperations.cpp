#include "core/platform/ShellOperations.h"

#include "core/platform/FileName.h"
#include "core/platform/UniqueFd.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Copies with the name's own bytes: Qt's file classes would re-encode an escaped byte and
// name another file. Never replaces an existing target.
bool CopyFileBytes(const QByteArray &pSource, const QByteArray &pTarget, mode_t pMode)
{
    const UniqueFd in(::open(pSource.constData(), O_RDONLY | O_CLOEXEC));
    if (!in)
        return false;
    UniqueFd out(
        ::open(pTarget.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, pMode & 07777));
    if (!out)
        return false;
    bool ok = true;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out.get(), buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok)
            break;
    }
    if (!out.close())
        ok = false;
    if (!ok)
        ::unlink(pTarget.constData()); // no half copy left behind
    return ok;
}

// Calls Visit with each child's name of a folder ("." and ".." left out) until it returns
// false; false when the folder cannot be read or Visit stopped.
template <class Visit> bool ForEachChild(const QByteArray &pFolder, Visit &&visit)
{
    DIR *dir = ::opendir(pFolder.constData());
    if (!dir)
        return false;
    bool ok = true;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (!visit(entry->d_name)) {
            ok = false;
            break;
        }
    }
    ::closedir(dir);
    return ok;
}

bool CopyRecursively(const QByteArray &pSource, const QByteArray &pTarget)
{
    struct stat st;
    if (::lstat(pSource.constData(), &st) != 0)
        return false;
    if (S_ISLNK(st.st_mode)) {
        QByteArray link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(pSource.constData(), link.data(), link.size());
        if (n < 0 || n >= link.size())
            return false;
        link.truncate(n);
        return ::symlink(link.constData(), pTarget.constData()) == 0;
    }
    if (!S_ISDIR(st.st_mode))
        return CopyFileBytes(pSource, pTarget, st.st_mode);
    if (::mkdir(pTarget.constData(), 0777) != 0)
        return false;
    // The first child that cannot be copied ends the copy.
    return ForEachChild(pSource, [&](const char *name) {
        return CopyRecursively(pSource + '/' + name, pTarget + '/' + name);
    });
}

bool RemoveRecursively(const QByteArray &pPath)
{
    struct stat st;
    if (::lstat(pPath.constData(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(pPath.constData()) == 0;
    // A child that cannot be removed leaves the folder, and the others go still.
    bool ok = true;
    if (!ForEachChild(pPath, [&](const char *name) {
            ok = RemoveRecursively(pPath + '/' + name) && ok;
            return true;
        }))
        return false;
    return ok && ::rmdir(pPath.constData()) == 0;
}

// Moves a name that is not UTF-8 into the home trash by its own bytes (QFile::moveToTrash
// re-encodes the name and would miss the file). Only within the home trash's file system;
// false when it cannot be done, leaving the file in place.
bool MoveToHomeTrashRaw(const QByteArray &pPath, const QString &pDataHome)
{
    const QByteArray trash = EncodeFileName(pDataHome) + "/Trash";
    const QByteArray files = trash + "/files/";
    const QByteArray info = trash + "/info/";
    struct stat source, target;
    if (::lstat(pPath.constData(), &source) != 0 || ::stat(files.constData(), &target) != 0 ||
        source.st_dev != target.st_dev)
        return false;
    const QByteArray name = pPath.mid(pPath.lastIndexOf('/') + 1);
    const QByteArray content =
        "[Trash Info]\nPath=" + pPath.toPercentEncoding("/") +
        "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toLatin1() +
        '\n';
    for (int n = 1; n < 10000; ++n) {
        const QByteArray entry = n == 1 ? name : name + '.' + QByteArray::number(n);
        // The info file is made first and exclusively: it reserves the name.
        const QByteArray infoPath = info + entry + ".trashinfo";
        UniqueFd fd(::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool written =
            ::write(fd.get(), content.constData(), content.size()) == content.size();
        if (!fd.close() || !written) {
            ::unlink(infoPath.constData());
            return false;
        }
        int err = 0;
        if (RenameNoReplace(DecodeFileName(pPath), DecodeFileName(files + entry), &err))
            return true;
        ::unlink(infoPath.constData());
        if (err != EEXIST)
            return false;
    }
    return false;
}

} // namespace

QMimeData *ShellOperations::FileUrlsMimeData(const QStringList &pPaths, bool pCut)
{
    auto *data = new QMimeData;
    QList<QUrl> urls;
    QByteArray gnome = pCut ? QByteArrayLiteral("cut") : QByteArrayLiteral("copy");
    for (const QString &path : pPaths) {
        const QUrl url = FileUrlFromPath(path);
        urls.append(url);
        gnome += '\n' + url.toEncoded();
    }
    data->setUrls(urls);
    data->setData(kGnomeFormat, gnome);
    data->setData(kKdeCutFormat, pCut ? QByteArrayLiteral("1") : QByteArrayLiteral("0"));
    data->setText(pPaths.join(QLatin1Char('\n')));
    return data;
}

QStringList ShellOperations::LocalFiles(const QMimeData *pData)
{
    QStringList files;
    if (!pData)
        return files;
    for (const QUrl &url : pData->urls()) {
        QString path = PathFromFileUrl(url);
        // A folder may be given as "dir/": the name is what is pasted.
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        if (!path.isEmpty())
            files.append(path);
    }
    return files;
}

bool ShellOperations::IsCut(const QMimeData *pData)
{
    if (!pData)
        return false;
    if (pData->hasFormat(kGnomeFormat))
        return pData->data(kGnomeFormat).startsWith("cut");
    return pData->data(kKdeCutFormat).startsWith('1');
}

bool ShellOperations::MoveToTrash(const QString &pPath, QString *pError)
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
    const QByteArray bytes = EncodeFileName(pPath);
    if (bytes != pPath.toUtf8()) {
        if (!dataHome.isEmpty() && MoveToHomeTrashRaw(bytes, dataHome))
            return true;
        SetError(pError, QStringLiteral("The file could not be moved to the trash."));
        return false;
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

bool ShellOperations::Rename(const QString &pPath, const QString &pNewName, QString *pError)
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

QString ShellOperations::FreeName(const QString &pFolder, const QString &pName)
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

QString ShellOperations::Paste(const QString &pSource, const QString &pTargetFolder, bool pMove,
                               QString *pError)
{
    struct stat st;
    if (::lstat(EncodeFileName(pSource).constData(), &st) != 0) {
        SetError(pError, QStringLiteral("The file no longer exists."));
        return {};
    }
    const bool isFolder = S_ISDIR(st.st_mode);
    QString folder = pTargetFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    if (isFolder &&
        (folder == pSource + QLatin1Char('/') || folder.startsWith(pSource + QLatin1Char('/')))) {
        SetError(pError, QStringLiteral("The destination folder is inside the source folder."));
        return {};
    }
    const qsizetype slash = pSource.lastIndexOf(QLatin1Char('/'));
    if (pMove && pSource.left(slash + 1) == folder)
        return pSource; // moving a file onto itself leaves it where it is
    const QString target = folder + FreeName(folder, pSource.mid(slash + 1));
    if (pMove) {
        int err = 0;
        if (RenameNoReplace(pSource, target, &err))
            return target;
        if (err != EXDEV) {
            SetError(pError, ErrnoText(err));
            return {};
        }
    }
    if (!CopyRecursively(EncodeFileName(pSource), EncodeFileName(target))) {
        SetError(pError, QStringLiteral("The file could not be copied."));
        return {};
    }
    if (pMove) {
        if (!RemoveRecursively(EncodeFileName(pSource))) {
            SetError(pError, QStringLiteral("The file was copied but could not be removed."));
            return target;
        }
    }
    return target;
}

} // namespace dv
