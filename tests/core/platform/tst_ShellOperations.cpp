#include "core/platform/FileName.h"
#include "core/platform/ShellOperations.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace dv;

namespace {

QByteArray ReadBytes(const QString &path)
{
    const int fd = ::open(EncodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "<missing>";
    QByteArray out(4096, '\0');
    const ssize_t n = ::read(fd, out.data(), out.size());
    ::close(fd);
    out.truncate(n < 0 ? 0 : n);
    return out;
}

QByteArray LinkTarget(const QString &path)
{
    QByteArray out(4096, '\0');
    const ssize_t n = ::readlink(EncodeFileName(path).constData(), out.data(), out.size());
    out.truncate(n < 0 ? 0 : n);
    return out;
}

} // namespace

class TstShellOperations : public QObject
{
    Q_OBJECT

private slots:
    // A folder is copied whole: nested files, a link kept as a link, a name that is not
    // UTF-8; pasted into its own parent it gets a free " - Copy" name, and the source stays.
    void pastingAFolderCopiesItsWholeTree()
    {
        testsupport::TemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.path() + "/docs";
        const QString odd = DecodeFileName(QByteArray("caf\xff.txt"));
        testsupport::writeFile(source, "a.txt", "alpha");
        testsupport::writeFile(source, "sub/deeper/b.txt", "beta");
        {
            const int fd = ::open((EncodeFileName(source) + "/caf\xff.txt").constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "odd name", 8), ssize_t(8));
            ::close(fd);
        }
        QCOMPARE(::symlink("a.txt", EncodeFileName(source + "/link").constData()), 0);
        const QString other = dir.path() + "/other";
        QVERIFY(QDir().mkpath(other));

        for (const QString &folder : {other, dir.path()}) {
            QString error;
            const QString copy = ShellOperations::Paste(source, folder, false, &error);
            QVERIFY2(!copy.isEmpty(), qPrintable(error));
            QCOMPARE(copy, folder == other ? other + "/docs" : dir.path() + "/docs - Copy");
            QCOMPARE(ReadBytes(copy + "/a.txt"), QByteArray("alpha"));
            QCOMPARE(ReadBytes(copy + "/sub/deeper/b.txt"), QByteArray("beta"));
            QCOMPARE(ReadBytes(copy + "/" + odd), QByteArray("odd name"));
            QCOMPARE(LinkTarget(copy + "/link"), QByteArray("a.txt"));
        }
        QCOMPARE(ReadBytes(source + "/sub/deeper/b.txt"), QByteArray("beta"));
    }

    void pastingAFolderIntoItselfIsRefused()
    {
        testsupport::TemporaryDir dir;
        const QString source = dir.path() + "/docs";
        testsupport::writeFile(source, "sub/a.txt", "alpha");
        QString error;
        QVERIFY(ShellOperations::Paste(source, source + "/sub", false, &error).isEmpty());
        QCOMPARE(error, QStringLiteral("The destination folder is inside the source folder."));
        QVERIFY(!QFileInfo::exists(source + "/sub/docs"));
    }
};

QTEST_GUILESS_MAIN(TstShellOperations)
#include "tst_ShellOperations.moc"
