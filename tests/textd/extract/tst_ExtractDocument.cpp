#include "tests/textd/extract/ExtractFixture.h"
#include "textd/extract/Extract.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

using namespace dv::textd;

namespace {

ExtractResult extract(const QByteArray &content, const QString &fileName = QString(),
                      const QString &contentType = QStringLiteral("application/octet-stream"))
{
    return extractDocument(content, contentType, fileName, ExtractLimits());
}

QByteArray encoded(const QString &text, const char *encoding)
{
    QStringEncoder encoder(encoding);
    return encoder.encode(text);
}

} // namespace

class tst_ExtractDocument : public QObject
{
    Q_OBJECT

private slots:
    void formats_data();
    void formats();
    void pdfPagesAreSeparatedByABlankLine();
    void plainText_data();
    void plainText();
    void mailParts_data();
    void mailParts();
    void contentDecidesOverTheName();
    void unsupported_data();
    void unsupported();
    void unparseable_data();
    void unparseable();
    void emptyInputIsEmptyText();
};

void tst_ExtractDocument::formats_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("inOrder");
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("docx")
        << "sample.docx"
        << QStringList{"Confidential header",    "Quarterly report of the lighthouse keepers",
                       "Left\tRight\nNext line", "Cell A1\tCell B1",
                       "Cell A2\tCell B2",       "Café crème über 日本",
                       "A footnote about fog",   "Page footer text"}
        << QStringList{"deleted words", "PAGE", "720"};
    QTest::newRow("xlsx") << "sample.xlsx"
                          << QStringList{"Budget", "Harbour dues\t1250.5", "Rich text\tTRUE\t2501",
                                         "Staff", "Keeper\tInline name"}
                          << QStringList{"PHONETIC", "B1*2"};
    QTest::newRow("pptx") << "sample.pptx"
                          << QStringList{"First slide title\nOpening words",
                                         "Speaker note about tides", "Second slide title",
                                         "Closing words"}
                          << QStringList{"7"};
    QTest::newRow("odt") << "sample.odt"
                         << QStringList{"Harbour log",
                                        "Wind from the north east,   calm\tsea\nsecond line",
                                        "T1\tT2", "Log header", "Log footer 1"}
                         << QStringList{"removed sentence", "Table1"};
    QTest::newRow("ods") << "sample.ods"
                         << QStringList{"Inventory", "Rope\t", "42", "Second sheet", "Lamp oil"}
                         << QStringList{};
    QTest::newRow("odp") << "sample.odp"
                         << QStringList{"Slide one words", "Presenter notes here",
                                        "Slide two words"}
                         << QStringList{};
    QTest::newRow("odg") << "sample.odg" << QStringList{"Diagram label"} << QStringList{};
    QTest::newRow("epub") << "sample.epub"
                          << QStringList{"Chapter One\nIt began with a bell.\n\nChapter Two\n"
                                         "The storm passed at dawn."}
                          << QStringList{"color", "margin"};
    QTest::newRow("pdf") << "sample.pdf"
                         << QStringList{"Lighthouse inspection report", "First page body text",
                                        "Second page conclusion"}
                         << QStringList{};
    QTest::newRow("rtf") << "sample.rtf"
                         << QStringList{"Tide tables for spring\n",
                                        "Café naïve € euro\n",
                                        "Привет\n",
                                        "Link text\n",
                                        "Cell one\tCell two\t\n",
                                        "Braces { and } and backslash \\ done"}
                         << QStringList{"Arial",     "Hidden title", "Nobody",      "Normal",
                                        "HYPERLINK", "0102",         "Handwritten", "?"};
    QTest::newRow("eml") << "sample.eml"
                         << QStringList{"Subject: Storm warning – tonight",
                                        "From: Jörg Keeper <keeper@lighthouse.invalid>",
                                        "To: Harbour Master <master@harbour.invalid>",
                                        "Gale expected after möonrise; secure the boats.",
                                        "Attached logbook entry"}
                         << QStringList{"HTML version only", "=C3", "QXR0"};
    // Legacy Office: LibreOffice's .doc from sample.fodt, and a hand-laid one whose piece
    // table mixes 8-bit and UTF-16 pieces around fields.
    QTest::newRow("doc")
        << "sample.doc"
        << QStringList{"Harbour office header",           "Minutes of the harbour council",
                       "Left\tRight\nNext line",          "Berth one\tBerth two\nCrane\tTug",
                       "Café crème über 日本 Привет end", "See the harbour site for tides.",
                       "Last paragraph of the minutes",   "Footnote on the red buoys",
                       "Endnote on the anchors",          "Comment from the pilot",
                       "Text box about the tide",         "Harbour office footer page 1"}
        << QStringList{"HYPERLINK", "PAGE", "https"};
    QTest::newRow("doc pieces") << "pieces.doc"
                                << QStringList{"Tide report: café “quoted” € 5\nΩmega 日本 shown "
                                               "link and nested result done",
                                               "Footnote in eight bits"}
                                << QStringList{"HYPERLINK", "IF", "PAGE", "x.invalid"};
    // LibreOffice's .xls and .xlsx of sample.fods: numbers as their cells' formats show them.
    const QStringList workbook{"Budget",
                               "Item\tAmount\tDate\tShare",
                               "Harbour dues\t1,599.99\t17-May-07\t2.50%",
                               "Doubled\t3,199.98\tTRUE",
                               "0.3\t0.333333333\t42\t-7.5",
                               "Staff",
                               "Keeper\tCafé crème 日本\t18:00",
                               "Long note: tide and café tide"};
    QTest::newRow("xls") << "sample.xls"
                         << workbook + QStringList{"end of the long note", "Budget header",
                                                   "Budget footer"}
                         << QStringList{"39219", "0.025", "1599.99", "0.30000"};
    // Hidden in the first sheet's cells, between them and the footer: the comment.
    QTest::newRow("xls comment") << "sample.xls"
                                 << QStringList{"Budget header", "Check with the harbour master",
                                                "Budget footer", "Staff"}
                                 << QStringList{};
    QTest::newRow("xlsx number formats")
        << "formats.xlsx" << workbook << QStringList{"39219", "0.025", "1599.99", "0.30000"};
    // Excel 5: text in the workbook's code page, a custom format, a formula's text result.
    QTest::newRow("xls excel 5") << "excel5.xls"
                                 << QStringList{"Лист\nПривет, мир\t2.5\n1.235x\tFormula ok"}
                                 << QStringList{};
    // LibreOffice's .ppt of sample.fodp: slides with their notes, then the master's text.
    QTest::newRow("ppt") << "sample.ppt"
                         << QStringList{"First slide title\nOpening words\nCafé crème 日本 Привет",
                                        "Speaker note about tides",
                                        "Second slide title\nFree text box on slide two",
                                        "Click to edit the title text format"}
                         << QStringList{"*", "___PPT10"};
    // Text in the slide list and in a shape; a slide left over from an older edit is not shown.
    QTest::newRow("ppt slide list")
        << "slide-list.ppt"
        << QStringList{"Listed title café\nListed body\nsecond line\nShape text"}
        << QStringList{"Deleted slide text"};
    // Outlook messages written by fixtures/make_legacy_fixtures.py.
    QTest::newRow("msg") << "sample.msg"
                         << QStringList{"Subject: Storm warning – tonight\n"
                                        "From: Jörg Keeper <keeper@lighthouse.invalid>\n"
                                        "To: Harbour Master <master@harbour.invalid>\n"
                                        "Cc: Pilot <pilot@harbour.invalid>\n"
                                        "Date: 17 May 2007 18:30:00 +0000",
                                        "Gale expected after möonrise; secure the boats.",
                                        "Attachment: minutes.doc",
                                        "Minutes of the harbour council",
                                        "Attachment: Forwarded note",
                                        "Subject: Inner forwarded subject\n\nInner body text"}
                         << QStringList{};
    QTest::newRow("msg with compressed rtf")
        << "rtf-body.msg"
        << QStringList{"Subject: Tide tables for Müller\nFrom: Hafenmeister",
                       "Tide tables for Müller\nThe harbour closes at dusk.\n"
                       "The harbour closes at dusk."}
        << QStringList{"Arial", "rtf1"};
    QTest::newRow("msg with html")
        << "html-body.msg" << QStringList{"Subject: Harbour page", "Moorings & berths"}
        << QStringList{"hidden()", "<p>"};
    QTest::newRow("html") << "sample.html"
                          << QStringList{"Welcome aboard", "Ships & boats,\ncafé and more",
                                         "Left cell\tRight cell", "  keep   spacing"}
                          << QStringList{"Harbour page", "script words", "font-family",
                                         "a comment"};
}

void tst_ExtractDocument::formats()
{
    QFETCH(QString, file);
    QFETCH(QStringList, inOrder);
    QFETCH(QStringList, absent);

    const ExtractResult result = extract(fixture(file));
    QCOMPARE(result.status, ExtractStatus::Ok);
    const QString text = QString::fromUtf8(result.utf8Text);
    qsizetype from = 0;
    for (const QString &expected : inOrder) {
        const qsizetype at = text.indexOf(expected, from);
        if (at < 0)
            qWarning().noquote() << "extracted text:\n" << text;
        QVERIFY2(at >= 0, qPrintable(QStringLiteral("missing or out of order: ") + expected));
        from = at + expected.size();
    }
    for (const QString &unwanted : absent)
        QVERIFY2(!text.contains(unwanted), qPrintable(QStringLiteral("unexpected: ") + unwanted));
}

void tst_ExtractDocument::pdfPagesAreSeparatedByABlankLine()
{
    const ExtractResult result = extract(fixture(QStringLiteral("sample.pdf")));
    QCOMPARE(result.status, ExtractStatus::Ok);
    QVERIFY2(result.utf8Text.contains("First page body text\n\nSecond page conclusion"),
             result.utf8Text.constData());
}

void tst_ExtractDocument::plainText_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("expected");

    const QString sample =
        QStringLiteral("fn main() {\n    println!(\"Grüße, señor – 日本\");\n}\n");
    QTest::newRow("utf8 .rs") << sample.toUtf8() << "main.rs" << sample;
    QTest::newRow("utf8 README") << QByteArray("Read me first.\r\nThen build.\n") << "README"
                                 << "Read me first.\r\nThen build.\n";
    QTest::newRow("Makefile with tabs") << QByteArray("all:\n\tcc -o x x.c\n") << "Makefile"
                                        << "all:\n\tcc -o x x.c\n";
    QTest::newRow("utf8 bom") << QByteArray("\xEF\xBB\xBF") + sample.toUtf8() << "a.go" << sample;
    QTest::newRow("utf16le bom") << QByteArray("\xFF\xFE") + encoded(sample, "UTF-16LE")
                                 << "a.swift" << sample;
    QTest::newRow("utf16be bom") << QByteArray("\xFE\xFF") + encoded(sample, "UTF-16BE")
                                 << "board.dts" << sample;
    QTest::newRow("utf32le bom") << QByteArray("\xFF\xFE\x00\x00", 4) + encoded(sample, "UTF-32LE")
                                 << "notes" << sample;
    QTest::newRow("utf16le without bom")
        << encoded(QStringLiteral("plain old notes saved by an editor\n"), "UTF-16LE") << "notes"
        << "plain old notes saved by an editor\n";

    // Legacy charsets must be guessed from the bytes.
    const QString french = QStringLiteral(
        "Le café crème est très apprécié à la française. Où est la gare ? Déjà vu, "
        "l'été dernier, à Noël, près de la forêt, nous étions très fatigués après la fête.\n");
    QTest::newRow("windows-1252") << encoded(french, "windows-1252") << "lettre" << french;
    const QString russian = QStringLiteral(
        "Съешь же ещё этих мягких французских булок, да выпей чаю. Широкая электрификация "
        "южных губерний даст мощный толчок подъёму сельского хозяйства.\n");
    QTest::newRow("windows-1251") << encoded(russian, "windows-1251") << "letter.txt" << russian;
}

void tst_ExtractDocument::plainText()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, fileName);
    QFETCH(QString, expected);

    const ExtractResult result = extract(content, fileName);
    QCOMPARE(result.status, ExtractStatus::Ok);
    QCOMPARE(QString::fromUtf8(result.utf8Text), expected);
}

void tst_ExtractDocument::mailParts_data()
{
    QTest::addColumn<QByteArray>("mail");
    QTest::addColumn<QStringList>("expected");

    const QByteArray head = "From: a@b.invalid\r\nTo: c@d.invalid\r\nSubject: Parts\r\n"
                            "MIME-Version: 1.0\r\n";
    QTest::newRow("html only, latin-1 quoted-printable")
        << head + "Content-Type: text/html; charset=iso-8859-1\r\n"
                  "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                  "<html><body><p>Gr=FC=DFe aus K=F6ln</p><script>no()</script></body></html>\r\n"
        << QStringList{"Subject: Parts", "Grüße aus Köln"};
    QTest::newRow("forwarded message")
        << head + "Content-Type: message/rfc822\r\n\r\n"
                  "From: e@f.invalid\r\nSubject: Inner subject\r\n\r\nInner body\r\n"
        << QStringList{"Subject: Parts", "Subject: Inner subject", "Inner body"};
    QTest::newRow("word attachment")
        << head +
               "Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\n"
               "Content-Type: text/plain\r\n\r\nSee attached.\r\n--x\r\n"
               "Content-Type: application/octet-stream; name=r.docx\r\n"
               "Content-Disposition: attachment; filename=r.docx\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n" +
               fixture(QStringLiteral("sample.docx")).toBase64() + "\r\n--x--\r\n"
        << QStringList{"See attached.", "Quarterly report of the lighthouse keepers"};
}

void tst_ExtractDocument::mailParts()
{
    QFETCH(QByteArray, mail);
    QFETCH(QStringList, expected);
    const ExtractResult result = extract(mail, QStringLiteral("message.eml"));
    QCOMPARE(result.status, ExtractStatus::Ok);
    const QString text = QString::fromUtf8(result.utf8Text);
    for (const QString &part : expected)
        QVERIFY2(text.contains(part), qPrintable(text));
    QVERIFY(!text.contains(u"no()"));
}

void tst_ExtractDocument::contentDecidesOverTheName()
{
    // A PDF saved as .txt is still a PDF; an HTML fragment is HTML because of its name or type.
    const ExtractResult pdf =
        extract(fixture(QStringLiteral("sample.pdf")), "notes.txt", QStringLiteral("text/plain"));
    QCOMPARE(pdf.status, ExtractStatus::Ok);
    QVERIFY(pdf.utf8Text.contains("Second page conclusion"));

    const QByteArray fragment("<p>Tide <b>at</b> noon</p><script>x()</script>");
    QCOMPARE(extract(fragment, "page.html").utf8Text, QByteArray("Tide at noon"));
    QCOMPARE(extract(fragment, QString(), QStringLiteral("text/html; charset=utf-8")).utf8Text,
             QByteArray("Tide at noon"));
    QCOMPARE(extract(fragment, "fragment.txt").utf8Text, fragment);

    // Mail is recognised by its headers even without a name.
    const QByteArray mail("From: a@b.invalid\nTo: c@d.invalid\nSubject: Tide\n\nBody line\n");
    const QString text = QString::fromUtf8(extract(mail).utf8Text);
    QVERIFY2(text.contains(u"Subject: Tide") && text.contains(u"Body line"), qPrintable(text));

    // XML by its declaration: text content only.
    QCOMPARE(extract("<?xml version=\"1.0\"?><log><entry a=\"hidden\">calm</entry></log>").utf8Text,
             QByteArray("calm"));
}

void tst_ExtractDocument::unsupported_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("png") << QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200000001")
                         << "picture.png";
    QTest::newRow("compound file of another program") << fixture("unknown.cfb") << "drawing.vsd";
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char((i * 7919) % 256));
    QTest::newRow("binary noise") << binary << "data.bin";
    // A plain zip that is no document: stored "a.txt" with "hi".
    QTest::newRow("plain zip") << QByteArray::fromHex(
                                      "504b0304140000000000152a8a5dac2a93d8020000000200000005000000"
                                      "612e7478746869504b010214"
                                      "03140000000000152a8a5dac2a93d8020000000200000005000000000000"
                                      "0000000000800100000000612e"
                                      "747874504b0506000000000100010033000000250000000000")
                               << "archive.zip";
}

void tst_ExtractDocument::unsupported()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, fileName);
    const ExtractResult result = extract(content, fileName);
    QCOMPARE(result.status, ExtractStatus::Unsupported);
    QVERIFY(result.utf8Text.isEmpty());
}

void tst_ExtractDocument::unparseable_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("truncated docx") << fixture(QStringLiteral("corrupt.docx"));
    QTest::newRow("compound file header only")
        << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\x00\x00", 10);
    QTest::newRow("encrypted doc") << fixture(QStringLiteral("encrypted.doc"));
    QTest::newRow("doc piece past the end") << fixture(QStringLiteral("truncated.doc"));
    QTest::newRow("encrypted xls") << fixture(QStringLiteral("encrypted.xls"));
    QTest::newRow("encrypted ppt") << fixture(QStringLiteral("encrypted.ppt"));
    QTest::newRow("password-protected pdf") << fixture(QStringLiteral("encrypted.pdf"));
    QTest::newRow("pdf header only") << QByteArray("%PDF-1.7\n1 0 obj << /Type /Catalog");
    QByteArray docx = fixture(QStringLiteral("sample.docx"));
    // Flip bytes inside the compressed document: the checksum or the inflater must object.
    const qsizetype at = docx.indexOf("word/document.xml") + 40;
    for (qsizetype i = at; i < at + 64 && i < docx.size(); ++i)
        docx[i] = char(docx[i] ^ 0x5A);
    QTest::newRow("damaged member") << docx;
}

void tst_ExtractDocument::unparseable()
{
    QFETCH(QByteArray, content);
    const ExtractResult result = extract(content);
    QCOMPARE(result.status, ExtractStatus::Unparseable);
    QVERIFY(result.utf8Text.isEmpty());
    QVERIFY(!result.error.isEmpty());
}

void tst_ExtractDocument::emptyInputIsEmptyText()
{
    const ExtractResult result = extract(QByteArray(), QStringLiteral("empty.docx"));
    QCOMPARE(result.status, ExtractStatus::Ok);
    QVERIFY(result.utf8Text.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ExtractDocument)
#include "tst_ExtractDocument.moc"
