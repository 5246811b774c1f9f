#include "core/cache/ExtractedTextCache.h"
#include "core/cache/FileIdentity.h"
#include "core/platform/FileName.h"
#include "core/search/CachedExtraction.h"
#include "core/search/ExtractionClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace dv;

namespace {

constexpr int kSharedFiles = 60;

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

FileIdentity IdentityOf(const QString &path)
{
    return FileIdentity::OfPath(EncodeFileName(path)).value_or(FileIdentity());
}

// Text that compresses about as badly as a document's: one of 64 characters per position.
QString RandomText(int length, quint32 seed)
{
    static const char alphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \xc3\xbc";
    const QString letters = QString::fromUtf8(alphabet);
    QRandomGenerator random(seed);
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text += letters.at(int(random.bounded(quint32(letters.size()))));
    return text;
}

// What a lookup gave, as one comparable text.
QString Found(const std::optional<QString> &text)
{
    return text ? *text : QStringLiteral("<miss>");
}
const QString kMiss = QStringLiteral("<miss>");

int FileMode(const QString &path)
{
    struct stat st;
    return ::stat(EncodeFileName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

void RunSql(const QString &dbPath, const char *sql)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(EncodeFileName(dbPath).constData(), &db), SQLITE_OK);
    char *error = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    const QByteArray message = error ? QByteArray(error) : QByteArray();
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, message.constData());
}

// Overwrites everything after the first page (header and schema) with garbage.
void DamagePagesAfterFirst(const QString &dbPath)
{
    QFile file(dbPath);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    QVERIFY(size > 8192);
    QVERIFY(file.seek(4096));
    QCOMPARE(file.write(QByteArray(int(size - 4096), '\xa5')), size - 4096);
}

// The other program of twoProgramsShareTheCache: stores the odd files of Folder one by one
// while it reads the even ones that the test stores meanwhile; 0 when it saw them all.
int RunSharingProgram(const QString &cacheFolder, const QString &filesFolder)
{
    ExtractedTextCache cache(cacheFolder, kDefaultTextCacheBytes, 0);
    if (!cache.isAvailable())
        return 3;
    std::vector<bool> seen(kSharedFiles, false);
    int missing = kSharedFiles / 2;
    QDeadlineTimer deadline(60000);
    for (int round = 0; (missing > 0 || round < kSharedFiles / 2) && !deadline.hasExpired();
         ++round) {
        if (round < kSharedFiles / 2) {
            const QString path = filesFolder + "/f" + QString::number(2 * round + 1);
            cache.store(EncodeFileName(path), IdentityOf(path), "text of " + path);
            cache.flush();
        } else {
            QThread::msleep(20);
        }
        for (int i = 0; i < kSharedFiles; i += 2) {
            if (seen[i])
                continue;
            const QString path = filesFolder + "/f" + QString::number(i);
            const auto text = cache.lookup(EncodeFileName(path), IdentityOf(path));
            if (text && *text != "text of " + path)
                return 4;
            if (text) {
                seen[i] = true;
                --missing;
            }
        }
    }
    return missing == 0 && cache.isAvailable() ? 0 : 5;
}

} // namespace

class TestExtractedTextCache : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString filePath(const QString &name) const { return m_dir->filePath(name); }
    QString cacheFolder() const { return ExtractedTextCache::DefaultFolder(); }
    QString dbPath() const { return cacheFolder() + "/" + ExtractedTextCache::FileName(); }

    // A file and its text stored in a fresh cache that is then closed.
    void storeAndClose(const QString &name, const QString &text)
    {
        WriteFile(filePath(name), "document " + name.toUtf8());
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        QVERIFY(cache.isAvailable());
        cache.store(EncodeFileName(filePath(name)), IdentityOf(filePath(name)), text);
        cache.flush();
        QCOMPARE(Found(cache.lookup(EncodeFileName(filePath(name)), IdentityOf(filePath(name)))),
                 text);
    }

    // The coarse clock that stamps change times has moved past File's change time.
    bool clockTickedSince(const QString &file)
    {
        const QString probe = filePath("tick-probe");
        WriteFile(probe, "x");
        return IdentityOf(probe).changedNs > IdentityOf(file).changedNs;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        qputenv("XDG_CACHE_HOME", EncodeFileName(m_dir->filePath("cache")));
    }

    void cleanup() { m_dir.reset(); }

    void defaultFolder_data()
    {
        QTest::addColumn<QByteArray>("xdgCacheHome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("absolute") << QByteArray("/srv/c") << QString("/srv/c/delvora");
        QTest::newRow("unset") << QByteArray() << QDir::homePath() + "/.cache/delvora";
        QTest::newRow("relative is ignored")
            << QByteArray("rel/c") << QDir::homePath() + "/.cache/delvora";
    }

    void defaultFolder()
    {
        QFETCH(QByteArray, xdgCacheHome);
        QFETCH(QString, expected);
        if (xdgCacheHome.isNull())
            qunsetenv("XDG_CACHE_HOME");
        else
            qputenv("XDG_CACHE_HOME", xdgCacheHome);
        QCOMPARE(ExtractedTextCache::DefaultFolder(), expected);
    }

    void storedTextComesBack()
    {
        const QString doc = filePath("report \xc3\xa9t\xc3\xa9.pdf");
        const QString empty = filePath("scan.pdf");
        WriteFile(doc, "%PDF-1.4 bytes");
        WriteFile(empty, "%PDF-1.4 image only");
        const QString text =
            QString::fromUtf8("M\xc3\xbcller \xf0\x9f\x98\x80 \n") + RandomText(200000, 1);
        {
            ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
            QVERIFY(cache.isAvailable());
            QVERIFY(cache.lastError().isEmpty());
            cache.store(EncodeFileName(doc), IdentityOf(doc), text);
            cache.store(EncodeFileName(empty), IdentityOf(empty), QString());
            // Would come back as U+FFFD, so it is not kept at all.
            cache.store(EncodeFileName(filePath("x")), IdentityOf(doc), QString(QChar(0xd800)));
            cache.flush();
            QCOMPARE(Found(cache.lookup(EncodeFileName(doc), IdentityOf(doc))), text);
            QCOMPARE(Found(cache.lookup(EncodeFileName(empty), IdentityOf(empty))), QString(""));
            QCOMPARE(Found(cache.lookup(EncodeFileName(filePath("x")), IdentityOf(doc))), kMiss);
        }
        // Kept on disk for the next program; the identity of an open descriptor is the same.
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        const int fd = ::open(EncodeFileName(doc).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const auto identity = FileIdentity::OfDescriptor(fd);
        ::close(fd);
        QVERIFY(identity);
        QCOMPARE(*identity, IdentityOf(doc));
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), *identity)), text);
        QVERIFY(!FileIdentity::OfPath(EncodeFileName(m_dir->path())));
        QVERIFY(!FileIdentity::OfPath(QByteArray("/no/such/file")));
    }

    // A text is read and decompressed a block at a time; a reader may stop after any piece. A
    // stored frame that does not give back exactly its recorded text is a miss, never a text,
    // and the database stays (the frame alone is bad, not the file).
    void textIsReadInPieces_data()
    {
        QTest::addColumn<QByteArray>("damage");
        QTest::newRow("whole") << QByteArray();
        QTest::newRow("frame cut short")
            << QByteArray("UPDATE texts SET data = substr(data, 1, length(data) / 2)");
        QTest::newRow("bytes after the frame")
            << QByteArray("UPDATE texts SET data = data || x'00'");
        QTest::newRow("longer text recorded")
            << QByteArray("UPDATE entries SET text_bytes = text_bytes + 1");
        QTest::newRow("shorter text recorded")
            << QByteArray("UPDATE entries SET text_bytes = text_bytes - 1");
        QTest::newRow("not a frame") << QByteArray("UPDATE texts SET data = randomblob(5000)");
        QTest::newRow("no text row") << QByteArray("DELETE FROM texts");
    }
    void textIsReadInPieces()
    {
        QFETCH(QByteArray, damage);
        const QString text = RandomText(300000, 9) + QString::fromUtf8("\xc3\xa4\xe2\x82\xac");
        const QByteArray utf8 = text.toUtf8();
        storeAndClose("book.pdf", text);
        if (!damage.isEmpty())
            RunSql(dbPath(), damage.constData());

        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        const QByteArray key = EncodeFileName(filePath("book.pdf"));
        const FileIdentity identity = IdentityOf(filePath("book.pdf"));
        QByteArray seen;
        int pieces = 0;
        qsizetype largest = 0;
        const auto all = [&](const char *bytes, qsizetype size) {
            seen.append(bytes, size);
            largest = std::max(largest, size);
            ++pieces;
            return true;
        };
        const ExtractedTextCache::Read read = cache.readUtf8(key, identity, all);
        if (!damage.isEmpty()) {
            QCOMPARE(read, ExtractedTextCache::Read::Missing);
            QCOMPARE(Found(cache.lookup(key, identity)), kMiss);
            QVERIFY(cache.isAvailable());
            QVERIFY(!QFile::exists(dbPath() + ".bad"));
            return;
        }
        QCOMPARE(read, ExtractedTextCache::Read::Whole);
        QVERIFY(pieces > 2);
        QVERIFY(largest <= 128 * 1024);
        QCOMPARE(seen, utf8);

        seen.clear();
        pieces = 0;
        const auto first = [&](const char *bytes, qsizetype size) {
            seen.append(bytes, size);
            ++pieces;
            return false;
        };
        QCOMPARE(cache.readUtf8(key, identity, first), ExtractedTextCache::Read::Stopped);
        QCOMPARE(pieces, 1);
        QVERIFY(utf8.startsWith(seen));
        QCOMPARE(Found(cache.lookup(key, identity)), text);
    }

    // Any single flipped bit of a stored frame is a miss, never another text, also for a
    // reader that stops at the first piece; the next store replaces the damaged entry.
    void flippedBitOfAStoredFrameIsAMiss()
    {
        const QString text = RandomText(40000, 11);
        storeAndClose("memo.pdf", text);
        const QByteArray key = EncodeFileName(filePath("memo.pdf"));
        const FileIdentity identity = IdentityOf(filePath("memo.pdf"));
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);

        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(EncodeFileName(dbPath()).constData(), &db), SQLITE_OK);
        const auto closeDb = qScopeGuard([&] { sqlite3_close(db); });
        sqlite3_busy_timeout(db, 10000);
        sqlite3_stmt *select = nullptr;
        QCOMPARE(sqlite3_prepare_v2(db, "SELECT data FROM texts", -1, &select, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_step(select), SQLITE_ROW);
        const QByteArray frame(static_cast<const char *>(sqlite3_column_blob(select, 0)),
                               sqlite3_column_bytes(select, 0));
        sqlite3_finalize(select);
        QVERIFY(frame.size() > 1000);
        const auto put = [&](const QByteArray &data) {
            sqlite3_stmt *update = nullptr;
            sqlite3_prepare_v2(db, "UPDATE texts SET data = ?1", -1, &update, nullptr);
            sqlite3_bind_blob(update, 1, data.constData(), int(data.size()), SQLITE_STATIC);
            const int rc = sqlite3_step(update);
            sqlite3_finalize(update);
            return rc == SQLITE_DONE;
        };

        int otherTexts = 0;
        int stoppedOnDamage = 0;
        const qint64 bits = qint64(frame.size()) * 8;
        for (qint64 bit = 0; bit < bits; bit += bits / 300 + 1) {
            QByteArray damaged = frame;
            damaged[bit / 8] = char(damaged[bit / 8] ^ (1 << (bit % 8)));
            QVERIFY(put(damaged));
            const QString found = Found(cache.lookup(key, identity));
            if (found != kMiss && found != text)
                ++otherTexts;
            const auto first = [](const char *, qsizetype) { return false; };
            if (cache.readUtf8(key, identity, first) != ExtractedTextCache::Read::Missing)
                ++stoppedOnDamage;
        }
        QCOMPARE(otherTexts, 0);
        QCOMPARE(stoppedOnDamage, 0);
        QVERIFY(cache.isAvailable());

        cache.store(key, identity, text);
        cache.flush();
        QCOMPARE(Found(cache.lookup(key, identity)), text);
    }

    // A fingerprint is kept beside its text and seen before any of the text is read; a text
    // stored again without one (as by a program that makes none) leaves none behind, and a
    // cache made before fingerprints existed gets their table when opened.
    void fingerprintTravelsWithItsText_data()
    {
        QTest::addColumn<bool>("madeWithout");
        QTest::newRow("new cache") << false;
        QTest::newRow("cache made without fingerprints") << true;
    }
    void fingerprintTravelsWithItsText()
    {
        QFETCH(bool, madeWithout);
        if (madeWithout) {
            storeAndClose("old.pdf", "older text");
            RunSql(dbPath(), "DROP TRIGGER texts_added_fingerprint; "
                             "DROP TRIGGER texts_changed_fingerprint; "
                             "DROP TRIGGER texts_removed_fingerprint; DROP TABLE fingerprints;");
        }
        const QString doc = filePath("doc.pdf");
        WriteFile(doc, "%PDF-1.4 bytes");
        const QByteArray key = EncodeFileName(doc);
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        cache.store(key, IdentityOf(doc), "first text", "print of the first");
        cache.flush();

        QByteArray seen = "<none>";
        int pieces = 0;
        const auto visit = [&](const char *, qsizetype) { return ++pieces > 0; };
        const auto refuse = [&](QByteArrayView fingerprint) {
            seen = fingerprint.toByteArray();
            return false;
        };
        QCOMPARE(cache.readUtf8(key, IdentityOf(doc), visit, refuse),
                 ExtractedTextCache::Read::RuledOut);
        QCOMPARE(seen, QByteArray("print of the first"));
        QCOMPARE(pieces, 0);
        const auto admit = [&](QByteArrayView fingerprint) {
            seen = fingerprint.toByteArray();
            return true;
        };
        QCOMPARE(cache.readUtf8(key, IdentityOf(doc), visit, admit),
                 ExtractedTextCache::Read::Whole);
        QVERIFY(pieces > 0);

        cache.store(key, IdentityOf(doc), "second text");
        cache.flush();
        seen = "<none>";
        QCOMPARE(cache.readUtf8(key, IdentityOf(doc), visit, admit),
                 ExtractedTextCache::Read::Whole);
        QVERIFY(seen.isEmpty());
        QCOMPARE(Found(cache.lookup(key, IdentityOf(doc))), QString("second text"));
    }

    // A program that opens the cache rebuilds the WAL's index from the whole WAL and then
    // writes on at its end: a WAL that was only copied into the database grew with every
    // search of programs that come and go. Each batch leaves it empty.
    void walIsEmptiedAfterEachBatch()
    {
        const QString doc = filePath("doc.pdf");
        WriteFile(doc, "%PDF-1.4");
        const QString wal = dbPath() + "-wal";
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        cache.store(EncodeFileName(doc), IdentityOf(doc), RandomText(100000, 4));
        cache.flush();
        QCOMPARE(QFileInfo(wal).size(), 0);
        QVERIFY(cache.lookup(EncodeFileName(doc), IdentityOf(doc)));
        cache.flush(); // the touch of the lookup
        QCOMPARE(QFileInfo(wal).size(), 0);
    }

    // The writer's queue is bounded far below the longest text a server may send; such a
    // text, queued alone, is still kept.
    void textLargerThanTheQueueBoundIsKept()
    {
        const QString doc = filePath("large.pdf");
        WriteFile(doc, "%PDF-1.4 bytes");
        const QString text = QString(10'000'000, QLatin1Char('a')) + QStringLiteral(" end");
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        cache.store(EncodeFileName(doc), IdentityOf(doc), text);
        cache.flush();
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), IdentityOf(doc))), text);
    }

    void changeOfAnyKeyPartMisses_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("content rewritten, same size, time put back") << "rewrite";
        QTest::newRow("touched") << "touch";
        QTest::newRow("appended") << "append";
        QTest::newRow("renamed") << "rename";
        QTest::newRow("hard link") << "link";
        QTest::newRow("replaced by another file") << "replace";
    }

    void changeOfAnyKeyPartMisses()
    {
        QFETCH(QString, change);
        const QString doc = filePath("doc.odt");
        WriteFile(doc, "version one");
        const FileIdentity before = IdentityOf(doc);
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        cache.store(EncodeFileName(doc), before, "text one");
        cache.flush();
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), before)), QString("text one"));

        // Otherwise a change in the same clock tick leaves every time as it was.
        QTRY_VERIFY_WITH_TIMEOUT(clockTickedSince(doc), 5000);
        QString path = doc;
        const QByteArray docBytes = EncodeFileName(doc);
        if (change == "rewrite") {
            WriteFile(doc, "version two");
            const struct timespec times[2] = {
                {before.modifiedNs / 1000000000, before.modifiedNs % 1000000000},
                {before.modifiedNs / 1000000000, before.modifiedNs % 1000000000}};
            QCOMPARE(utimensat(AT_FDCWD, docBytes.constData(), times, 0), 0);
        } else if (change == "touch") {
            QCOMPARE(utimensat(AT_FDCWD, docBytes.constData(), nullptr, 0), 0);
        } else if (change == "append") {
            QFile file(doc);
            QVERIFY(file.open(QIODevice::Append));
            file.write("!");
        } else if (change == "rename") {
            path = filePath("renamed.odt");
            QCOMPARE(::rename(docBytes.constData(), EncodeFileName(path).constData()), 0);
        } else if (change == "link") {
            path = filePath("link.odt");
            QCOMPARE(::link(docBytes.constData(), EncodeFileName(path).constData()), 0);
        } else if (change == "replace") {
            WriteFile(filePath("new.odt"), "version one");
            QCOMPARE(
                ::rename(EncodeFileName(filePath("new.odt")).constData(), docBytes.constData()), 0);
        }
        const FileIdentity after = IdentityOf(path);
        if (change == "rewrite") {
            QCOMPARE(after.size, before.size);
            QCOMPARE(after.modifiedNs, before.modifiedNs);
        }
        QCOMPARE(Found(cache.lookup(EncodeFileName(path), after)), kMiss);
        if (change == "link") {
            // The new link count moved the change time of both names; the path alone still
            // tells them apart.
            cache.store(docBytes, after, "text one");
            cache.flush();
            QCOMPARE(Found(cache.lookup(docBytes, after)), QString("text one"));
            QCOMPARE(Found(cache.lookup(EncodeFileName(path), after)), kMiss);
        }
        // The text of the new version replaces the old one under its path.
        cache.store(EncodeFileName(path), after, "text two");
        cache.flush();
        QCOMPARE(Found(cache.lookup(EncodeFileName(path), after)), QString("text two"));
        if (path == doc)
            QCOMPARE(Found(cache.lookup(docBytes, before)), kMiss);
    }

    void leastRecentlyUsedGoFirst()
    {
        // About 22 KB compressed each: three fit the bound, four do not.
        const qint64 bound = 80000;
        QStringList docs;
        for (const char *name : {"a.pdf", "b.pdf", "c.pdf", "d.pdf", "huge.pdf"}) {
            docs << filePath(name);
            WriteFile(docs.last(), name);
        }
        auto key = [&](int i) { return EncodeFileName(docs[i]); };
        auto text = [&](int i) { return RandomText(i == 4 ? 200000 : 30000, quint32(i)); };
        ExtractedTextCache cache(cacheFolder(), bound, 0);
        for (int i = 0; i < 3; ++i) {
            cache.store(key(i), IdentityOf(docs[i]), text(i));
            cache.flush();
        }
        QCOMPARE(Found(cache.lookup(key(0), IdentityOf(docs[0]))), text(0)); // a is used again
        cache.flush();
        cache.store(key(3), IdentityOf(docs[3]), text(3));
        // Larger than the whole bound: not kept, and nothing is evicted for it.
        cache.store(key(4), IdentityOf(docs[4]), text(4));
        cache.flush();
        QCOMPARE(Found(cache.lookup(key(1), IdentityOf(docs[1]))), kMiss);
        QCOMPARE(Found(cache.lookup(key(4), IdentityOf(docs[4]))), kMiss);
        QCOMPARE(Found(cache.lookup(key(0), IdentityOf(docs[0]))), text(0));
        QCOMPARE(Found(cache.lookup(key(2), IdentityOf(docs[2]))), text(2));
        QCOMPARE(Found(cache.lookup(key(3), IdentityOf(docs[3]))), text(3));
    }

    void damagedOrForeignFileIsMovedAside_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("keptAsFound");
        QTest::newRow("garbage bytes") << "garbage" << true;
        QTest::newRow("database header, garbage after") << "header" << true;
        QTest::newRow("another program's database") << "foreign" << true;
        QTest::newRow("older version of ours") << "older" << true;
        QTest::newRow("damaged pages") << "pages" << true;
        QTest::newRow("damaged while open") << "while open" << false;
    }

    void damagedOrForeignFileIsMovedAside()
    {
        QFETCH(QString, damage);
        QFETCH(bool, keptAsFound);
        QVERIFY(QDir().mkpath(cacheFolder()));
        const QString doc = filePath("old.pdf");
        if (damage == "garbage") {
            QByteArray bytes;
            QRandomGenerator random(7);
            for (int i = 0; i < 16384; ++i)
                bytes += char(random.bounded(256));
            WriteFile(dbPath(), bytes);
        } else if (damage == "header") {
            WriteFile(dbPath(), QByteArray("SQLite format 3", 16) + QByteArray(8176, '\x7f'));
        } else if (damage == "foreign") {
            RunSql(dbPath(), "CREATE TABLE notes(body TEXT); INSERT INTO notes VALUES('mine');");
        } else if (damage == "older") {
            RunSql(dbPath(),
                   "PRAGMA application_id = 1148605560; CREATE TABLE entries(path BLOB);");
        } else if (damage == "pages" || damage == "while open") {
            storeAndClose("old.pdf", RandomText(50000, 3));
            if (damage == "pages")
                DamagePagesAfterFirst(dbPath());
        }
        const QByteArray found = ReadFile(dbPath());

        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        QVERIFY(cache.isAvailable());
        if (damage == "while open") {
            DamagePagesAfterFirst(dbPath());
            QCOMPARE(Found(cache.lookup(EncodeFileName(doc), IdentityOf(doc))), kMiss);
            cache.flush(); // also waits for the new database
            QVERIFY(cache.isAvailable());
        }
        QVERIFY(QFile::exists(dbPath() + ".bad"));
        if (keptAsFound)
            QCOMPARE(ReadFile(dbPath() + ".bad"), found);
        QVERIFY(!QFile::exists(dbPath() + "-wal") || FileMode(dbPath() + "-wal") == 0600);

        const QString fresh = filePath("fresh.pdf");
        WriteFile(fresh, "fresh");
        cache.store(EncodeFileName(fresh), IdentityOf(fresh), "fresh text");
        cache.flush();
        QCOMPARE(Found(cache.lookup(EncodeFileName(fresh), IdentityOf(fresh))),
                 QString("fresh text"));
        if (damage == "pages" || damage == "while open")
            QCOMPARE(Found(cache.lookup(EncodeFileName(doc), IdentityOf(doc))), kMiss);
    }

    void privateModes()
    {
        // A folder that exists with looser modes is made private too.
        QVERIFY(QDir().mkpath(cacheFolder()));
        QCOMPARE(::chmod(EncodeFileName(cacheFolder()).constData(), 0755), 0);
        const QString doc = filePath("doc.epub");
        WriteFile(doc, "epub");
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        cache.store(EncodeFileName(doc), IdentityOf(doc), "secret");
        cache.flush();
        QCOMPARE(FileMode(cacheFolder()), 0700);
        QCOMPARE(FileMode(dbPath()), 0600);
        QVERIFY(QFile::exists(dbPath() + "-wal")); // still open: the WAL is in use
        QCOMPARE(FileMode(dbPath() + "-wal"), 0600);
        QCOMPARE(FileMode(dbPath() + "-shm"), 0600);
    }

    void unusableCacheMeansNoCache_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("cache home is a file") << "home file";
        QTest::newRow("database name is a folder") << "db folder";
        QTest::newRow("database is a symbolic link") << "db link";
        QTest::newRow("made by a newer version") << "newer";
    }

    void unusableCacheMeansNoCache()
    {
        QFETCH(QString, obstacle);
        if (obstacle == "home file") {
            WriteFile(m_dir->filePath("cache"), "not a folder");
        } else {
            QVERIFY(QDir().mkpath(cacheFolder()));
            if (obstacle == "db folder")
                QVERIFY(QDir().mkpath(dbPath()));
            else if (obstacle == "db link")
                QVERIFY(QFile::link(filePath("elsewhere.db"), dbPath()));
            else if (obstacle == "newer")
                RunSql(dbPath(), "PRAGMA application_id = 1148605560; PRAGMA user_version = 99; "
                                 "CREATE TABLE future(x);");
        }
        const QByteArray found = ReadFile(dbPath());
        const QString doc = filePath("doc.pdf");
        WriteFile(doc, "pdf");
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        QVERIFY(!cache.isAvailable());
        QVERIFY(!cache.lastError().isEmpty());
        cache.store(EncodeFileName(doc), IdentityOf(doc), "text");
        cache.flush();
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), IdentityOf(doc))), kMiss);
        // Nothing of the user's was touched.
        QCOMPARE(ReadFile(dbPath()), found);
        QVERIFY(!QFile::exists(dbPath() + ".bad"));
        QVERIFY(!QFile::exists(filePath("elsewhere.db")));
    }

    // Where another user could reach into the cache, it is not used: neither what it stores
    // nor the WAL and its index may end up where that user can read them.
    void folderOthersControlIsRefused_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<bool>("needsRoot");
        QTest::newRow("cache home others can write to") << "home writable" << false;
        QTest::newRow("cache home of another user") << "home foreign" << true;
        QTest::newRow("cache folder of another user") << "folder foreign" << true;
        QTest::newRow("WAL is a symbolic link") << "wal link" << false;
        QTest::newRow("WAL index is a symbolic link") << "shm link" << false;
        QTest::newRow("WAL of another user") << "wal foreign" << true;
    }

    void folderOthersControlIsRefused()
    {
        QFETCH(QString, obstacle);
        QFETCH(bool, needsRoot);
        if (needsRoot && ::geteuid() != 0)
            QSKIP("Needs root, to hand a file to another user");
        constexpr uid_t kOtherUser = 65534;
        const QByteArray home = EncodeFileName(m_dir->filePath("cache"));
        const QString outside = filePath("outside");
        QVERIFY(QDir().mkpath(cacheFolder()));
        if (obstacle == "home writable") {
            QCOMPARE(::chmod(home.constData(), 0777), 0);
        } else if (obstacle == "home foreign") {
            QCOMPARE(::chown(home.constData(), kOtherUser, kOtherUser), 0);
        } else if (obstacle == "folder foreign") {
            QCOMPARE(::chown(EncodeFileName(cacheFolder()).constData(), kOtherUser, kOtherUser), 0);
        } else if (obstacle == "wal link") {
            QVERIFY(QFile::link(outside, dbPath() + "-wal"));
        } else if (obstacle == "shm link") {
            QVERIFY(QFile::link(outside, dbPath() + "-shm"));
        } else if (obstacle == "wal foreign") {
            WriteFile(dbPath() + "-wal", QByteArray());
            QCOMPARE(::chmod(EncodeFileName(dbPath() + "-wal").constData(), 0666), 0);
            QCOMPARE(::chown(EncodeFileName(dbPath() + "-wal").constData(), kOtherUser, kOtherUser),
                     0);
        }
        const QString doc = filePath("doc.pdf");
        WriteFile(doc, "pdf");
        {
            ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
            cache.store(EncodeFileName(doc), IdentityOf(doc), RandomText(20000, 5));
            cache.flush();
            QVERIFY(!cache.isAvailable());
            QVERIFY(!cache.lastError().isEmpty());
        }
        QVERIFY(!QFile::exists(outside));
        if (obstacle == "wal foreign")
            QCOMPARE(QFileInfo(dbPath() + "-wal").size(), 0);
    }

    // A link on the way to the cache is resolved once, when the cache is opened: swapped
    // later, it leads nothing of the cache elsewhere, neither a lookup (it would find a text
    // that someone else planted) nor a store.
    void linkSwappedOnTheWayIsNotFollowed()
    {
        const QString real = filePath("real");
        const QString trap = filePath("trap");
        const QString home = filePath("home");
        QVERIFY(QDir().mkpath(real));
        QVERIFY(QDir().mkpath(trap));
        const QString doc = filePath("doc.pdf");
        const QString other = filePath("other.pdf");
        WriteFile(doc, "pdf");
        WriteFile(other, "other pdf");
        {
            ExtractedTextCache planted(trap + "/delvora", kDefaultTextCacheBytes, 0);
            planted.store(EncodeFileName(doc), IdentityOf(doc), "planted text");
            planted.flush();
        }
        const QString trapDb = trap + "/delvora/" + ExtractedTextCache::FileName();
        const QByteArray trapBefore = ReadFile(trapDb);
        QVERIFY(QFile::link(real, home));
        ExtractedTextCache cache(home + "/delvora", kDefaultTextCacheBytes, 0);
        QVERIFY(cache.isAvailable());
        cache.store(EncodeFileName(doc), IdentityOf(doc), "real text");
        cache.flush();

        QVERIFY(QFile::remove(home));
        QVERIFY(QFile::link(trap, home));
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), IdentityOf(doc))), QString("real text"));
        cache.store(EncodeFileName(other), IdentityOf(other), "other text");
        cache.flush();
        QCOMPARE(Found(cache.lookup(EncodeFileName(other), IdentityOf(other))),
                 QString("other text"));
        QCOMPARE(ReadFile(trapDb), trapBefore);
        QVERIFY(!QFile::exists(trapDb + "-wal") || QFileInfo(trapDb + "-wal").size() == 0);
    }

    // Another program holding the cache's lock or a write is waited for only briefly, and not
    // at all once the search is cancelled: the search goes on without the cache, and a program
    // ends without waiting. (Bounds far above the waits meant, far below the old ones of 5 s.)
    void waitsForOtherProgramsAreShort_data()
    {
        QTest::addColumn<QString>("held");
        QTest::newRow("lock of the folder, at the opening") << "lock";
        QTest::newRow("a write, at the flush at exit") << "write at exit";
        QTest::newRow("a write, the search cancelled") << "write cancelled";
    }
    void waitsForOtherProgramsAreShort()
    {
        QFETCH(QString, held);
        storeAndClose("held.pdf", "first text");
        const QString doc = filePath("held.pdf");
        QElapsedTimer timer;
        if (held == "lock") {
            const QByteArray lockPath = EncodeFileName(dbPath() + ".lock");
            const int fd = ::open(lockPath.constData(), O_RDWR | O_CLOEXEC);
            QVERIFY(fd >= 0);
            const auto unlock = qScopeGuard([&] { ::close(fd); });
            QCOMPARE(::flock(fd, LOCK_EX), 0);
            timer.start();
            ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
            QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
            QVERIFY(!cache.isAvailable());
            return;
        }
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        QVERIFY(cache.isAvailable());
        RunSql(dbPath(), "SELECT 1"); // the WAL exists before another program writes
        sqlite3 *other = nullptr;
        QCOMPARE(sqlite3_open(EncodeFileName(dbPath()).constData(), &other), SQLITE_OK);
        const auto closeOther = qScopeGuard([&] { sqlite3_close(other); });
        QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        cache.store(EncodeFileName(doc), IdentityOf(doc), "second text");
        const auto uncancel = qScopeGuard([] { ContentTestCancelled = false; });
        timer.start();
        if (held == "write at exit") {
            UseTextCache(&cache);
            FlushTextCacheInUse();
            UseTextCache(nullptr);
        } else {
            ContentTestCancelled = true;
            cache.flush();
        }
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        ContentTestCancelled = false;
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), IdentityOf(doc))), QString("first text"));
    }

    // Where the change time cannot be trusted to move (FUSE file systems such as sshfs, FAT,
    // or an unknown one showing the modification time as change time), the bytes' hash is part
    // of the key: a rewrite to the same size with the old times put back then misses.
    void changeTimeIsTrustedOnlyWhereKept_data()
    {
        QTest::addColumn<qint64>("fsType");
        QTest::addColumn<bool>("timesEqual");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("ext4") << qint64(0xEF53) << true << true;
        QTest::newRow("tmpfs") << qint64(0x01021994) << true << true;
        QTest::newRow("FUSE (sshfs)") << qint64(0x65735546) << false << false;
        QTest::newRow("FAT") << qint64(0x4d44) << true << false;
        QTest::newRow("exFAT") << qint64(0x2011BAB0) << false << false;
        QTest::newRow("unknown, times equal") << qint64(0x12345678) << true << false;
        QTest::newRow("unknown, times differ") << qint64(0x12345678) << false << true;
    }
    void changeTimeIsTrustedOnlyWhereKept()
    {
        QFETCH(qint64, fsType);
        QFETCH(bool, timesEqual);
        QFETCH(bool, trusted);
        const qint64 modified = 1700000000LL * 1000000000;
        QCOMPARE(
            FileIdentity::TrustsChangeTime(fsType, modified, timesEqual ? modified : modified + 7),
            trusted);
    }

    void hashOfTheBytesIsPartOfTheKey()
    {
        const QString doc = filePath("mounted.pdf");
        WriteFile(doc, "version one");
        const int fd = ::open(EncodeFileName(doc).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const auto closeFd = qScopeGuard([&] { ::close(fd); });
        QCOMPARE(::lseek(fd, 3, SEEK_SET), off_t(3));
        const std::optional<quint64> first = FileIdentity::HashContent(fd);
        QVERIFY(first && *first != 0);
        QCOMPARE(::lseek(fd, 0, SEEK_CUR), off_t(3)); // the offset an upload reads from stays
        // Rewritten to the same size: what stat shows of it may well look the same there.
        WriteFile(doc, "version two");
        const std::optional<quint64> second = FileIdentity::HashContent(fd);
        QVERIFY(second && *second != *first);

        FileIdentity before = IdentityOf(doc);
        before.contentHash = *first;
        FileIdentity after = before;
        after.contentHash = *second;
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        cache.store(EncodeFileName(doc), before, "text of version one");
        cache.flush();
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), before)), QString("text of version one"));
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), after)), kMiss);
    }

    // A cache of the build before the hash is taken on, its entries kept.
    void cacheWithoutTheHashColumnIsUpgraded()
    {
        storeAndClose("kept.pdf", "kept text");
        RunSql(dbPath(), "ALTER TABLE entries DROP COLUMN content_hash; PRAGMA user_version = 1");
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        QVERIFY(cache.isAvailable());
        const QString doc = filePath("kept.pdf");
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), IdentityOf(doc))), QString("kept text"));
        QVERIFY(!QFile::exists(dbPath() + ".bad"));
    }

    // A text compressed piece by piece as it arrives comes back as it was; pieces may split a
    // surrogate pair, and a text that is not valid UTF-16 is not stored.
    void textCompressedAsItArrives_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pieceLength");
        QTest::addColumn<bool>("storable");
        const QString mixed = RandomText(300000, 13) + QString::fromUtf8("\xf0\x9f\x98\x80 end");
        QTest::newRow("one piece") << mixed << 1000000 << true;
        QTest::newRow("pieces of 7 units") << mixed << 7 << true;
        QTest::newRow("pairs split")
            << QString::fromUtf8("\xf0\x9f\x98\x80").repeated(5000) << 3 << true;
        QTest::newRow("empty") << QString() << 10 << true;
        QTest::newRow("lone high surrogate at the end") << QString(QChar(0xD83D)) << 10 << false;
        QTest::newRow("lone low surrogate") << "a" + QString(QChar(0xDE00)) + "b" << 1 << false;
    }
    void textCompressedAsItArrives()
    {
        QFETCH(QString, text);
        QFETCH(int, pieceLength);
        QFETCH(bool, storable);
        TextCompressor compressor;
        for (qsizetype at = 0; at < text.size(); at += pieceLength)
            compressor.append(QStringView(text).mid(at, pieceLength));
        const QString doc = filePath("streamed.pdf");
        WriteFile(doc, "streamed");
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        cache.store(EncodeFileName(doc), IdentityOf(doc), compressor);
        cache.flush();
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), IdentityOf(doc))),
                 storable ? text : kMiss);
    }

    // However many threads compress at once, only a few texts are compressed together: the
    // others are searched without being stored, and a search's memory stays bounded.
    void textsCompressedAtOnceAreBounded()
    {
        std::vector<std::unique_ptr<TextCompressor>> compressors;
        int refused = 0;
        for (int i = 0; i < 16; ++i) {
            compressors.push_back(std::make_unique<TextCompressor>());
            if (!compressors.back()->append(u"some text"))
                ++refused;
        }
        QVERIFY(refused > 0 && refused < 16);
        compressors.clear();
        TextCompressor again;
        QVERIFY(again.append(u"some text"));
        QByteArray stored;
        qint64 textBytes = 0;
        QVERIFY(again.finish(stored, textBytes));
        QCOMPARE(textBytes, 9);
    }

    void justChangedFileIsKeptOnlyOnceSettled()
    {
        const QString doc = filePath("draft.docx");
        WriteFile(doc, "draft");
        ExtractedTextCache cache(cacheFolder());
        cache.store(EncodeFileName(doc), IdentityOf(doc), "draft text");
        cache.flush();
        QCOMPARE(Found(cache.lookup(EncodeFileName(doc), IdentityOf(doc))), kMiss);
        auto storedOnceSettled = [&] {
            cache.store(EncodeFileName(doc), IdentityOf(doc), "draft text");
            cache.flush();
            return cache.lookup(EncodeFileName(doc), IdentityOf(doc)) == QString("draft text");
        };
        QTRY_VERIFY_WITH_TIMEOUT(storedOnceSettled(), 3 * kDefaultTextCacheSettleMs);
    }

    void lookupsFromSeveralThreads()
    {
        constexpr int kFiles = 40;
        QStringList docs;
        for (int i = 0; i < kFiles; ++i) {
            docs << filePath("d" + QString::number(i));
            WriteFile(docs.last(), QByteArray::number(i));
        }
        auto textOf = [](int i) { return RandomText(3000 + i, quint32(i)); };
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        for (int i = 0; i < kFiles / 2; ++i)
            cache.store(EncodeFileName(docs[i]), IdentityOf(docs[i]), textOf(i));
        cache.flush();

        // Readers check the stored half while the other half is written.
        std::atomic<int> wrong{0};
        std::atomic<bool> writing{true};
        std::vector<std::thread> readers;
        for (int t = 0; t < 4; ++t)
            readers.emplace_back([&, t] {
                for (int round = 0; round < 20 || writing; ++round)
                    for (int i = t; i < kFiles; i += 2) {
                        const auto text =
                            cache.lookup(EncodeFileName(docs[i]), IdentityOf(docs[i]));
                        if (text ? *text != textOf(i) : i < kFiles / 2)
                            ++wrong;
                    }
            });
        for (int i = kFiles / 2; i < kFiles; ++i) {
            cache.store(EncodeFileName(docs[i]), IdentityOf(docs[i]), textOf(i));
            if (i % 5 == 0)
                cache.flush();
        }
        cache.flush();
        writing = false;
        for (std::thread &reader : readers)
            reader.join();
        QCOMPARE(wrong.load(), 0);
        for (int i = 0; i < kFiles; ++i)
            QCOMPARE(Found(cache.lookup(EncodeFileName(docs[i]), IdentityOf(docs[i]))), textOf(i));
    }

    void twoProgramsShareTheCache()
    {
        const QString files = filePath("shared");
        QVERIFY(QDir().mkpath(files));
        for (int i = 0; i < kSharedFiles; ++i)
            WriteFile(files + "/f" + QString::number(i), QByteArray::number(i));
        // Both start on a cache that neither has made yet.
        QProcess other;
        other.setProcessChannelMode(QProcess::ForwardedChannels);
        other.start(QCoreApplication::applicationFilePath(),
                    {"--share-cache", cacheFolder(), files});
        QVERIFY(other.waitForStarted());
        ExtractedTextCache cache(cacheFolder(), kDefaultTextCacheBytes, 0);
        QVERIFY(cache.isAvailable());
        for (int i = 0; i < kSharedFiles; i += 2) {
            const QString path = files + "/f" + QString::number(i);
            cache.store(EncodeFileName(path), IdentityOf(path), "text of " + path);
            cache.flush();
            const QString odd = files + "/f" + QString::number(i + 1);
            const auto text = cache.lookup(EncodeFileName(odd), IdentityOf(odd));
            QVERIFY(!text || *text == "text of " + odd);
        }
        QVERIFY(other.waitForFinished(90000));
        QCOMPARE(other.exitStatus(), QProcess::NormalExit);
        QCOMPARE(other.exitCode(), 0);
        for (int i = 0; i < kSharedFiles; ++i) {
            const QString path = files + "/f" + QString::number(i);
            QCOMPARE(Found(cache.lookup(EncodeFileName(path), IdentityOf(path))),
                     "text of " + path);
        }
        QVERIFY(cache.isAvailable());
        QVERIFY2(cache.lastError().isEmpty(), qPrintable(cache.lastError()));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--share-cache") == 0)
        return RunSharingProgram(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    TestExtractedTextCache test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ExtractedTextCache.moc"
