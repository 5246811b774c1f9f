#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

} // namespace testsupport
