// One path judged on its own answers as the walk of its folder answers for that entry: the
// entry's kind, then every criterion, on real files.
#include "core/filesearch/MatchSingleEntry.h"
#include "core/filesearch/TDvSearchOptions.h"
#include "core/platform/DirectoryReader.h"
#include "core/platform/FileName.h"
#include "core/platform/FindData.h"
#include "core/platform/UniqueFd.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace dv;

namespace {

// Whether the walk's way of judging, entry by entry of the listing, takes pName of pFolder.
bool WalkTakes(const TDvSearchOptions &pOptions, const QByteArray &pFolder, const QByteArray &pName)
{
    const UniqueFd fd(DirectoryReader::OpenFolder(pFolder));
    if (!fd)
        return false;
    DirectoryReader reader;
    reader.Start(fd.get());
    DirectoryReader::Entry entry;
    while (reader.Next(entry)) {
        if (QByteArrayView(entry.Name, static_cast<qsizetype>(entry.Length)) != pName)
            continue;
        const FindData data(fd.get(), entry.Name, entry.Length, entry.Type);
        return pOptions.MatchesInFolder(data, pFolder);
    }
    return false;
}

bool SetModified(const QByteArray &pPath, const QDateTime &pWhen)
{
    const timespec times[2] = {{pWhen.toSecsSinceEpoch(), 0}, {pWhen.toSecsSinceEpoch(), 0}};
    return utimensat(AT_FDCWD, pPath.constData(), times, 0) == 0;
}

} // namespace

class TstMatchSingleEntry : public QObject
{
    Q_OBJECT

private slots:
    void judgedAsTheWalkOfItsFolder()
    {
        testsupport::TemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray root = EncodeFileName(dir.path()) + '/';
        const QDateTime june(QDate(2020, 6, 15), QTime(12, 0));
        testsupport::writeFile(dir.path(), "file.txt", QByteArray(2000, 'x'));
        QVERIFY(SetModified(root + "file.txt", june));
        testsupport::writeFile(dir.path(), ".hidden.txt", "x");
        testsupport::writeFile(dir.path(), "deep/inner.txt", "x");
        QCOMPARE(mkdir((root + "folder").constData(), 0755), 0);
        QCOMPARE(symlink("file.txt", (root + "link-file").constData()), 0);
        QCOMPARE(symlink("folder", (root + "link-folder").constData()), 0);
        QCOMPARE(symlink("missing", (root + "dangling").constData()), 0);
        QCOMPARE(mkfifo((root + "fifo").constData(), 0644), 0);
        const QByteArray notUtf8 = "caf\xff.txt";
        const int fd = open((root + notUtf8).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        close(fd);

        using Setup = std::function<void(TDvSearchOptions &)>;
        const Setup none = [](TDvSearchOptions &) {};
        struct Case
        {
            const char *what;
            QByteArray path; // below the temporary folder
            Setup setup;
            bool matches;
            bool isFolder;
        };
        const Case cases[] = {
            {"regular file", "file.txt", none, true, false},
            {"folder", "folder", none, true, true},
            {"folder, files only", "folder", [](auto &o) { o.SetFilesAndFolders(ffFilesOnly); },
             false, true},
            {"file, folders only", "file.txt", [](auto &o) { o.SetFilesAndFolders(ffFoldersOnly); },
             false, false},
            {"link to a file", "link-file", none, true, false},
            {"link to a folder", "link-folder", none, true, true},
            {"link to a folder, files only", "link-folder",
             [](auto &o) { o.SetFilesAndFolders(ffFilesOnly); }, false, true},
            {"dangling link", "dangling", none, false, false},
            {"FIFO", "fifo", none, false, false},
            {"name not UTF-8", notUtf8, [](auto &o) { o.SetFilter("caf?.txt"); }, true, false},
            {"name not UTF-8, other mask", notUtf8, [](auto &o) { o.SetFilter("*.doc"); }, false,
             false},
            {"hidden", ".hidden.txt", none, false, false},
            {"hidden, included", ".hidden.txt", [](auto &o) { o.SetIncludeHidden(true); }, true,
             false},
            {"in a subfolder", "deep/inner.txt", none, true, false},
            {"folder part by full path", "deep/inner.txt",
             [](auto &o) {
                 o.SetFilter("*/deep/*");
                 o.SetUseFullPathWhenComparing(true);
             },
             true, false},
            {"at least the size", "file.txt", [](auto &o) { o.SetMinFileSize(2000); }, true, false},
            {"below the least size", "file.txt", [](auto &o) { o.SetMinFileSize(2001); }, false,
             false},
            {"above the most size", "file.txt", [](auto &o) { o.SetMaxFileSize(1999); }, false,
             false},
            {"size bound through a link", "link-file", [](auto &o) { o.SetMaxFileSize(1999); },
             false, false},
            {"within the days", "file.txt",
             [](auto &o) { o.SetLastWriteDays(QDate(2020, 6, 1), QDate(2020, 6, 30)); }, true,
             false},
            {"after the days", "file.txt",
             [](auto &o) { o.SetLastWriteDays(QDate(2020, 7, 1), QDate(2020, 7, 30)); }, false,
             false},
            {"gone", "missing.txt", none, false, false},
            {"folder gone", "nowhere/file.txt", none, false, false},
            {"dot", ".", [](auto &o) { o.SetIncludeHidden(true); }, false, true},
            {"trailing slash", "folder/", none, false, false},
        };
        for (const Case &c : cases) {
            TDvSearchOptions options;
            c.setup(options);
            const QByteArray path = root + c.path;
            const SingleEntryMatch match = MatchSingleEntry(options, path);
            QVERIFY2(match.Matches == c.matches, c.what);
            if (!c.matches)
                continue;
            QVERIFY2(match.IsFolder == c.isFolder, c.what);
            const qsizetype slash = path.lastIndexOf('/');
            QVERIFY2(match.FolderLength == std::size_t(slash + 1), c.what);
            QVERIFY2(WalkTakes(options, path.first(slash + 1), path.sliced(slash + 1)), c.what);
        }
        // Every refusal is one the walk makes too (where the entry exists).
        for (const Case &c : cases) {
            TDvSearchOptions options;
            c.setup(options);
            const QByteArray path = root + c.path;
            const qsizetype slash = path.lastIndexOf('/');
            if (!c.matches && slash + 1 < path.size())
                QVERIFY2(!WalkTakes(options, path.first(slash + 1), path.sliced(slash + 1)),
                         c.what);
        }
    }

    // A relative name is an entry of the working folder; a NUL cannot name another entry.
    void relativeNamesAndNul()
    {
        testsupport::TemporaryDir dir;
        QVERIFY(dir.isValid());
        testsupport::writeFile(dir.path(), "a.txt", "x");
        const QByteArray before = QDir::currentPath().toLocal8Bit();
        QVERIFY(QDir::setCurrent(dir.path()));
        TDvSearchOptions options;
        const SingleEntryMatch match = MatchSingleEntry(options, "a.txt");
        QVERIFY(match.Matches);
        QCOMPARE(match.FolderLength, std::size_t(0));
        QVERIFY(!MatchSingleEntry(options, QByteArrayView("a.txt\0.doc", 10)).Matches);
        QVERIFY(!MatchSingleEntry(options, QByteArrayView("a.txt\0", 6)).Matches);
        QVERIFY(!MatchSingleEntry(options, "").Matches);
        QVERIFY(QDir::setCurrent(QString::fromLocal8Bit(before)));
    }
};

QTEST_GUILESS_MAIN(TstMatchSingleEntry)
#include "tst_MatchSingleEntry.moc"
