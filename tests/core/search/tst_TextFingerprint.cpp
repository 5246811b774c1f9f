#include "core/search/LowerCase.h"
#include "core/search/TextFingerprint.h"

#include <QRandomGenerator>
#include <QTest>

using namespace dv;

namespace {

// Characters with case pairs in and beyond ASCII, ones whose lower case is ASCII (Kelvin sign,
// dotted capital I), final sigma, and some beyond the Basic Multilingual Plane (Deseret has
// case, the emoji none).
const QStringList &Alphabet()
{
    static const QStringList letters = [] {
        QStringList list;
        for (const char *c : {"a", "B", "c", "D", "e", " ", "-", "?", "1"})
            list << QString::fromLatin1(c);
        for (const char16_t c :
             {u'\u00C4', u'\u00E4', u'\u00DF', u'\u0130', u'\u0131', u'\u212A', u'\u03A3',
              u'\u03C3', u'\u03C2', u'\u0416', u'\u0436', u'\u20AC', u'\u65E5'})
            list << QString(QChar(c));
        for (const char32_t c : {U'\U00010400', U'\U00010428', U'\U0001F600'})
            list << QString::fromUcs4(&c, 1);
        return list;
    }();
    return letters;
}

// A text of Count characters drawn from the alphabet, as its characters.
QStringList RandomCharacters(QRandomGenerator &random, int count)
{
    QStringList characters;
    for (int i = 0; i < count; ++i)
        characters << Alphabet().at(int(random.bounded(quint32(Alphabet().size()))));
    return characters;
}

// Some characters upper-cased: a text to find ignores case.
QString ChangeCase(QRandomGenerator &random, const QStringList &characters)
{
    QString out;
    for (const QString &c : characters)
        out += random.bounded(2) ? c.toUpper() : c;
    return out;
}

QByteArray FingerprintOf(const QStringList &characters, QRandomGenerator &random)
{
    TextFingerprint fingerprint;
    // Pieces of whole characters, of every size, as the server's text arrives.
    for (qsizetype i = 0; i < characters.size();) {
        const qsizetype n = std::min<qsizetype>(characters.size() - i, random.bounded(1, 40));
        fingerprint.add(characters.mid(i, n).join(QString()));
        i += n;
    }
    return fingerprint.finish();
}

bool Contains(const QString &text, const QString &needle)
{
    return LowerCasePerCodePoint(text).contains(LowerCasePerCodePoint(needle));
}

} // namespace

class TestTextFingerprint : public QObject
{
    Q_OBJECT

private slots:
    // Random texts and texts to find: whenever the search would find it, the fingerprint says
    // "maybe". Texts to find that the text lacks are mostly ruled out.
    void neverRulesOutAnOccurrence()
    {
        QRandomGenerator random(20261211);
        int absent = 0, ruledOut = 0;
        for (int round = 0; round < 300; ++round) {
            const QStringList characters =
                RandomCharacters(random, int(random.bounded(0, round % 10 == 0 ? 20000 : 600)));
            const QString text = characters.join(QString());
            const QByteArray fingerprint = FingerprintOf(characters, random);
            for (int k = 0; k < 40; ++k) {
                QString needle;
                if (k % 2 == 0 && !characters.isEmpty()) {
                    const qsizetype start = random.bounded(qsizetype(0), characters.size());
                    const qsizetype n = random.bounded(qsizetype(1), qsizetype(12));
                    needle = ChangeCase(random, characters.mid(start, n));
                } else {
                    needle = ChangeCase(random, RandomCharacters(random, random.bounded(1, 8)));
                }
                const bool maybe = TextFingerprint::Query(needle).mayMatch(fingerprint);
                if (Contains(text, needle)) {
                    QVERIFY2(
                        maybe,
                        qPrintable(QStringLiteral("\"%1\" in \"%2\"").arg(needle, text.left(200))));
                } else if (LowerCasePerCodePoint(needle).size() >= 4 && text.size() < 2000) {
                    ++absent;
                    ruledOut += maybe ? 0 : 1;
                }
            }
        }
        QVERIFY2(ruledOut * 10 > absent * 9,
                 qPrintable(QStringLiteral("%1 of %2 ruled out").arg(ruledOut).arg(absent)));
    }

    // A text to find of fewer than three code units has no trigram: always "maybe".
    void shortTextsToFindAreNeverRuledOut()
    {
        TextFingerprint fingerprint;
        fingerprint.add(u"abc");
        const QByteArray bytes = fingerprint.finish();
        QVERIFY(TextFingerprint::Query(u"x").mayMatch(bytes));
        QVERIFY(TextFingerprint::Query(u"xy").mayMatch(bytes));
        QVERIFY(!TextFingerprint::Query(u"xyz").mayMatch(bytes));
        QVERIFY(TextFingerprint::Query(u"ABC").mayMatch(bytes));
        // A text with no trigram at all holds no text to find of three units.
        QVERIFY(!TextFingerprint::Query(u"abc").mayMatch(TextFingerprint().finish()));
    }

    // Small for a short text, bounded for a long one of many characters.
    void sizeFollowsTheText()
    {
        QCOMPARE(TextFingerprint().finish().size(), 8 + 64);
        TextFingerprint large;
        QRandomGenerator random(7);
        QString text;
        for (int i = 0; i < 300000; ++i)
            text += QChar(char16_t(0x4E00 + random.bounded(2000)));
        large.add(text);
        const QByteArray bytes = large.finish();
        QCOMPARE(bytes.size(), 8 + 65536);
        QVERIFY(TextFingerprint::Query(text.mid(1000, 5)).mayMatch(bytes));
    }

    // Anything but a fingerprint of this format and lower-casing says "maybe".
    void foreignOrDamagedFingerprintSaysMaybe_data()
    {
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("cut");
        QTest::newRow("intact") << -1 << 0;
        QTest::newRow("other format") << 0 << 0;
        QTest::newRow("other size") << 1 << 0;
        QTest::newRow("other probes") << 2 << 0;
        QTest::newRow("other lower-casing") << 5 << 0;
        QTest::newRow("cut short") << -1 << 1;
        QTest::newRow("header only") << -1 << 64;
        QTest::newRow("cut into the header") << -1 << 70;
        QTest::newRow("empty") << -1 << 72;
    }
    void foreignOrDamagedFingerprintSaysMaybe()
    {
        QFETCH(int, byte);
        QFETCH(int, cut);
        TextFingerprint fingerprint;
        fingerprint.add(u"some text");
        QByteArray bytes = fingerprint.finish();
        QCOMPARE(bytes.size(), 72);
        if (byte >= 0)
            bytes[byte] = char(bytes[byte] ^ 1);
        bytes.chop(cut);
        const bool intact = byte < 0 && cut == 0;
        QCOMPARE(TextFingerprint::Query(u"absent").mayMatch(bytes), !intact);
        QVERIFY(TextFingerprint::Query(u"SOME TEXT").mayMatch(bytes));
    }
};

QTEST_GUILESS_MAIN(TestTextFingerprint)
#include "tst_TextFingerprint.moc"
