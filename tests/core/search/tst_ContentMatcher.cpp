#include "core/search/AsciiCaseInsensitiveFinder.h"
#include "core/search/CachedExtraction.h"
#include "core/search/ContentMatcher.h"
#include "core/search/ContentPattern.h"
#include "core/search/ExtractionClient.h"
#include "core/search/FileAcceptance.h"
#include "core/search/PlainTextMatch.h"
#include "core/search/TextExtraction.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace dv;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

// What the plain-text path answers without the shortcut: decode, then search ignoring case.
bool fullPathFinds(const QByteArray &bytes, const QString &needle)
{
    return PosIgnoreCase(DecodePlainText(bytes.constData(), bytes.size()), needle) > 0;
}

// The verdict of a TextBytesMatcher fed Bytes in pieces of random sizes from 1 to MaxPiece
// bytes (MaxPiece 0: in one piece).
PlainTextVerdict verdictInPieces(const QByteArray &bytes, const ContentPattern &pattern,
                                 QRandomGenerator &rng, int maxPiece)
{
    TextBytesMatcher matcher(pattern);
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype n = maxPiece > 0
                                ? std::min<qsizetype>(1 + rng.bounded(maxPiece), bytes.size() - at)
                                : bytes.size();
        if (!matcher.feed(bytes.constData() + at, n))
            break;
        at += n;
    }
    return matcher.verdict();
}

// Restores the process-wide switch whatever a test does.
struct ScanSwitch
{
    explicit ScanSwitch(bool on) { ScanUnrecognizedFormats = on; }
    ~ScanSwitch() { ScanUnrecognizedFormats = false; }
};

// Folders of 250-character names, deep enough that the whole path passes PATH_MAX.
constexpr int kDeepLevels = 20;
const std::string kDeepName(250, 'd');

// Writes Name at the bottom of the deep folders under Base (made relative to each other, as
// no whole path can reach there); the file's full path.
QString writeDeepFile(const QString &base, const QString &name, const QByteArray &bytes)
{
    int dir = ::open(QFile::encodeName(base).constData(), O_DIRECTORY | O_CLOEXEC);
    QString path = base;
    for (int i = 0; i < kDeepLevels && dir >= 0; ++i) {
        ::mkdirat(dir, kDeepName.c_str(), 0700);
        const int next = ::openat(dir, kDeepName.c_str(), O_DIRECTORY | O_CLOEXEC);
        ::close(dir);
        dir = next;
        path += QLatin1Char('/') + QString::fromStdString(kDeepName);
    }
    const int fd = ::openat(dir, QFile::encodeName(name).constData(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0 && ::write(fd, bytes.constData(), bytes.size()) != bytes.size())
        qWarning("short write");
    ::close(fd);
    ::close(dir);
    return path + QLatin1Char('/') + name;
}

// Removes what writeDeepFile made, from the bottom up (QDir cannot reach that deep).
void removeDeepFile(const QString &base, const QString &name)
{
    std::vector<int> dirs{::open(QFile::encodeName(base).constData(), O_DIRECTORY | O_CLOEXEC)};
    for (int i = 0; i < kDeepLevels && dirs.back() >= 0; ++i)
        dirs.push_back(::openat(dirs.back(), kDeepName.c_str(), O_DIRECTORY | O_CLOEXEC));
    ::unlinkat(dirs.back(), QFile::encodeName(name).constData(), 0);
    for (size_t i = dirs.size() - 1; i > 0; --i) {
        ::close(dirs[i]);
        ::unlinkat(dirs[i - 1], kDeepName.c_str(), AT_REMOVEDIR);
    }
    ::close(dirs[0]);
}

} // namespace

class TestContentMatcher : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LoopbackHttpServer m_server;

    QString write(const QString &name, const QByteArray &bytes)
    {
        return testsupport::writeFile(m_dir.path(), name, bytes);
    }

private slots:
    void initTestCase()
    {
        testsupport::useTemporaryCacheHome();
        QVERIFY(m_dir.isValid());
        m_server.setAnswer("/tika", HttpAnswer::text("Extracted Document Text"));
        SetExtractionServerEndpoint(m_server.baseUrl());
    }
    void init() { m_server.clearRequests(); }
    void cleanupTestCase() { SetExtractionServerEndpoint(QString()); }

    void skippedExtensions_data()
    {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<bool>("skipped");
        QTest::newRow(".MP4") << ".MP4" << true;
        QTest::newRow(".mp4") << ".mp4" << true;
        QTest::newRow(".ts") << ".ts" << true;
        QTest::newRow(".core") << ".core" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow(".txt") << ".txt" << false;
        QTest::newRow(".7z") << ".7z" << false;
        QTest::newRow(".tar") << ".tar" << false;
        QTest::newRow("no dot") << "mp4" << false;
    }
    void skippedExtensions()
    {
        QFETCH(QString, ext);
        QFETCH(bool, skipped);
        QCOMPARE(IsSkippedExtension(ext), skipped);
    }

    void posIgnoreCase_data()
    {
        QTest::addColumn<QString>("haystack");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<qsizetype>("pos");
        QTest::newRow("basic") << "Hello World"
                               << "WORLD" << qsizetype(7);
        QTest::newRow("empty needle") << "Hello"
                                      << "" << qsizetype(0);
        QTest::newRow("empty haystack") << ""
                                        << "a" << qsizetype(0);
        QTest::newRow("absent") << "Hello"
                                << "xyz" << qsizetype(0);
        QTest::newRow("non-ascii") << "ein ÄRGER"
                                   << "ärger" << qsizetype(5);
        QTest::newRow("greek") << "ΑΒΓ"
                               << "βγ" << qsizetype(2);
        QTest::newRow("kelvin") << u"20 \u212A"_qs << "k" << qsizetype(4);
        // One code unit per character: the position after it is still right.
        QTest::newRow("dotted I keeps length") << u"\u0130x"_qs << "x" << qsizetype(2);
        // Its full lower case begins with "i": "istanbul" finds "İstanbul", and back.
        QTest::newRow("dotted I folds to i") << u"\u0130stanbul"_qs << "istanbul" << qsizetype(1);
        QTest::newRow("dotted I in the needle")
            << "in istanbul" << u"\u0130STANBUL"_qs << qsizetype(4);
        QTest::newRow("after a dotted I") << u"\u0130x\u0130y"_qs << "iy" << qsizetype(3);
        QTest::newRow("beyond BMP") << u"a\U00010400b"_qs << u"\U00010428B"_qs << qsizetype(2);
    }
    void posIgnoreCase()
    {
        QFETCH(QString, haystack);
        QFETCH(QString, needle);
        QFETCH(qsizetype, pos);
        QCOMPARE(PosIgnoreCase(haystack, needle), pos);
    }

    void asciiOnly()
    {
        QVERIFY(IsAsciiOnly(u""));
        QVERIFY(IsAsciiOnly(u"abc\x7F"));
        QVERIFY(!IsAsciiOnly(u"abc\x80"));
        QVERIFY(!IsAsciiOnly(u"Ärger"));
    }

    void findBytes_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<qsizetype>("exact");
        QTest::addColumn<bool>("folded");
        QTest::newRow("found") << QByteArray("xxABCabc") << QByteArray("abc") << qsizetype(5)
                               << true;
        QTest::newRow("case only")
            << QByteArray("xxABC") << QByteArray("abc") << qsizetype(-1) << true;
        QTest::newRow("empty pattern")
            << QByteArray("abc") << QByteArray() << qsizetype(-1) << false;
        QTest::newRow("longer") << QByteArray("ab") << QByteArray("abc") << qsizetype(-1) << false;
        // Folded data has no capitals, so an unfolded pattern never matches.
        QTest::newRow("pattern with capital")
            << QByteArray("ABC") << QByteArray("ABC") << qsizetype(0) << false;
        QTest::newRow("non-letters exact")
            << QByteArray("a[b") << QByteArray("a{b") << qsizetype(-1) << false;
        QTest::newRow("high bytes exact")
            << QByteArray("\xC4rger") << QByteArray("\xE4rger") << qsizetype(-1) << false;
        QTest::newRow("long data") << QByteArray(100, 'a') + "PM_Resume" + QByteArray(7, 'z')
                                   << QByteArray("pm_resume") << qsizetype(-1) << true;
        QTest::newRow("at the very end")
            << QByteArray(40, '-') + "x" << QByteArray("x") << qsizetype(40) << true;
    }
    void findBytes()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, pattern);
        QFETCH(qsizetype, exact);
        QFETCH(bool, folded);
        QCOMPARE(FindBytes(data, pattern), exact);
        QCOMPARE(FindBytesAsciiIgnoreCase(data, pattern), folded);
    }

    // The vector search against a plain reference at every offset and length.
    void finderAgreesWithReference()
    {
        QRandomGenerator rng(7);
        const char alphabet[] = "aAbB_-zZ\x80\xC1";
        for (int round = 0; round < 3000; ++round) {
            QByteArray data(rng.bounded(90), Qt::Uninitialized);
            for (char &c : data)
                c = alphabet[rng.bounded(10)];
            QByteArray pattern(1 + rng.bounded(4), Qt::Uninitialized);
            for (char &c : pattern)
                c = alphabet[rng.bounded(10)];
            const QByteArray lower = pattern.toLower();
            qsizetype expected = -1;
            for (qsizetype i = 0; i + pattern.size() <= data.size() && expected < 0; ++i) {
                bool same = true;
                for (qsizetype k = 0; k < pattern.size() && same; ++k) {
                    const char d = data[i + k];
                    same = (d >= 'A' && d <= 'Z' ? char(d + 32) : d) ==
                           (lower[k] >= 'A' && lower[k] <= 'Z' ? char(lower[k] + 32) : lower[k]);
                }
                if (same)
                    expected = i;
            }
            const AsciiCaseInsensitiveFinder finder(pattern);
            QCOMPARE(finder.indexIn(data.constData(), data.size()), expected);
            // The one-pass form finds the same, and without a match tells of high bytes.
            bool high = false;
            QCOMPARE(finder.indexIn(data.constData(), data.size(), high), expected);
            if (expected < 0)
                QCOMPARE(high, data.contains('\x80') || data.contains('\xC1'));
        }
    }

    // The byte-level shortcut must give the answer of decode-then-search, or step aside.
    void shortcutAgreesWithFullPath_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<bool>("found");
        QTest::newRow("ascii") << QByteArray("int PM_RESUME;") << "pm_resume" << true;
        QTest::newRow("ascii absent") << QByteArray("int PM_SUSPEND;") << "pm_resume" << false;
        QTest::newRow("utf-8 around")
            << QByteArray("\xC3\xA4PM_resume\xE2\x82\xAC") << "PM_RESUME" << true;
        QTest::newRow("split by utf-8") << QByteArray("pm_\xC3\xA4resume") << "pm_resume" << false;
        QTest::newRow("overlong letters") << QByteArray("pm_r\xC1\xA5sume") << "pm_resume" << true;
        QTest::newRow("overlong 3-byte")
            << QByteArray("pm_r\xE0\x81\xA5sume") << "pm_resume" << true;
        QTest::newRow("kelvin sign") << QByteArray("\xE2\x84\xAAilo") << "kilo" << true;
        QTest::newRow("dotted capital I") << QByteArray("\xC4\xB0nt") << "int" << true;
        QTest::newRow("emoji is ?") << QByteArray("why\xF0\x9F\x98\x80") << "why?" << true;
        QTest::newRow("invalid is ?") << QByteArray("why\xFF") << "y?" << true;
        QTest::newRow("genuine ?") << QByteArray("why?") << "y?" << true;
        QTest::newRow("bom") << QByteArray("\xEF\xBB\xBF"
                                           "abc")
                             << "abc" << true;
        QTest::newRow("ansi fallback") << QByteArray("\xE4\xF6\xFC\xE4\xF6 key") << "key" << true;
        QTest::newRow("ansi fallback, non-ascii text")
            << QByteArray("\xE4\xF6\xFC\xE4\xF6\xFC ab") << u"ü AB"_qs << true;
        QTest::newRow("lone surrogates") << QByteArray("\xED\xA0\x81\xED\xB0\x80x") << "x" << true;
        QTest::newRow("binary") << QByteArray("abc\0def", 7) << "abc" << false;
        QTest::newRow("nul after probe")
            << QByteArray(9000, 'a') + QByteArray("\0key", 4) << "key" << true;
        QTest::newRow("truncated at end") << QByteArray("key\xE2\x84") << "key" << true;
    }
    void shortcutAgreesWithFullPath()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, needle);
        QFETCH(bool, found);
        QCOMPARE(fullPathFinds(bytes, needle), found);
        if (IsAsciiOnly(needle)) {
            const PlainTextVerdict v = MatchPlainTextFast(
                bytes.constData(), bytes.size(), AsciiCaseInsensitiveFinder(needle.toLatin1()));
            if (v != PlainTextVerdict::NeedsFullDecode)
                QCOMPARE(v == PlainTextVerdict::Found, found);
        }
        // And end to end through the file.
        QCOMPARE(FileContainsText(write("agree.c", bytes), needle), found);
    }

    // Random mixes of the fragments that trip a byte-level search.
    void shortcutAgreesOnRandomMixes()
    {
        // clang-format off
        const QList<QByteArray> fragments = {
            "a", "K", "k", "i", "I", "?", " ", "\t", "\xC3\xA4", "\xC4\xB0", "\xE2\x84\xAA",
            "\xC1\x8B", "\xC1\xA9", "\xE0\x81\xAB", "\xF0\x9F\x98\x80", "\xFF", "\x80",
            "\xED\xA0\x80", "\xE2\x84", "\xEF\xBB\xBF", "\xE4", "\xE4\xF6"};
        // clang-format on
        const QStringList needles = {"k", "ki", "IK", "a?", "?", "k a", "aik", "a ika k"};
        QRandomGenerator rng(11);
        int decided = 0;
        for (int round = 0; round < 4000; ++round) {
            QByteArray bytes;
            const int parts = 1 + rng.bounded(12);
            for (int p = 0; p < parts; ++p)
                bytes += fragments[rng.bounded(fragments.size())];
            const QString needle = needles[rng.bounded(needles.size())];
            // A text arriving in pieces gets the verdict of its bytes taken at once, whatever
            // an occurrence or a character straddles.
            const ContentPattern pattern(needle);
            const PlainTextVerdict whole = MatchTextBytesFast(
                bytes.constData(), bytes.size(), AsciiCaseInsensitiveFinder(needle.toLatin1()));
            QCOMPARE(verdictInPieces(bytes, pattern, rng, 0), whole);
            QVERIFY2(verdictInPieces(bytes, pattern, rng, 1 + rng.bounded(4)) == whole,
                     qPrintable(needle + " in " + bytes.toHex(' ')));
            const PlainTextVerdict v = MatchPlainTextFast(
                bytes.constData(), bytes.size(), AsciiCaseInsensitiveFinder(needle.toLatin1()));
            if (v == PlainTextVerdict::NeedsFullDecode)
                continue;
            ++decided;
            QVERIFY2((v == PlainTextVerdict::Found) == fullPathFinds(bytes, needle),
                     qPrintable(needle + " in " + bytes.toHex(' ')));
        }
        QVERIFY(decided > 500);
    }

    // Pieces of every size, so that each seam falls at every point of what it cuts.
    void piecesDecideWhatStraddlesTheirSeams_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("find");
        QTest::addColumn<PlainTextVerdict>("verdict");
        const QByteArray x(20, 'x');
        QTest::newRow("long text")
            << x + "STRADDLING" + x << "straddling" << PlainTextVerdict::Found;
        QTest::newRow("long text, absent")
            << x + "STRADDLIN" + x << "straddling" << PlainTextVerdict::NotFound;
        QTest::newRow("Kelvin sign")
            << x + "\xE2\x84\xAA" + x << "k" << PlainTextVerdict::NeedsFullDecode;
        QTest::newRow("beyond ASCII")
            << x + "\xC3\xA4rger" + x << u"\u00E4rger"_qs << PlainTextVerdict::NeedsFullDecode;
        QTest::newRow("dotted capital I")
            << x + "\xC4\xB0stanbul" + x << "istanbul" << PlainTextVerdict::NeedsFullDecode;
    }
    void piecesDecideWhatStraddlesTheirSeams()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, find);
        QFETCH(PlainTextVerdict, verdict);
        const ContentPattern pattern(find);
        for (qsizetype size = 1; size <= text.size(); ++size) {
            TextBytesMatcher matcher(pattern);
            for (qsizetype at = 0;
                 at < text.size() &&
                 matcher.feed(text.constData() + at, std::min(size, text.size() - at));
                 at += size) {
            }
            QCOMPARE(matcher.verdict(), verdict);
        }
    }

    void requiredAsciiFragment_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("fragment");
        QTest::newRow("ascii") << "PM_Resume" << QByteArray("pm_resume");
        QTest::newRow("umlaut") << "Größe von X" << QByteArray("e von x");
        QTest::newRow("question mark splits") << "ä?abc?d" << QByteArray("abc");
        QTest::newRow("kelvin lowers to k") << u"\u212Ab€"_qs << QByteArray("kb");
        QTest::newRow("none") << "äöü" << QByteArray();
    }
    void requiredAsciiFragment()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, fragment);
        QCOMPARE(RequiredAsciiFragment(text), fragment);
    }

    // Non-ASCII text: files lacking its ASCII run are refused unread; the rest are decoded.
    void nonAsciiTextAgreesWithFullPath()
    {
        // clang-format off
        const QList<QByteArray> fragments = {
            "a", "r", "g", "E", "R", "?", " ", "\xC3\xA4", "\xC3\x84", "\xC4", "\xE4",
            "\xE2\x84\xAA", "\xC1\xA5", "\xFF", "\xEF\xBB\xBF"};
        // clang-format on
        const QStringList needles = {"Ärger", "ärg", "rgä", "a?ä", u"\u212Ar"_qs};
        QRandomGenerator rng(5);
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes;
            const int parts = 1 + rng.bounded(10);
            for (int p = 0; p < parts; ++p)
                bytes += fragments[rng.bounded(fragments.size())];
            const QString needle = needles[rng.bounded(needles.size())];
            const bool found = fullPathFinds(bytes, needle);
            // The shortcut may only refuse what decoding would refuse.
            const ContentPattern pattern(needle);
            const PlainTextVerdict v = MatchPlainTextFast(bytes.constData(), bytes.size(), pattern);
            QVERIFY(v != PlainTextVerdict::Found);
            if (v == PlainTextVerdict::NotFound)
                QVERIFY2(!found, qPrintable(needle + " in " + bytes.toHex(' ')));
            // In pieces, the same verdict as the bytes at once.
            const PlainTextVerdict whole = verdictInPieces(bytes, pattern, rng, 0);
            QVERIFY2(verdictInPieces(bytes, pattern, rng, 1 + rng.bounded(4)) == whole,
                     qPrintable(needle + " in " + bytes.toHex(' ')));
            if (round < 200) {
                const QString path = write(QStringLiteral("mix%1.txt").arg(round % 8), bytes);
                QVERIFY2(FileContainsText(path, needle) == found,
                         qPrintable(needle + " in " + bytes.toHex(' ')));
            }
        }
    }

    void fileContainsText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("withoutScan");
        QTest::addColumn<bool>("withScan");
        QTest::newRow("plain text")
            << "a.txt" << QByteArray("Some Content here") << "content" << true << true;
        QTest::newRow("non-ascii ignores case")
            << "b.txt" << QByteArray("ein \xC3\x84RGER") << "ärger" << true << true;
        QTest::newRow("absent") << "c.txt" << QByteArray("nothing") << "zzz" << false << false;
        QTest::newRow("short file") << "d.dat2" << QByteArray("ab") << "abc" << false << false;
        // Binary: the extracted text fails, the raw bytes still hold the text.
        QTest::newRow("binary text file")
            << "e.txt" << QByteArray("\0\0NEEDLE\0", 9) << "needle" << false << true;
        // Only the exact ANSI bytes match in the raw scan.
        QTest::newRow("ansi raw exact")
            << "f.bin2" << QByteArray("\0x \xC4rger", 8) << "Ärger" << false << true;
        QTest::newRow("ansi raw other case")
            << "g.bin2" << QByteArray("\0x \xE4rger", 8) << "Ärger" << false << false;
        QTest::newRow("server text")
            << "h.pdf" << QByteArray("%PDF-1.7") << "document TEXT" << true << true;
        QTest::newRow("server lacks, bytes have")
            << "i.pdf" << QByteArray("%PDF-1.7 secret") << "SECRET" << false << true;
        QTest::newRow("empty text") << "j.txt" << QByteArray("abc") << "" << false << false;
        // Characters the ANSI code page lacks are never scanned for as "?".
        QTest::newRow("unencodable text, question marks")
            << "k.bin2" << QByteArray("\0x ????", 7) << "日本" << false << false;
        QTest::newRow("unencodable text, utf-8 raw")
            << "l.bin2" << QByteArray("\0x \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 12) << "日本"
            << false << true;
        QTest::newRow("ansi text, utf-8 raw")
            << "m.bin2" << QByteArray("\0x \xC3\x84rger", 9) << "Ärger" << false << true;
        QTest::newRow("mixed text, question marks")
            << "n.bin2" << QByteArray("\0x \xC4 ?", 6) << "Ä 日" << false << false;
        QTest::newRow("a question mark of its own")
            << "o.bin2" << QByteArray("\0x \xC4?", 5) << "Ä?" << false << true;
        // Text beyond ASCII against files of ASCII bytes only: no decoding of those can hold it,
        // but whatever lower-cases to ASCII still matches, and the raw scan still runs.
        QTest::newRow("umlaut, ascii file")
            << "p.c" << QByteArray("fur Muller, fuer Mueller") << "für" << false << false;
        QTest::newRow("umlaut, ascii file of question marks")
            << "q.c" << QByteArray("f?r ????????") << "f?r ü" << false << false;
        QTest::newRow("umlaut, ascii start, utf-8 late")
            << "r.c" << QByteArray(70000, 'x') + "M\xC3\xBCller"
            << "MÜLLER" << true << true;
        QTest::newRow("kelvin sign lowers to ascii")
            << "s.c" << QByteArray("20 kelvin") << u"\u212Aelvin"_qs << true << true;
        QTest::newRow("dotted capital I lowers to i")
            << "t.txt" << QByteArray("Gr\xC3\xBC\xC3\x9F aus \xC4\xB0STANBUL") << "istanbul" << true
            << true;
        QTest::newRow("dotted capital I to find")
            << "v.txt" << QByteArray("Gr\xC3\xBC\xC3\x9F aus Istanbul") << u"\u0130stanbul"_qs
            << true << true;
        // Letters that are ASCII in another width: the raw scan's ANSI bytes are none.
        QTest::newRow("fullwidth letters, ascii file")
            << "u.c" << QByteArray("fur") << u"\uFF46\uFF55\uFF52"_qs << false << false;
    }
    void fileContainsText()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(bool, withoutScan);
        QFETCH(bool, withScan);
        const QString path = write(name, bytes);
        {
            ScanSwitch scan(false);
            QCOMPARE(FileContainsText(path, text), withoutScan);
        }
        {
            ScanSwitch scan(true);
            QCOMPARE(FileContainsText(path, text), withScan);
        }
    }

    void beyondTheExtractionLimit_data()
    {
        QTest::addColumn<QByteArray>("late");
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QByteArray("Needle") << "needle";
        QTest::newRow("utf-8") << QByteArray("\xC3\x84rger \xE6\x97\xA5\xE6\x9C\xAC")
                               << "Ärger 日本";
        QTest::newRow("ansi") << QByteArray("\xC4rger") << "Ärger";
    }
    void beyondTheExtractionLimit()
    {
        QFETCH(QByteArray, late);
        QFETCH(QString, text);
        QByteArray bytes(3 * 1024 * 1024, 'x');
        bytes.replace(2 * 1024 * 1024 + 100, late.size(), late);
        const QString path =
            write(QStringLiteral("late-%1.log").arg(QTest::currentDataTag()), bytes);
        {
            ScanSwitch scan(false);
            QVERIFY(!FileContainsText(path, text));
        }
        ScanSwitch scan(true);
        QVERIFY(FileContainsText(path, text));
    }

    // The server's text is matched as it arrives, however it is cut into network reads:
    // characters and occurrences straddling two reads, ignoring case beyond ASCII.
    void serverTextMatchedAsItArrives_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        const QByteArray mixed = "ein \xC3\x84RGERnis \xF0\x9F\x98\x80 Smile, \xE2\x82\xAC 5";
        for (int piece : {1, 2, 3, 7}) {
            const QByteArray p = QByteArray::number(piece);
            QTest::addRow("non-ascii, pieces of %d", piece)
                << mixed + "#" + p << "ärgernis" << true;
            QTest::addRow("emoji, pieces of %d", piece) << mixed + "#" + p << "😀 smile" << true;
            QTest::addRow("euro at the end, pieces of %d", piece)
                << mixed + "#" + p << "€ 5" << true;
            QTest::addRow("absent, pieces of %d", piece)
                << mixed + "#" + p << "ärgernis 😀 x" << false;
        }
    }
    void serverTextMatchedAsItArrives()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QFETCH(bool, found);
        const int piece = body.mid(body.lastIndexOf('#') + 1).toInt();
        body.truncate(body.lastIndexOf('#'));
        LoopbackHttpServer server;
        HttpAnswer answer = HttpAnswer::text(body);
        answer.chunked = true;
        answer.pieceSize = piece;
        server.setAnswer("/tika", answer);
        SetExtractionServerEndpoint(server.baseUrl());
        ScanSwitch scan(false);
        const bool result = FileContainsText(write("streamed.pdf", "%PDF-1.7"), text);
        SetExtractionServerEndpoint(m_server.baseUrl());
        QCOMPARE(result, found);
        QCOMPARE(server.requestCount(), 1);
    }

    // A server that never ends its answer: with no cache in use reading stops at the first
    // occurrence, and a text without one is read with bounded memory until the cancel flag
    // ends it.
    void endlessServerTextStopsAtTheFirstMatch()
    {
        SetTextCacheEnabled(false);
        const auto restore = qScopeGuard([] { SetTextCacheEnabled(true); });
        LoopbackHttpServer server;
        HttpAnswer endless;
        endless.body = QByteArray(8 * 1024 * 1024, 'x') + " The Needle ";
        endless.contentLength = false;
        endless.endlessTail = QByteArray(65536, 'y');
        server.setAnswer("/tika", endless);
        SetExtractionServerEndpoint(server.baseUrl());
        ScanSwitch scan(false);
        const bool found = FileContainsText(write("endless.pdf", "%PDF-1.7"), "THE NEEDLE");
        SetExtractionServerEndpoint(m_server.baseUrl());
        QVERIFY(found);
    }

    // A file whose path is longer than PATH_MAX, as the walk reaches it: read by every path
    // of the content test and by the preview's extraction.
    void pathsBeyondPathMax_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("scan");
        QTest::newRow("plain text") << "deep.txt"
                                    << "needle in the deep" << false;
        QTest::newRow("server") << "deep.pdf"
                                << "document text" << false;
        QTest::newRow("raw scan") << "deep.bin2"
                                  << "needle in the deep" << true;
    }
    void pathsBeyondPathMax()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, scan);
        // A document's bytes go to the server, whose text is "document text".
        const QByteArray bytes = name.endsWith(".pdf") ? "%PDF-1.7\n" : "";
        const QString path = writeDeepFile(m_dir.path(), name, bytes + "Needle in the deep\n");
        QVERIFY(QFile::encodeName(path).size() > PATH_MAX);
        ScanSwitch raw(scan);
        const bool found = FileContainsText(path, text);
        QString extracted;
        const bool preview = ExtractText(path, 0, extracted);
        const bool missing = FileContainsText(path + "-gone", text);
        removeDeepFile(m_dir.path(), name);
        QVERIFY(found);
        QVERIFY(preview);
        QVERIFY(!missing);
    }

    void rawScanAcrossChunks_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("occurrence");
        QTest::addColumn<QString>("text");
        const QByteArray ascii("NeEdLe");
        QTest::newRow("straddles 64 KiB") << kRawScanChunkSize - 3 << ascii << "needle";
        QTest::newRow("ends at 64 KiB") << kRawScanChunkSize - 6 << ascii << "needle";
        QTest::newRow("starts at 64 KiB") << kRawScanChunkSize << ascii << "needle";
        QTest::newRow("straddles 128 KiB") << 2 * kRawScanChunkSize - 1 << ascii << "needle";
        // The carried tail is as long as the longer byte form: UTF-8 here, split inside "ü".
        QTest::newRow("utf-8 split in a character")
            << kRawScanChunkSize - 2 << QByteArray("M\xC3\xBCller") << "Müller";
        QTest::newRow("ansi straddles 64 KiB")
            << kRawScanChunkSize - 5 << QByteArray("M\xFCller") << "Müller";
    }
    void rawScanAcrossChunks()
    {
        QFETCH(int, offset);
        QFETCH(QByteArray, occurrence);
        QFETCH(QString, text);
        QByteArray bytes(3 * kRawScanChunkSize, '\0');
        bytes.replace(offset, occurrence.size(), occurrence);
        const QString path = write(QStringLiteral("chunks%1.bin2").arg(offset), bytes);
        ScanSwitch scan(true);
        QVERIFY(FileContainsText(path, text));
        QVERIFY(!FileContainsText(path, text + "s"));
    }

    // The plain-text shortcut with the occurrence where the vector search changes blocks and
    // at the end, where only its tail loop reaches: an overlong "e" there decodes to ASCII.
    void plainTextAcrossBlocks_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("occurrence");
        QTest::addColumn<bool>("found");
        QTest::newRow("across blocks") << 12 << QByteArray("PM_RESUME") << true;
        QTest::newRow("last bytes") << 191 << QByteArray("PM_RESUME") << true;
        QTest::newRow("overlong across blocks") << 8 << QByteArray("PM_RESUM\xC1\xA5") << true;
        QTest::newRow("overlong in the tail") << 190 << QByteArray("PM_RESUM\xC1\xA5") << true;
        QTest::newRow("umlaut in the tail") << 190 << QByteArray("PM_RESUM\xC3\xA4") << false;
    }
    void plainTextAcrossBlocks()
    {
        QFETCH(int, offset);
        QFETCH(QByteArray, occurrence);
        QFETCH(bool, found);
        QByteArray bytes(200, '-');
        bytes.replace(offset, occurrence.size(), occurrence);
        bytes.truncate(200);
        QCOMPARE(fullPathFinds(bytes, "pm_resume"), found);
        QCOMPARE(FileContainsText(write("blocks.h", bytes), "pm_resume"), found);
    }

    // A search's pattern is made once and shared by every worker, and made anew for new text.
    void patternIsSharedAcrossThreads()
    {
        const std::shared_ptr<const ContentPattern> here = ContentPattern::forText("Müller");
        std::shared_ptr<const ContentPattern> there;
        std::thread([&] { there = ContentPattern::forText("Müller"); }).join();
        QCOMPARE(there.get(), here.get());
        const std::shared_ptr<const ContentPattern> next = ContentPattern::forText("für");
        QVERIFY(next.get() != here.get());
        QCOMPARE(next->text(), QStringLiteral("für"));
        QVERIFY(next->needsNonAsciiText());
        QVERIFY(!ContentPattern(u"\u212A"_qs).needsNonAsciiText());
    }

    void unreadableFilesAreNotAccepted()
    {
        ScanSwitch scan(true);
        const QString dir = m_dir.filePath("dir.txt");
        QDir().mkpath(dir);
        const QString fifo = m_dir.filePath("fifo.txt");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString fifoDoc = m_dir.filePath("fifo.pdf");
        QCOMPARE(::mkfifo(QFile::encodeName(fifoDoc).constData(), 0600), 0);
        for (const QString &path : {dir, fifo, fifoDoc, m_dir.filePath("gone.txt")}) {
            QVERIFY2(!FileContainsText(path, "x"), qPrintable(path));
            QVERIFY(!AcceptCandidateFile(path, "x"));
        }
        QCOMPARE(m_server.requestCount(), 0);
    }

    void acceptCandidateFile()
    {
        // No text: accepted unseen, even when the file is gone.
        QVERIFY(AcceptCandidateFile(m_dir.filePath("nowhere.mp4"), QString()));
        // Skip list: refused without being read, though it holds the text.
        ScanSwitch scan(true);
        const QString movie = write("clip.MP4", "needle");
        QVERIFY(!AcceptCandidateFile(movie, "needle"));
        QVERIFY(AcceptCandidateFile(write("clip.txt", "needle"), "needle"));
        QVERIFY(!AcceptCandidateFile(write("clip2.txt", "other"), "needle"));
        // ".ts" is a text extension too, but the search never looks inside.
        QVERIFY(!AcceptCandidateFile(write("code.ts", "needle"), "needle"));
        QVERIFY(FileContainsText(m_dir.filePath("code.ts"), "needle"));
        QCOMPARE(m_server.requestCount(), 0);
    }

    void unreachableServerLeavesTheRawScan()
    {
        LoopbackHttpServer gone;
        const QString endpoint = gone.baseUrl();
        gone.stop();
        SetExtractionServerEndpoint(endpoint);
        const QString path = write("doc.odt", "PK\x03\x04 plain words");
        {
            ScanSwitch scan(false);
            QVERIFY(!FileContainsText(path, "words"));
        }
        {
            ScanSwitch scan(true);
            QVERIFY(FileContainsText(path, "WORDS"));
        }
        SetExtractionServerEndpoint(m_server.baseUrl());
    }
};

QTEST_GUILESS_MAIN(TestContentMatcher)
#include "tst_ContentMatcher.moc"
