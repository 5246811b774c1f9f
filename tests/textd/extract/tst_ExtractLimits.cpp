#include "tests/textd/extract/ExtractFixture.h"
#include "textd/extract/Extract.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace dv::textd;

namespace {

ExtractResult extract(const QByteArray &content, const QString &fileName = QString(),
                      const ExtractLimits &limits = ExtractLimits())
{
    return extractDocument(content, QStringLiteral("application/octet-stream"), fileName, limits);
}

QByteArray billionLaughs(const QByteArray &use)
{
    QByteArray doctype = "<!DOCTYPE r [<!ENTITY a \"lol\">";
    char previous = 'a';
    for (char name = 'b'; name <= 'j'; ++name, ++previous) {
        doctype += QByteArray("<!ENTITY ") + name + " \"";
        for (int i = 0; i < 10; ++i)
            doctype += QByteArray("&") + previous + ";";
        doctype += "\">";
    }
    return "<?xml version=\"1.0\"?>" + doctype + "]>" + use;
}

} // namespace

class tst_ExtractLimits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void zipBombIsRefused();
    void largeTextAtAnOrdinaryRatioIsKept();
    void decompressedBytesAreCapped();
    void externalEntitiesAreNeverLoaded_data();
    void externalEntitiesAreNeverLoaded();
    void entitiesAreNotExpanded_data();
    void entitiesAreNotExpanded();
    void deepNesting_data();
    void deepNesting();
    void embeddedDocumentsStopAtTheDepthLimit();
    void hostileCompoundFiles_data();
    void hostileCompoundFiles();

private:
    QTemporaryDir m_dir;
};

void tst_ExtractLimits::zipBombIsRefused()
{
    // 20 million characters from 60 KB: over a million characters at more than 100 times the
    // input.
    const QByteArray bomb = fixture(QStringLiteral("bomb.docx"));
    const ExtractResult refused = extract(bomb);
    QCOMPARE(refused.status, ExtractStatus::Unparseable);
    QVERIFY(refused.utf8Text.isEmpty());

    // The same file is fine where the ratio allows it: the refusal is the limit, not the parse.
    ExtractLimits generous;
    generous.maxCompressionRatio = 1000;
    const ExtractResult allowed = extract(bomb, QString(), generous);
    QCOMPARE(allowed.status, ExtractStatus::Ok);
    QVERIFY(allowed.utf8Text.size() > 20'000'000);
}

void tst_ExtractLimits::largeTextAtAnOrdinaryRatioIsKept()
{
    QByteArray text;
    while (text.size() < 3'000'000)
        text += "A line of an ordinary but very long log file.\n";
    const ExtractResult result = extract(text, QStringLiteral("big.log"));
    QCOMPARE(result.status, ExtractStatus::Ok);
    QCOMPARE(result.utf8Text, text);
}

void tst_ExtractLimits::decompressedBytesAreCapped()
{
    ExtractLimits tight;
    tight.maxDecompressedBytes = 2000;
    QCOMPARE(extract(fixture(QStringLiteral("sample.docx")), QString(), tight).status,
             ExtractStatus::Unparseable);
    ExtractLimits member;
    member.maxEntryBytes = 1000;
    QCOMPARE(extract(fixture(QStringLiteral("bomb.docx")), QString(), member).status,
             ExtractStatus::Unparseable);
}

void tst_ExtractLimits::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QFile secret(m_dir.filePath(QStringLiteral("secret.txt")));
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("TOPSECRET-4711");
}

void tst_ExtractLimits::externalEntitiesAreNeverLoaded_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QByteArray>("secret");

    const QByteArray url = "file://" + m_dir.filePath(QStringLiteral("secret.txt")).toUtf8();
    QTest::newRow("xml") << "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"" + url +
                                "\">]><r>before &x; after</r>"
                         << QByteArray("TOPSECRET");
    QTest::newRow("xhtml") << "<?xml version=\"1.0\"?><!DOCTYPE html [<!ENTITY x SYSTEM \"" + url +
                                  "\">]><html><body><p>before &x; after</p></body></html>"
                           << QByteArray("TOPSECRET");
    QTest::newRow("word document") << fixture(QStringLiteral("xxe.docx")) << QByteArray("root:");
}

void tst_ExtractLimits::externalEntitiesAreNeverLoaded()
{
    QFETCH(QByteArray, document);
    QFETCH(QByteArray, secret);
    const ExtractResult result = extract(document);
    QVERIFY2(result.status == ExtractStatus::Ok, qPrintable(result.error));
    QVERIFY2(result.utf8Text.contains("before") && result.utf8Text.contains("after"),
             result.utf8Text.constData());
    QVERIFY(!result.utf8Text.contains(secret));
}

void tst_ExtractLimits::entitiesAreNotExpanded_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::newRow("element content") << billionLaughs("<r>x &j; y</r>");
    QTest::newRow("attribute") << billionLaughs("<r a=\"&j;\">x y</r>");
    QTest::newRow("word document") << fixture(QStringLiteral("laughs.docx"));
}

void tst_ExtractLimits::entitiesAreNotExpanded()
{
    QFETCH(QByteArray, document);
    // A billion "lol"s would take gigabytes.
    // libxml2 notices the amplification while checking the entity and gives up on the document.
    const ExtractResult result = extract(document);
    QCOMPARE(result.status, ExtractStatus::Unparseable);
    QVERIFY(!result.utf8Text.contains("lollol"));
}

void tst_ExtractLimits::deepNesting_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<ExtractStatus>("status");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("rtf groups") << "{\\rtf1 " + QByteArray(100000, '{') + "deep"
                                << "deep.rtf" << ExtractStatus::Unparseable << QByteArray();
    QTest::newRow("xml elements") << "<?xml version=\"1.0\"?>" + QByteArray("<a>").repeated(100000)
                                  << "deep.xml" << ExtractStatus::Unparseable << QByteArray();
    QByteArray mail = "From: a@b.invalid\nTo: c@d.invalid\nSubject: deep\nMIME-Version: 1.0\n";
    for (int i = 0; i < 3000; ++i)
        mail += "Content-Type: multipart/mixed; boundary=\"b" + QByteArray::number(i) +
                "\"\n\n--b" + QByteArray::number(i) + "\n";
    mail += "Content-Type: text/plain\n\ndeep\n";
    QTest::newRow("mime parts") << mail << "deep.eml" << ExtractStatus::Unparseable << QByteArray();
    // Deeper than real documents get, and than libxml2's own default bound of 256: read whole.
    const QByteArray deepHtml = "<html><body>" + QByteArray("<div>").repeated(3000) + "deep" +
                                QByteArray("</div>").repeated(3000) + "<p>after</p></body></html>";
    QTest::newRow("html 3000 levels")
        << deepHtml << "deep.html" << ExtractStatus::Ok << QByteArray("deep\nafter");
    QTest::newRow("html 3000 levels in a mail")
        << "From: a@b.invalid\nTo: c@d.invalid\nSubject: deep\nMIME-Version: 1.0\n"
           "Content-Type: text/html; charset=utf-8\n\n" +
               deepHtml
        << "deep.eml" << ExtractStatus::Ok
        << QByteArray("Subject: deep\nFrom: a@b.invalid\nTo: c@d.invalid\n\ndeep\nafter");
    QTest::newRow("xml 3000 levels")
        << "<?xml version=\"1.0\"?>" + QByteArray("<a>").repeated(3000) + "deep" +
               QByteArray("</a>").repeated(3000)
        << "deep.xml" << ExtractStatus::Ok << QByteArray("deep");
    // Unclosed HTML elements past the bound: refused whole, never cut off where the parser
    // gave up.
    QTest::newRow("html past the bound")
        << "<html><body><p>shallow</p>" + QByteArray("<div>").repeated(100000) + "deep"
        << "deep.html" << ExtractStatus::Unparseable << QByteArray();
}

void tst_ExtractLimits::deepNesting()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, fileName);
    QFETCH(ExtractStatus, status);
    QFETCH(QByteArray, text);
    const ExtractResult result = extract(content, fileName);
    QCOMPARE(result.status, status);
    QCOMPARE(result.utf8Text, text);
}

void tst_ExtractLimits::embeddedDocumentsStopAtTheDepthLimit()
{
    const QByteArray nested = fixture(QStringLiteral("nested.docx"));
    const ExtractResult all = extract(nested);
    QCOMPARE(all.status, ExtractStatus::Ok);
    QVERIFY(all.utf8Text.contains("Level 1 text"));
    QVERIFY(all.utf8Text.contains("Level 2 text"));
    QVERIFY(all.utf8Text.contains("Deepest level"));

    ExtractLimits shallow;
    shallow.maxEmbeddingDepth = 1;
    const ExtractResult cut = extract(nested, QString(), shallow);
    QCOMPARE(cut.status, ExtractStatus::Ok);
    QVERIFY(cut.utf8Text.contains("Level 2 text"));
    QVERIFY(!cut.utf8Text.contains("Deepest level"));
}

void tst_ExtractLimits::hostileCompoundFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("refused");

    // Made by fixtures/make_legacy_fixtures.py.
    QTest::newRow("directory as one long chain") << "deep-directory.doc" << true;
    QTest::newRow("directory loop") << "directory-loop.doc" << true;
    // The chain is cut where it comes back; what was read before still counts.
    QTest::newRow("sector chain loop") << "sector-loop.doc" << false;
}

void tst_ExtractLimits::hostileCompoundFiles()
{
    QFETCH(QString, file);
    QFETCH(bool, refused);
    const ExtractResult result = extract(fixture(file));
    QCOMPARE(result.status, refused ? ExtractStatus::Unparseable : ExtractStatus::Ok);
    if (refused)
        QVERIFY(!result.error.isEmpty());
    else
        QVERIFY(result.utf8Text.startsWith("A long paragraph that needs several sectors."));
}

QTEST_GUILESS_MAIN(tst_ExtractLimits)
#include "tst_ExtractLimits.moc"
