#include "core/cache/ExtractedTextCache.h"
#include "core/cache/FileIdentity.h"
#include "core/platform/FileName.h"
#include "core/platform/UniqueFd.h"
#include "core/search/CachedExtraction.h"
#include "core/search/ContentMatcher.h"
#include "core/search/ExtractionClient.h"
#include "core/search/TextExtraction.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <fcntl.h>
#include <memory>
#include <sqlite3.h>
#include <thread>
#include <unistd.h>

using namespace dv;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

const QByteArray kServerText = "Alpha beta gamma";

std::optional<QString> Cached(ExtractedTextCache &cache, const QString &path)
{
    cache.flush();
    const auto identity = FileIdentity::OfPath(QFile::encodeName(path));
    if (!identity)
        return std::nullopt;
    return cache.lookup(QFile::encodeName(path), *identity);
}

} // namespace

// The content test and the preview through the extracted-text cache, against a real loopback
// server that counts the requests, on real files.
class TestCachedExtraction : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LoopbackHttpServer m_server;
    std::unique_ptr<ExtractedTextCache> m_cache;
    QString m_doc;
    int m_docNumber = 0;

    ExtractedTextCache *cache() { return m_cache.get(); }

private slots:
    void initTestCase()
    {
        testsupport::useTemporaryCacheHome();
        QVERIFY(m_dir.isValid());
        SetExtractionServerEndpoint(m_server.baseUrl());
    }

    void init()
    {
        // A new cache (no settling time: the files here were just written) and a new document.
        m_cache = std::make_unique<ExtractedTextCache>(
            m_dir.filePath(QStringLiteral("cache%1").arg(++m_docNumber)), kDefaultTextCacheBytes,
            0);
        QVERIFY(m_cache->isAvailable());
        m_doc = testsupport::writeFile(m_dir.path(), QStringLiteral("doc%1.pdf").arg(m_docNumber),
                                       "%PDF-1.4 binary bytes");
        m_server.setAnswer("/tika", HttpAnswer::text(kServerText));
        m_server.clearRequests();
        ContentTestCancelled = false;
    }

    void cleanup() { ContentTestCancelled = false; }

    // A repeated test of an unchanged document asks the server nothing and gives the verdict
    // the text gives, for a word in it and for one that is not.
    void unchangedDocumentIsTestedFromTheCache_data()
    {
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("found");
        QTest::newRow("same absent word") << "delta" << false;
        QTest::newRow("word in the text") << "GAMMA" << true;
        QTest::newRow("word across the text") << "a beta g" << true;
    }
    void unchangedDocumentIsTestedFromTheCache()
    {
        QFETCH(QString, second);
        QFETCH(bool, found);
        QVERIFY(!FileContainsText(m_doc, QStringLiteral("delta"), cache()));
        QCOMPARE(m_server.requestCount(), 1);
        QCOMPARE(Cached(*m_cache, m_doc), QString::fromUtf8(kServerText));
        QCOMPARE(FileContainsText(m_doc, second, cache()), found);
        QCOMPARE(m_server.requestCount(), 1);
    }

    // A cached text is first searched as its stored bytes: the answer is the one the decoded
    // text gives, also where a character beyond ASCII lower-cases to ASCII, for control
    // characters the binary probe of plain files would refuse, and for a text to find beyond
    // ASCII.
    void cachedTextGivesTheDecodedTextsAnswer_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("find");
        QTest::addColumn<bool>("found");
        QTest::newRow("Kelvin sign") << QString::fromUtf16(u"273 \u212A").toUtf8() << "k" << true;
        QTest::newRow("dotted capital I")
            << QString::fromUtf16(u"\u0130STANBUL").toUtf8() << "istanbul" << true;
        QTest::newRow("control characters")
            << QByteArray("a\0\x01\x02\x03\x04\x05 needle", 14) << "NEEDLE" << true;
        QTest::newRow("byte-order mark")
            << QString::fromUtf16(u"\uFEFFalpha").toUtf8() << "alpha" << true;
        QTest::newRow("absent, text beyond ASCII")
            << QString::fromUtf16(u"Gr\u00F6\u00DFe").toUtf8() << "grosse" << false;
        QTest::newRow("beyond ASCII, found") << QString::fromUtf16(u"F\u00DCR alle").toUtf8()
                                             << QString::fromUtf16(u"f\u00FCr") << true;
        QTest::newRow("beyond ASCII, ASCII text")
            << QByteArray("Fur alle") << QString::fromUtf16(u"f\u00FCr") << false;
        QTest::newRow("beyond ASCII, only the ASCII run")
            << QString::fromUtf16(u"Mueller M\u00FCll").toUtf8()
            << QString::fromUtf16(u"M\u00FCller") << false;
        // Texts of several blocks are read a block at a time.
        const QByteArray block(128 * 1024, 'x');
        QTest::newRow("across a block's end")
            << block.left(block.size() - 3) + "needle" + block << "NEEDLE" << true;
        QTest::newRow("Kelvin sign blocks later")
            << block + block + QString::fromUtf16(u"\u212A").toUtf8() << "k" << true;
        QTest::newRow("dotted capital I blocks later")
            << block + block + QString::fromUtf16(u"\u0130stanbul").toUtf8() << "istanbul" << true;
        QTest::newRow("absent from every block") << block + block + block << "needle" << false;
        // A text to find beyond ASCII is looked for in the decoded text, a piece at a time:
        // across a piece's end that splits a character, and far into a long text.
        const QByteArray piece(32 * 1024 - 2, 'x');
        QTest::newRow("beyond ASCII, character split between pieces")
            << piece + QString::fromUtf16(u"FÜR alle").toUtf8() << QString::fromUtf16(u"für")
            << true;
        QTest::newRow("beyond ASCII, blocks later")
            << block + block + QString::fromUtf16(u"Müller").toUtf8()
            << QString::fromUtf16(u"müller") << true;
    }
    void cachedTextGivesTheDecodedTextsAnswer()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, find);
        QFETCH(bool, found);
        m_server.setAnswer("/tika", HttpAnswer::text(text));
        QCOMPARE(FileContainsText(m_doc, find, cache()), found);
        QCOMPARE(m_server.requestCount(), 1);
        m_cache->flush();
        QCOMPARE(FileContainsText(m_doc, find, cache()), found);
        QCOMPARE(m_server.requestCount(), 1);
    }

    // Any change to the file misses the cache: the next test asks the server again.
    void changedDocumentIsSentAgain_data()
    {
        QTest::addColumn<bool>("rewrite");
        QTest::newRow("touched") << false;
        QTest::newRow("rewritten") << true;
    }
    void changedDocumentIsSentAgain()
    {
        QFETCH(bool, rewrite);
        QVERIFY(!FileContainsText(m_doc, QStringLiteral("delta"), cache()));
        m_cache->flush();
        QFile f(m_doc);
        QVERIFY(f.open(QIODevice::ReadWrite));
        if (rewrite)
            QCOMPARE(f.write("%PDF-1.5"), qint64(8));
        else
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                  QFileDevice::FileModificationTime));
        f.close();
        m_server.setAnswer("/tika", HttpAnswer::text("now with delta"));
        QVERIFY(FileContainsText(m_doc, QStringLiteral("delta"), cache()));
        QCOMPARE(m_server.requestCount(), 2);
    }

    // With a cache the read goes on past the match to the text's end: the text is stored and
    // the next search of the file, for any word, asks the server nothing.
    void matchingDocumentIsReadWholeAndStored()
    {
        HttpAnswer answer = HttpAnswer::text(kServerText);
        answer.pieceSize = 3; // the match arrives before the rest of the text
        m_server.setAnswer("/tika", answer);
        QVERIFY(FileContainsText(m_doc, QStringLiteral("alpha"), cache()));
        QCOMPARE(Cached(*m_cache, m_doc), QString::fromUtf8(kServerText));
        QVERIFY(FileContainsText(m_doc, QStringLiteral("alpha"), cache()));
        QVERIFY(!FileContainsText(m_doc, QStringLiteral("delta"), cache()));
        QCOMPARE(m_server.requestCount(), 1);
    }

    // After the match: without a cache the client leaves at once, though the server holds the
    // rest of the text for minutes; with one, it reads on to the text bound (not storing the
    // cut text) or to a cancel, which ends the read at once. The verdict is the match.
    void readAfterTheMatchEnds_data()
    {
        QTest::addColumn<bool>("withCache");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("no cache: at the match") << false << false;
        QTest::newRow("cache: at the bound") << true << false;
        QTest::newRow("cache: at a cancel") << true << true;
    }
    void readAfterTheMatchEnds()
    {
        QFETCH(bool, withCache);
        QFETCH(bool, cancel);
        HttpAnswer answer = HttpAnswer::text("alpha ");
        answer.contentLength = false;
        if (withCache && !cancel) {
            answer.endlessTail = QByteArray(65536, 'z');
        } else {
            answer.body += QByteArray(64, 'x');
            answer.pieceSize = 6;
            answer.delayBetweenPiecesMs = 600000;
            SetExtractionReadTimeout(600000);
        }
        const auto restore = qScopeGuard([] { SetExtractionReadTimeout(0); });
        m_server.setAnswer("/tika", answer);
        std::thread canceller;
        if (cancel)
            canceller = std::thread([this] {
                QDeadlineTimer deadline(20000);
                while (m_server.requestCount() < 1 && !deadline.hasExpired())
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                ContentTestCancelled = true;
            });
        const ContentTestResult result =
            TestFileContent(m_doc, QStringLiteral("ALPHA"), withCache ? cache() : nullptr);
        if (canceller.joinable())
            canceller.join();
        // A cancel may come before the first piece: then the test is cancelled, not unfound.
        if (cancel && !result.Found)
            QCOMPARE(result.Error.Failure, ContentTestFailure::Cancelled);
        else
            QVERIFY(result.Found);
        QCOMPARE(Cached(*m_cache, m_doc), std::nullopt);
        QCOMPARE(m_server.requestCount(), 1);
        // A held answer ended before its time (the test is here, not ten minutes on); the
        // endless one ends only when the client goes away.
        if (withCache && !cancel) {
            QDeadlineTimer deadline(20000);
            while (!m_server.requests().value(0).connectionEnded && !deadline.hasExpired())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            QVERIFY(m_server.requests().value(0).connectionEnded);
        }
    }

    // Nothing of an exchange that did not end well is stored, however much text came first.
    void failedExchangeIsNotStored_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"HTTP error", "connection lost in the body",
                                 "time-out in the body", "cancelled", "beyond the text bound"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void failedExchangeIsNotStored()
    {
        QFETCH(QString, kind);
        HttpAnswer answer = HttpAnswer::text(kServerText);
        if (kind == u"HTTP error") {
            answer = HttpAnswer::text(kServerText, 500, "Server Error");
        } else if (kind == u"connection lost in the body") {
            answer.closeAfterBodyBytes = 5;
        } else if (kind == u"time-out in the body") {
            answer.pieceSize = 5;
            answer.delayBetweenPiecesMs = 3000;
        } else if (kind == u"cancelled") {
            answer.pieceSize = 5;
            answer.delayBetweenPiecesMs = 600000;
        } else {
            answer = HttpAnswer::text(QByteArray(kMaxExtractedTextLength + 1, 'x'));
        }
        m_server.setAnswer("/tika", answer);
        // Cancelled while the server holds the rest of the text back.
        std::thread canceller;
        if (kind == u"cancelled")
            canceller = std::thread([this] {
                QDeadlineTimer deadline(20000);
                while (m_server.requestCount() < 1 && !deadline.hasExpired())
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                ContentTestCancelled = true;
            });
        QString text, error;
        const int timeoutMs = kind == u"time-out in the body" ? 500 : 30000;
        ExtractTextThroughCache(m_doc, text, error, cache(), nullptr, m_server.baseUrl(),
                                timeoutMs);
        if (canceller.joinable())
            canceller.join();
        QCOMPARE(m_server.requestCount(), 1);
        QCOMPARE(Cached(*m_cache, m_doc), std::nullopt);
        ContentTestCancelled = false;
        m_server.setAnswer("/tika", HttpAnswer::text(kServerText));
        QVERIFY(!FileContainsText(m_doc, QStringLiteral("delta"), cache()));
        QCOMPARE(m_server.requestCount(), 2);
    }

    // Over a set of documents and words, the cache never changes a verdict: the same files
    // are found without it, on a first pass that fills it and on a pass served from it.
    void sameFilesWithAndWithoutTheCache()
    {
        // A server that answers with the document's own bytes.
        LoopbackHttpServer echo;
        echo.setHandler([](const testsupport::HttpRequestRecord &r) {
            return HttpAnswer::text("Text: " + r.body);
        });
        SetExtractionServerEndpoint(echo.baseUrl());
        const auto restore =
            qScopeGuard([this] { SetExtractionServerEndpoint(m_server.baseUrl()); });
        QStringList docs;
        const QList<QByteArray> bodies = {"alpha beta",          "Beta GAMMA",        "",
                                          "gamma delta epsilon", "Straße und Müller", "alpha"};
        for (int i = 0; i < bodies.size(); ++i)
            docs << testsupport::writeFile(
                m_dir.path(), QStringLiteral("corpus%1/d%2.odt").arg(m_docNumber).arg(i),
                bodies[i]);
        const QStringList words = {"alpha", "GAMMA", "straße", "MÜLLER", "text", "zeta", "a b"};
        const auto found = [&](ExtractedTextCache *with) {
            QStringList hits;
            for (const QString &word : words)
                for (const QString &doc : docs)
                    if (FileContainsText(doc, word, with))
                        hits << word + u':' + doc;
            m_cache->flush();
            return hits;
        };
        const QStringList expected = found(nullptr);
        QVERIFY(expected.contains(QStringLiteral("MÜLLER:") + docs[4]));
        QCOMPARE(found(cache()), expected);
        const int requests = echo.requestCount();
        QCOMPARE(found(cache()), expected);
        // Every document was read whole at least once ("zeta" is in none): none is asked again.
        QCOMPARE(echo.requestCount(), requests);
    }

    // A text read while the file changed belongs to neither version: not stored.
    void documentChangedDuringTheExchangeIsNotStored()
    {
        const QByteArray key = QFile::encodeName(m_doc);
        const auto before = FileIdentity::OfPath(key);
        QVERIFY(before);
        LoopbackHttpServer writer;
        writer.setHandler([path = m_doc](const testsupport::HttpRequestRecord &) {
            QFile f(path);
            if (f.open(QIODevice::Append))
                f.write(" appended");
            return HttpAnswer::text(kServerText);
        });
        SetExtractionServerEndpoint(writer.baseUrl());
        const auto restore =
            qScopeGuard([this] { SetExtractionServerEndpoint(m_server.baseUrl()); });
        QVERIFY(!FileContainsText(m_doc, QStringLiteral("delta"), cache()));
        QCOMPARE(writer.requestCount(), 1);
        m_cache->flush();
        QCOMPARE(m_cache->lookup(key, *before), std::nullopt);
        QCOMPARE(Cached(*m_cache, m_doc), std::nullopt);
    }

    // A name is keyed by its own bytes, also when they are not UTF-8: the text is found under
    // them and served from there, and not under the bytes Qt would make of the name (which two
    // such names could share).
    void nameIsKeyedByItsOwnBytes_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9.pdf");
        QTest::newRow("latin-1 byte") << QByteArray("caf\xe9.pdf");
        QTest::newRow("lone continuation bytes") << QByteArray("\x80\xbf.pdf");
    }
    void nameIsKeyedByItsOwnBytes()
    {
        QFETCH(QByteArray, name);
        const QByteArray bytes = QFile::encodeName(m_dir.path()) + '/' + name;
        {
            const UniqueFd fd(::open(bytes.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
            QVERIFY(fd);
            QCOMPARE(::write(fd.get(), "%PDF-1.4", 8), ssize_t(8));
        }
        const QString path = DecodeFileName(bytes);
        QVERIFY(!FileContainsText(path, QStringLiteral("delta"), cache()));
        m_cache->flush();
        const auto identity = FileIdentity::OfPath(bytes);
        QVERIFY(identity);
        QCOMPARE(m_cache->lookup(bytes, *identity), QString::fromUtf8(kServerText));
        if (!IsValidUtf8(name.constData(), std::size_t(name.size())))
            QCOMPARE(m_cache->lookup(QFile::encodeName(path), *identity), std::nullopt);
        QVERIFY(FileContainsText(path, QStringLiteral("gamma"), cache()));
        QCOMPARE(m_server.requestCount(), 1);
    }

    // A document without text is known as such after one exchange.
    void emptyTextIsStored()
    {
        m_server.setAnswer("/tika", HttpAnswer::text(""));
        QVERIFY(!FileContainsText(m_doc, QStringLiteral("delta"), cache()));
        QCOMPARE(Cached(*m_cache, m_doc), QString());
        QVERIFY(!FileContainsText(m_doc, QStringLiteral("delta"), cache()));
        QCOMPARE(m_server.requestCount(), 1);
    }

    // The preview's extraction fills the cache and then takes its text from there.
    void previewUsesTheCache()
    {
        for (int round = 0; round < 2; ++round) {
            QString text;
            bool cut = true;
            QVERIFY(ExtractText(m_doc, 1000, text, &cut, cache()));
            QCOMPARE(text, QString::fromUtf8(kServerText));
            QVERIFY(!cut);
            m_cache->flush();
        }
        QCOMPARE(m_server.requestCount(), 1);
        // A text the preview stored serves the content test as well.
        QVERIFY(FileContainsText(m_doc, QStringLiteral("beta"), cache()));
        QCOMPARE(m_server.requestCount(), 1);
    }

    // A stored text damaged near its end is extracted again, and what the damaged one held
    // reaches the caller not at all (a text read piece by piece cannot be taken back).
    void damagedTextIsNotHandedOn()
    {
        QByteArray long_;
        const QByteArray word = QString::fromUtf16(u"gr\u00FC\u00DFe ").toUtf8();
        for (int i = 0; long_.size() < 200 * 1024; ++i)
            long_ += word + QByteArray::number(i * 7919) + ' ';
        m_server.setAnswer("/tika", HttpAnswer::text(long_));
        QString text;
        QVERIFY(ExtractText(m_doc, 1 << 20, text, nullptr, cache()));
        QCOMPARE(text, QString::fromUtf8(long_));
        m_cache->flush();
        sqlite3 *db = nullptr;
        const QByteArray dbPath = QFile::encodeName(m_dir.filePath(
            QStringLiteral("cache%1/%2").arg(m_docNumber).arg(ExtractedTextCache::FileName())));
        QCOMPARE(sqlite3_open(dbPath.constData(), &db), SQLITE_OK);
        const auto close = qScopeGuard([&] { sqlite3_close(db); });
        // One bit flipped in the frame's last ten bytes.
        sqlite3_stmt *read = nullptr;
        QCOMPARE(sqlite3_prepare_v2(db, "SELECT id, data FROM texts", -1, &read, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_step(read), SQLITE_ROW);
        const qint64 id = sqlite3_column_int64(read, 0);
        QByteArray frame(static_cast<const char *>(sqlite3_column_blob(read, 1)),
                         sqlite3_column_bytes(read, 1));
        sqlite3_finalize(read);
        QVERIFY(frame.size() > 1000);
        frame[frame.size() - 10] = char(frame[frame.size() - 10] ^ 1);
        sqlite3_stmt *write = nullptr;
        QCOMPARE(
            sqlite3_prepare_v2(db, "UPDATE texts SET data = ?1 WHERE id = ?2", -1, &write, nullptr),
            SQLITE_OK);
        sqlite3_bind_blob(write, 1, frame.constData(), int(frame.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(write, 2, id);
        QCOMPARE(sqlite3_step(write), SQLITE_DONE);
        sqlite3_finalize(write);
        m_server.setAnswer("/tika", HttpAnswer::text("fresh text"));
        QVERIFY(ExtractText(m_doc, 1 << 20, text, nullptr, cache()));
        QCOMPARE(text, QStringLiteral("fresh text"));
        QCOMPARE(m_server.requestCount(), 2);
    }

    // Plain-text files are read directly, never stored.
    void plainTextIsNotCached()
    {
        const QString txt = testsupport::writeFile(m_dir.path(), "notes.txt", "plain delta text");
        QString text;
        QVERIFY(ExtractText(txt, 1000, text, nullptr, cache()));
        QVERIFY(FileContainsText(txt, QStringLiteral("delta"), cache()));
        QCOMPARE(Cached(*m_cache, txt), std::nullopt);
        QCOMPARE(m_server.requestCount(), 0);
    }

    // The calls without a cache argument take the one in use; turned off, nothing is cached
    // and the user's cache is not opened.
    void cacheInUse()
    {
        UseTextCache(cache());
        QVERIFY(!FileContainsText(m_doc, QStringLiteral("delta")));
        m_cache->flush();
        QString text;
        QVERIFY(ExtractText(m_doc, 1000, text));
        QCOMPARE(m_server.requestCount(), 1);

        SetTextCacheEnabled(false);
        UseTextCache(nullptr);
        QCOMPARE(TextCacheInUse(), nullptr);
        QVERIFY(!FileContainsText(m_doc, QStringLiteral("delta")));
        QVERIFY(ExtractText(m_doc, 1000, text));
        QCOMPARE(m_server.requestCount(), 3);
        QVERIFY(!QFile::exists(ExtractedTextCache::DefaultFolder()));
        SetTextCacheEnabled(true);
    }
};

QTEST_GUILESS_MAIN(TestCachedExtraction)
#include "tst_CachedExtraction.moc"
