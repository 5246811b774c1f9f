#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace testsupport {

QString writeFile(const QString &dir, const QString &relativePath, const QByteArray &bytes)
{
    const QString path = QDir(dir).filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
    return path;
}

QString useTemporaryCacheHome()
{
    // Left to the end of the program on purpose: the user's cache instance lives as long.
    static QTemporaryDir *const dir = new QTemporaryDir;
    if (!dir->isValid())
        qFatal("cannot make a temporary cache folder");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir->path()));
    return dir->path();
}

QString useTemporaryConfigHome()
{
    static QTemporaryDir *const dir = new QTemporaryDir;
    if (!dir->isValid())
        qFatal("cannot make a temporary configuration folder");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir->path()));
    return dir->path();
}

void useOffscreenScreens(const QByteArray &screens)
{
    static QTemporaryDir *const dir = new QTemporaryDir;
    const QString path = dir->filePath(QStringLiteral("screens.json"));
    QFile f(path);
    if (!dir->isValid() || !f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the screens of the offscreen platform");
    f.write("{\"screens\": [" + screens + "]}");
    f.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(path));
}

} // namespace testsupport
