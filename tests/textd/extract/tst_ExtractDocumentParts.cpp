// The parts of documents beside their main text: SmartArt, headers and footers, comments, text
// boxes, layouts and masters, annotations; and HTML and mail that only looked unreadable. Each
// document is built here from XML written for the test.
#include "textd/extract/Extract.h"
#include "textd/fuzz/StoredZip.h"

#include <QStringEncoder>
#include <QTest>

using namespace dv::textd;

namespace {

const QByteArray kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const QByteArray kDrawingNs = "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
                              "xmlns:r=\"" +
                              kRelNs + "\"";
const QByteArray kDiagramNs =
    "xmlns:dgm=\"http://schemas.openxmlformats.org/drawingml/2006/diagram\"";

struct Rel
{
    QByteArray id, type, target;
};

QByteArray rels(const QList<Rel> &list)
{
    QByteArray xml = "<Relationships "
                     "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const Rel &r : list) {
        const QByteArray type = r.type.startsWith("http") ? r.type : kRelNs + "/" + r.type;
        xml +=
            "<Relationship Id=\"" + r.id + "\" Type=\"" + type + "\" Target=\"" + r.target + "\"/>";
    }
    return xml + "</Relationships>";
}

// An Office Open XML package: its main part and the members around it.
QByteArray package(const QByteArray &mainPart, const ZipMembers &members)
{
    ZipMembers all = {
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"},
        {"_rels/.rels", rels({{"rId1", "officeDocument", mainPart}})}};
    return storedZip(all + members);
}

// A SmartArt graphic's data part, pretty-printed as Office writes it, with one point per text
// and the connections' points, which have none.
QByteArray diagramData(const QStringList &texts)
{
    QByteArray points = "<dgm:pt modelId=\"0\" type=\"doc\"><dgm:prSet/><dgm:spPr/>"
                        "<dgm:t><a:bodyPr/><a:lstStyle/><a:p><a:endParaRPr/></a:p></dgm:t>"
                        "</dgm:pt>\n";
    int id = 1;
    for (const QString &text : texts) {
        points += "  <dgm:pt modelId=\"" + QByteArray::number(id++) +
                  "\">\n    <dgm:prSet phldrT=\"[Text]\"/>\n    <dgm:spPr/>\n    <dgm:t>\n"
                  "      <a:bodyPr/>\n      <a:lstStyle/>\n      <a:p><a:r><a:t>" +
                  text.toUtf8() + "</a:t></a:r></a:p>\n    </dgm:t>\n  </dgm:pt>\n";
        points += "  <dgm:pt modelId=\"" + QByteArray::number(id++) +
                  "\" type=\"parTrans\"><dgm:prSet/><dgm:spPr/><dgm:t><a:bodyPr/><a:p/>"
                  "</dgm:t></dgm:pt>\n";
    }
    return "<?xml version=\"1.0\"?>\n<dgm:dataModel " + kDiagramNs + " " + kDrawingNs +
           ">\n <dgm:ptLst>\n" + points +
           " </dgm:ptLst>\n <dgm:cxnLst/>\n <dgm:extLst><a:ext><dsp:dataModelExt "
           "xmlns:dsp=\"http://schemas.microsoft.com/office/drawing/2008/diagram\" "
           "relId=\"rId9\"/></a:ext></dgm:extLst>\n</dgm:dataModel>";
}

// The drawing Office caches beside a SmartArt graphic: the same texts again, as shapes.
QByteArray diagramDrawing(const QStringList &texts)
{
    QByteArray shapes;
    for (const QString &text : texts)
        shapes += "<dsp:sp><dsp:txBody><a:p><a:r><a:t>" + text.toUtf8() +
                  "</a:t></a:r></a:p></dsp:txBody></dsp:sp>";
    return "<dsp:drawing xmlns:dsp=\"http://schemas.microsoft.com/office/drawing/2008/diagram\" " +
           kDrawingNs + "><dsp:spTree>" + shapes + "</dsp:spTree></dsp:drawing>";
}

// The relationships of a part that shows a SmartArt graphic: data, layout, colours, style and
// Office's cached drawing.
QList<Rel> diagramRels(const QByteArray &folder)
{
    return {{"rIdDm", "diagramData", folder + "diagrams/data1.xml"},
            {"rIdLo", "diagramLayout", folder + "diagrams/layout1.xml"},
            {"rIdCs", "diagramColors", folder + "diagrams/colors1.xml"},
            {"rIdQs", "diagramQuickStyle", folder + "diagrams/quickStyle1.xml"},
            {"rIdDr", "http://schemas.microsoft.com/office/2007/relationships/diagramDrawing",
             folder + "diagrams/drawing1.xml"}};
}

const QByteArray kDiagramRef = "<a:graphic " + kDrawingNs +
                               "><a:graphicData uri=\"http://schemas.openxmlformats.org/"
                               "drawingml/2006/diagram\"><dgm:relIds " +
                               kDiagramNs +
                               " r:dm=\"rIdDm\" r:lo=\"rIdLo\" r:qs=\"rIdQs\" r:cs=\"rIdCs\"/>"
                               "</a:graphicData></a:graphic>";

// --- WordprocessingML

const QByteArray kWordNs =
    "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
    "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
    "xmlns:r=\"" +
    kRelNs + "\"";

QByteArray wordPara(const QByteArray &text)
{
    return "<w:p><w:r><w:t>" + text + "</w:t></w:r></w:p>";
}

const QByteArray kWordDiagram =
    "<w:p><w:r><w:drawing><wp:inline><wp:docPr id=\"1\" name=\"Diagram 1\"/>" + kDiagramRef +
    "</wp:inline></w:drawing></w:r></w:p>";

QByteArray wordDocument(const QByteArray &body, const QList<Rel> &documentRels,
                        const ZipMembers &members)
{
    return package("word/document.xml",
                   ZipMembers{{"word/document.xml", "<w:document " + kWordNs + "><w:body>" + body +
                                                        "</w:body></w:document>"},
                              {"word/_rels/document.xml.rels", rels(documentRels)}} +
                       members);
}

// --- SpreadsheetML

const QByteArray kSheetNs = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                            "xmlns:r=\"" +
                            kRelNs + "\"";

// A workbook of one sheet, "Dues", whose first cell reads "Harbour dues".
QByteArray workbook(const QByteArray &afterCells, const QList<Rel> &sheetRels,
                    const ZipMembers &members)
{
    ZipMembers all = {
        {"xl/workbook.xml", "<workbook " + kSheetNs +
                                "><sheets><sheet name=\"Dues\" sheetId=\"1\" r:id=\"rId1\"/>"
                                "</sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels", rels({{"rId1", "worksheet", "worksheets/sheet1.xml"}})},
        {"xl/worksheets/sheet1.xml",
         "<worksheet " + kSheetNs +
             "><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Harbour dues</t></is>"
             "</c><c r=\"B1\"><v>120</v></c></row></sheetData>" +
             afterCells + "</worksheet>"},
        {"xl/worksheets/_rels/sheet1.xml.rels", rels(sheetRels)}};
    return package("xl/workbook.xml", all + members);
}

const QByteArray kSpreadsheetDrawingNs =
    "xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\" " +
    kDrawingNs;

// --- PresentationML

const QByteArray kPresentationNs =
    "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\" " + kDrawingNs;

QByteArray shape(const QByteArray &text, const QByteArray &placeholder = {})
{
    const QByteArray ph = placeholder.isEmpty() ? QByteArray() : "<p:ph " + placeholder + "/>";
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Shape\"/><p:cNvSpPr/><p:nvPr>" + ph +
           "</p:nvPr></p:nvSpPr><p:spPr/><p:txBody><a:bodyPr/><a:p><a:r><a:t>" + text +
           "</a:t></a:r></a:p></p:txBody></p:sp>";
}

QByteArray slidePart(const QByteArray &root, const QByteArray &shapes)
{
    return "<p:" + root + " " + kPresentationNs + "><p:cSld><p:spTree>" + shapes +
           "</p:spTree></p:cSld></p:" + root + ">";
}

// A presentation of the given slides (slide1.xml, slide2.xml, ...), each with its relationships.
QByteArray presentation(const QList<QPair<QByteArray, QList<Rel>>> &slides,
                        const ZipMembers &members)
{
    QByteArray ids;
    QList<Rel> presentationRels;
    ZipMembers all;
    for (int i = 0; i < slides.size(); ++i) {
        const QByteArray n = QByteArray::number(i + 1);
        ids += "<p:sldId id=\"" + QByteArray::number(256 + i) + "\" r:id=\"rId" + n + "\"/>";
        presentationRels.append({"rId" + n, "slide", "slides/slide" + n + ".xml"});
        all.append({"ppt/slides/slide" + n + ".xml", slidePart("sld", slides[i].first)});
        all.append({"ppt/slides/_rels/slide" + n + ".xml.rels", rels(slides[i].second)});
    }
    all.prepend({"ppt/_rels/presentation.xml.rels", rels(presentationRels)});
    all.prepend({"ppt/presentation.xml", "<p:presentation " + kPresentationNs + "><p:sldIdLst>" +
                                             ids + "</p:sldIdLst></p:presentation>"});
    return package("ppt/presentation.xml", all + members);
}

// --- OpenDocument

const QByteArray kOdfNs =
    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
    "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
    "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"";

QByteArray odf(const QByteArray &type, const QByteArray &automaticStyles, const QByteArray &body,
               const QByteArray &masterStyles, const QByteArray &manifestEntries = {})
{
    const QByteArray mimetype = "application/vnd.oasis.opendocument." + type;
    return storedZip(
        {{"mimetype", mimetype},
         {"content.xml", "<office:document-content " + kOdfNs + "><office:automatic-styles>" +
                             automaticStyles + "</office:automatic-styles><office:body>" + body +
                             "</office:body></office:document-content>"},
         {"styles.xml", "<office:document-styles " + kOdfNs +
                            "><office:styles/><office:master-styles>" + masterStyles +
                            "</office:master-styles></office:document-styles>"},
         {"META-INF/manifest.xml", "<manifest:manifest " + kOdfNs +
                                       "><manifest:file-entry manifest:full-path=\"/\" "
                                       "manifest:media-type=\"" +
                                       mimetype + "\"/>" + manifestEntries +
                                       "</manifest:manifest>"}});
}

QByteArray odfPara(const QByteArray &text)
{
    return "<text:p>" + text + "</text:p>";
}

QByteArray odfFrame(const QByteArray &text, const QByteArray &attributes = {})
{
    return "<draw:frame " + attributes + "><draw:text-box>" + odfPara(text) +
           "</draw:text-box></draw:frame>";
}

// --- EPUB

// A book of one chapter whose META-INF/encryption.xml names one member with an algorithm.
QByteArray epub(const QByteArray &algorithm, const QByteArray &encryptedMember)
{
    return storedZip(
        {{"mimetype", "application/epub+zip"},
         {"META-INF/container.xml",
          "<container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
          "<rootfile full-path=\"OEBPS/book.opf\"/></rootfiles></container>"},
         {"META-INF/encryption.xml",
          "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" "
          "xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\"><enc:EncryptedData>"
          "<enc:EncryptionMethod Algorithm=\"" +
              algorithm + "\"/><enc:CipherData><enc:CipherReference URI=\"" + encryptedMember +
              "\"/></enc:CipherData></enc:EncryptedData></encryption>"},
         {"OEBPS/book.opf",
          "<package xmlns=\"http://www.idpf.org/2007/opf\"><manifest><item id=\"c\" "
          "href=\"chapter.xhtml\" media-type=\"application/xhtml+xml\"/></manifest><spine>"
          "<itemref idref=\"c\"/></spine></package>"},
         {"OEBPS/chapter.xhtml", "<html><body><p>Chapter text</p></body></html>"},
         {"OEBPS/font.otf", "font bytes"}});
}

// --- Checks

ExtractResult extract(const QByteArray &content, const QString &fileName = QString())
{
    return extractDocument(content, QStringLiteral("application/octet-stream"), fileName,
                           ExtractLimits());
}

// Each expected text once, in this order; none of the unwanted ones.
void verifyText(const ExtractResult &result, const QStringList &inOrder, const QStringList &absent)
{
    QCOMPARE(result.status, ExtractStatus::Ok);
    const QString text = QString::fromUtf8(result.utf8Text);
    qsizetype from = 0;
    for (const QString &expected : inOrder) {
        const qsizetype at = text.indexOf(expected, from);
        if (at < 0 || text.count(expected) != 1)
            qWarning().noquote() << "extracted text:\n" << text;
        QVERIFY2(at >= 0, qPrintable(QStringLiteral("missing or out of order: ") + expected));
        QVERIFY2(text.count(expected) == 1, qPrintable(QStringLiteral("repeated: ") + expected));
        from = at + expected.size();
    }
    for (const QString &unwanted : absent) {
        if (text.contains(unwanted))
            qWarning().noquote() << "extracted text:\n" << text;
        QVERIFY2(!text.contains(unwanted), qPrintable(QStringLiteral("unexpected: ") + unwanted));
    }
}

void addPartsColumns()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QStringList>("inOrder");
    QTest::addColumn<QStringList>("absent");
}

} // namespace

class tst_ExtractDocumentParts : public QObject
{
    Q_OBJECT

private slots:
    void word_data();
    void word() { verifyParts(); }
    void excel_data();
    void excel() { verifyParts(); }
    void powerPoint_data();
    void powerPoint() { verifyParts(); }
    void openDocument_data();
    void openDocument() { verifyParts(); }
    void rtf_data();
    void rtf();
    void html_data();
    void html();
    void mail_data();
    void mail();
    void epubFontsOnlyObfuscated();
    void unreadable_data();
    void unreadable();

private:
    void verifyParts();
};

void tst_ExtractDocumentParts::verifyParts()
{
    QFETCH(QByteArray, document);
    QFETCH(QStringList, inOrder);
    QFETCH(QStringList, absent);
    verifyText(extract(document), inOrder, absent);
}

void tst_ExtractDocumentParts::word_data()
{
    addPartsColumns();
    const QStringList steps = {"Survey the coast", "Repair the lamp"};
    const ZipMembers diagram = {{"word/diagrams/data1.xml", diagramData(steps)},
                                {"word/diagrams/drawing1.xml", diagramDrawing(steps)}};

    QTest::newRow("SmartArt where it stands in the body")
        << wordDocument(wordPara("Before the graphic") + kWordDiagram + wordPara("After it"),
                        diagramRels(QByteArray()), diagram)
        << QStringList{"Before the graphic", "Survey the coast\nRepair the lamp", "After it"}
        << QStringList{"[Text]"};
    QTest::newRow("SmartArt in a header, before the body")
        << wordDocument(wordPara("Body text"), {{"rId1", "header", "header1.xml"}},
                        ZipMembers{{"word/header1.xml",
                                    "<w:hdr " + kWordNs + ">" + kWordDiagram + "</w:hdr>"},
                                   {"word/_rels/header1.xml.rels", rels(diagramRels({}))}} +
                            diagram)
        << QStringList{"Survey the coast", "Repair the lamp", "Body text"} << QStringList{};
    QTest::newRow("SmartArt whose data part is missing")
        << wordDocument(wordPara("Before the graphic") + kWordDiagram + wordPara("After it"),
                        diagramRels(QByteArray()), {})
        << QStringList{"Before the graphic\nAfter it"} << QStringList{};
}

void tst_ExtractDocumentParts::excel_data()
{
    addPartsColumns();

    QTest::newRow("header and footer codes, each text once")
        << workbook("<headerFooter><oddHeader>&amp;L&amp;\"Arial,Bold\"&amp;14Harbour &amp;&amp; "
                    "dock&amp;C&amp;P of &amp;N&amp;RPrinted &amp;D</oddHeader>"
                    "<oddFooter>&amp;CConfidential &amp;KFF0000draft of &amp;A</oddFooter>"
                    "<evenHeader>&amp;L&amp;\"Arial,Bold\"&amp;14Harbour &amp;&amp; "
                    "dock&amp;C&amp;P of &amp;N&amp;RPrinted &amp;D</evenHeader>"
                    "<firstFooter>&amp;RFirst page only</firstFooter></headerFooter>",
                    {}, {})
        << QStringList{"Dues\nHarbour dues\t120\n\nHarbour & dock\tof\tPrinted\n"
                       "Confidential draft of Dues\nFirst page only"}
        << QStringList{"Arial", "14", "FF0000", "&D"};

    const QByteArray comments =
        "<comments " + kSheetNs +
        "><authors><author>Jane Keeper</author></authors><commentList>"
        "<comment ref=\"B1\" authorId=\"0\"><text><r><rPr><b/><sz val=\"9\"/></rPr><t>Jane "
        "Keeper:</t></r><r><t xml:space=\"preserve\">\nRaised in March</t></r></text></comment>"
        "<comment ref=\"A1\" authorId=\"0\"><text><t>[Threaded comment]\n\nYour version of Excel "
        "allows you to read this threaded comment.\n\nComment:\n    Check the dues</t></text>"
        "</comment></commentList></comments>";
    QTest::newRow("comments, threaded ones from their thread")
        << workbook({},
                    {{"rId1", "comments", "../comments1.xml"},
                     {"rId2",
                      "http://schemas.microsoft.com/office/2017/10/relationships/threadedComment",
                      "../threadedComments/threadedComment1.xml"}},
                    {{"xl/comments1.xml", comments},
                     {"xl/threadedComments/threadedComment1.xml",
                      "<ThreadedComments xmlns=\"http://schemas.microsoft.com/office/"
                      "spreadsheetml/2018/threadedcomments\"><threadedComment ref=\"A1\" "
                      "id=\"{1}\"><text>Check the dues</text></threadedComment>"
                      "<threadedComment ref=\"A1\" id=\"{2}\" parentId=\"{1}\"><text>Done, "
                      "they match</text></threadedComment></ThreadedComments>"}})
        << QStringList{"Harbour dues", "Check the dues\nDone, they match",
                       "Jane Keeper:\nRaised in March"}
        << QStringList{"Your version of Excel", "[Threaded comment]"};

    const QStringList chart = {"Low water", "High water"};
    QTest::newRow("text box and SmartArt of the sheet's drawing")
        << workbook("<drawing r:id=\"rId1\"/>", {{"rId1", "drawing", "../drawings/drawing1.xml"}},
                    {{"xl/drawings/drawing1.xml",
                      "<xdr:wsDr " + kSpreadsheetDrawingNs +
                          "><xdr:twoCellAnchor><xdr:sp><xdr:txBody><a:bodyPr/><a:p><a:r>"
                          "<a:t>Tide chart note</a:t></a:r></a:p></xdr:txBody></xdr:sp>"
                          "</xdr:twoCellAnchor><xdr:twoCellAnchor><xdr:graphicFrame>" +
                          kDiagramRef + "</xdr:graphicFrame></xdr:twoCellAnchor></xdr:wsDr>"},
                     {"xl/drawings/_rels/drawing1.xml.rels", rels(diagramRels("../"))},
                     {"xl/diagrams/data1.xml", diagramData(chart)},
                     {"xl/diagrams/drawing1.xml", diagramDrawing(chart)}})
        << QStringList{"Harbour dues", "Tide chart note", "Low water\nHigh water"} << QStringList{};
}

void tst_ExtractDocumentParts::powerPoint_data()
{
    addPartsColumns();

    const QStringList steps = {"Moor", "Unload"};
    QTest::newRow("SmartArt on a slide")
        << presentation(
               {{shape("Harbour routine") + "<p:graphicFrame>" + kDiagramRef + "</p:graphicFrame>",
                 diagramRels("../")}},
               {{"ppt/diagrams/data1.xml", diagramData(steps)},
                {"ppt/diagrams/drawing1.xml", diagramDrawing(steps)}})
        << QStringList{"Harbour routine", "Moor\nUnload"} << QStringList{};

    QTest::newRow("old and modern comments after the slide's notes")
        << presentation(
               {{shape("Quay plan"),
                 {{"rId1", "notesSlide", "../notesSlides/notesSlide1.xml"},
                  {"rId2", "comments", "../comments/comment1.xml"},
                  {"rId3", "http://schemas.microsoft.com/office/2018/10/relationships/comments",
                   "../comments/modernComment_100.xml"}}},
                {shape("Second slide"), {}}},
               {{"ppt/notesSlides/notesSlide1.xml", slidePart("notes", shape("Speaker notes"))},
                {"ppt/comments/comment1.xml",
                 "<p:cmLst " + kPresentationNs +
                     "><p:cm authorId=\"0\" idx=\"1\"><p:pos x=\"10\" y=\"10\"/><p:text>Move "
                     "the crane</p:text></p:cm></p:cmLst>"},
                {"ppt/comments/modernComment_100.xml",
                 "<p188:cmLst xmlns:p188=\"http://schemas.microsoft.com/office/powerpoint/2018/"
                 "8/main\" " +
                     kDrawingNs +
                     "><p188:cm id=\"{1}\"><p188:replyLst><p188:reply id=\"{2}\"><p188:txBody>"
                     "<a:bodyPr/><a:p><a:r><a:t>Agreed</a:t></a:r></a:p></p188:txBody>"
                     "</p188:reply></p188:replyLst><p188:txBody><a:bodyPr/><a:p><a:r><a:t>Add "
                     "the pier</a:t></a:r></a:p></p188:txBody></p188:cm></p188:cmLst>"}})
        << QStringList{"Quay plan", "Speaker notes", "Move the crane",
                       "Agreed",    "Add the pier",  "Second slide"}
        << QStringList{};

    // Two slides on one layout: the layout's and its master's own text once, after the slides;
    // their placeholders' prompts never.
    const QList<Rel> onLayout = {{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"}};
    QTest::newRow("layout and master text once, without placeholder prompts")
        << presentation(
               {{shape("First slide", "type=\"title\""), onLayout},
                {shape("Second slide", "type=\"title\""), onLayout}},
               {{"ppt/slideLayouts/slideLayout1.xml",
                 slidePart("sldLayout",
                           shape("Click to edit Master title style", "type=\"title\"") +
                               shape("Harbour Authority"))},
                {"ppt/slideLayouts/_rels/slideLayout1.xml.rels",
                 rels({{"rId1", "slideMaster", "../slideMasters/slideMaster1.xml"}})},
                {"ppt/slideMasters/slideMaster1.xml",
                 slidePart("sldMaster",
                           shape("Click to edit Master text styles", "type=\"body\" idx=\"1\"") +
                               "<p:grpSp>" + shape("Established 1852") + "</p:grpSp>" +
                               shape("Footer placeholder text", "type=\"ftr\" idx=\"11\""))},
                {"ppt/slideMasters/_rels/slideMaster1.xml.rels",
                 rels({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"}})}})
        << QStringList{"First slide", "Second slide", "Established 1852", "Harbour Authority"}
        << QStringList{"Click to edit", "Footer placeholder text"};
}

void tst_ExtractDocumentParts::openDocument_data()
{
    addPartsColumns();

    const QByteArray sheet =
        "<office:spreadsheet><table:table table:name=\"Stock\" table:style-name=\"ta1\">"
        "<table:table-row><table:table-cell>" +
        odfPara("Rope") +
        "</table:table-cell></table:table-row></table:table></office:spreadsheet>";
    const QByteArray tableStyle = "<style:style style:name=\"ta1\" style:family=\"table\" "
                                  "style:master-page-name=\"Default\"/>";
    // As LibreOffice writes them: fields in the header and the footer, a second master page
    // no sheet uses, and headers turned off for left pages.
    const QByteArray masters =
        "<style:master-page style:name=\"Default\"><style:header><style:region-left>" +
        odfPara("Harbour inventory") + "</style:region-left><style:region-center>" +
        odfPara("<text:sheet-name>??\?</text:sheet-name>") +
        "</style:region-center></style:header><style:header-left style:display=\"false\">" +
        odfPara("Left page header") + "</style:header-left><style:footer>" +
        odfPara("Sheet page <text:page-number>1</text:page-number> of "
                "<text:page-count>99</text:page-count>") +
        "</style:footer></style:master-page><style:master-page style:name=\"Report\">"
        "<style:header>" +
        odfPara("Report header <text:title>??\?</text:title>") +
        "</style:header></style:master-page>";
    QTest::newRow("spreadsheet: headers and footers of its master page")
        << odf("spreadsheet", tableStyle, sheet, masters)
        << QStringList{"Stock\nRope", "Harbour inventory", "Sheet page of"}
        << QStringList{"???", "Left page header", "Report header", "1", "99"};

    QTest::newRow("comment without its author and date, on lines of its own")
        << odf("text", {},
               "<office:text><text:p>The storm <office:annotation><dc:creator>Jane Keeper"
               "</dc:creator><dc:date>2026-01-05T10:00:00</dc:date>" +
                   odfPara("Check the barometer") +
                   "</office:annotation>passed at dawn.</text:p></office:text>",
               {})
        << QStringList{"The storm\nCheck the barometer\npassed at dawn."}
        << QStringList{"Jane Keeper", "2026"};

    const QByteArray slides =
        "<office:presentation><presentation:footer-decl presentation:name=\"ftr1\">Footer of the "
        "deck</presentation:footer-decl><draw:page draw:name=\"p1\" draw:master-page-name=\"Main\" "
        "presentation:use-footer-name=\"ftr1\">" +
        odfFrame("First slide words") +
        "</draw:page><draw:page draw:name=\"p2\" draw:master-page-name=\"Main\">" +
        odfFrame("Second slide words") + "</draw:page></office:presentation>";
    const QByteArray slideMasters =
        "<style:handout-master>" + odfFrame("Handout text") +
        "</style:handout-master><style:master-page style:name=\"Main\">" +
        odfFrame("Click to add Title",
                 "presentation:class=\"title\" presentation:placeholder=\"true\"") +
        odfFrame("Master company banner") +
        "<draw:frame presentation:class=\"footer\"><draw:text-box><text:p><presentation:footer/>"
        "</text:p></draw:text-box></draw:frame><presentation:notes>" +
        odfFrame("Notes master text", "presentation:class=\"notes\"") +
        "</presentation:notes></style:master-page><style:master-page style:name=\"Spare\">" +
        odfFrame("Spare banner") + "</style:master-page>";
    QTest::newRow("presentation: its master's own text once, after the slides")
        << odf("presentation", {}, slides, slideMasters)
        << QStringList{"Footer of the deck", "First slide words", "Second slide words",
                       "Master company banner"}
        << QStringList{"Click to add Title", "Handout text", "Notes master text", "Spare banner"};
}

void tst_ExtractDocumentParts::rtf_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("expected");

    QTest::newRow("annotation after the text")
        << QByteArray("{\\rtf1\\ansi Tide {\\*\\atnid KH}{\\*\\atnauthor Keeper}\\chatn"
                      "{\\*\\annotation{\\*\\atnref 1}{\\*\\atndate 123}\\pard\\plain Check the "
                      "gauge}tables\\par Second line\\par}")
        << "Tide tables\nSecond line\n\nCheck the gauge";
    QTest::newRow("two annotations, a paragraph each")
        << QByteArray("{\\rtf1\\ansi One{\\*\\annotation First note\\par with two lines}, "
                      "two{\\*\\annotation Caf\\'e9 note}.\\par}")
        << "One, two.\n\nFirst note\nwith two lines\n\nCafé note";
    QTest::newRow("empty annotations leave no gaps")
        << QByteArray("{\\rtf1\\ansi Text{\\*\\annotation A}{\\*\\annotation}"
                      "{\\*\\annotation {\\*\\atnref 2}}{\\*\\annotation B}\\par}")
        << "Text\n\nA\n\nB";
    QTest::newRow("annotation inside a skipped destination")
        << QByteArray("{\\rtf1\\ansi Text{\\*\\unknowndest hidden{\\*\\annotation hidden note}}"
                      "\\par}")
        << "Text\n";
}

void tst_ExtractDocumentParts::rtf()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, expected);
    const ExtractResult result = extract(rtf);
    QCOMPARE(result.status, ExtractStatus::Ok);
    QCOMPARE(QString::fromUtf8(result.utf8Text), expected);
}

void tst_ExtractDocumentParts::html_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("expected");

    const QString words = QStringLiteral("Grüße aus Köln – 日本");
    const QByteArray body = "<body><p>" + words.toUtf8() + "</p></body></html>";
    QTest::newRow("utf-16 declared on UTF-8 bytes")
        << "<html><head><meta charset=\"utf-16\"></head>" + body << QString() << words;
    QTest::newRow("UTF-16LE in a Content-Type declaration")
        << "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
           "charset=UTF-16LE\"></head>" +
               body
        << QString() << words;
    QStringEncoder utf16(QStringConverter::Utf16LE);
    const QString page =
        "<html><head><meta charset=\"utf-16\"></head><body><p>" + words + "</p></body></html>";
    QTest::newRow("real UTF-16 with a byte-order mark")
        << QByteArray("\xFF\xFE") + QByteArray(utf16.encode(page)) << QString() << words;
    QTest::newRow("real UTF-16 without a byte-order mark")
        << QByteArray(utf16.encode(page)) << "page.html" << words;
    QTest::newRow("stray NUL bytes")
        << QByteArray("<html><body><p>Fo\0g horn</p>\0\0<p>Second</p></body></html>", 56)
        << QString() << "Fog horn\nSecond";
    QTest::newRow("stray NUL bytes before the markup, named as HTML")
        << QByteArray("\0\0<p>Lamp room</p>", 18) << "lamp.htm"
        << "Lamp room";
    QTest::newRow("Latin-1 declared, as before")
        << QByteArray("<html><head><meta charset=\"iso-8859-1\"></head><body>K\xF6ln</body>"
                      "</html>")
        << QString() << "Köln";
}

void tst_ExtractDocumentParts::html()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, fileName);
    QFETCH(QString, expected);
    const ExtractResult result = extract(content, fileName);
    QCOMPARE(result.status, ExtractStatus::Ok);
    QCOMPARE(QString::fromUtf8(result.utf8Text), expected);
}

void tst_ExtractDocumentParts::mail_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QStringList>("inOrder");
    QTest::addColumn<QStringList>("absent");

    const QByteArray attachment = QByteArray("Logbook: calm sea, light wind.\n").toBase64();
    const QByteArray message =
        "From: Keeper <keeper@lighthouse.invalid>\nTo: master@harbour.invalid\n"
        "Subject: Night log\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\n"
        "All lamps lit.\n--b\nContent-Type: text/plain; name=log.txt\n"
        "Content-Disposition: attachment; filename=log.txt\n"
        "Content-Transfer-Encoding: base64\n\n" +
        attachment + "\n--b--\n";
    const QByteArray separator = "From keeper@lighthouse.invalid Mon Jan  5 10:00:00 2026\n";
    QTest::newRow("message saved with its mailbox separator")
        << separator + message << QString()
        << QStringList{"Subject: Night log", "All lamps lit.", "Logbook: calm sea"}
        << QStringList{"Mon Jan", QString::fromLatin1(attachment.left(12))};
    QTest::newRow("mailbox of two messages")
        << separator + message + "\n" + separator +
               "From: master@harbour.invalid\nTo: keeper@lighthouse.invalid\n"
               "Subject: Re: Night log\n\nThank you.\n"
        << "saved.mbox"
        << QStringList{"Subject: Night log", "All lamps lit.", "Subject: Re: Night log",
                       "Thank you."}
        << QStringList{"Mon Jan"};
    QTest::newRow("text that starts like a separator stays text")
        << QByteArray("From the harbour master, greetings.\nDear keeper: the lamp.\n")
        << "letter.txt" << QStringList{"From the harbour master, greetings."} << QStringList{};
}

void tst_ExtractDocumentParts::mail()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, fileName);
    QFETCH(QStringList, inOrder);
    QFETCH(QStringList, absent);
    verifyText(extract(content, fileName), inOrder, absent);
}

void tst_ExtractDocumentParts::epubFontsOnlyObfuscated()
{
    // Font obfuscation uses a key every reader has: the book is no less readable.
    verifyText(extract(epub("http://www.idpf.org/2008/embedding", "OEBPS/font.otf")),
               {"Chapter text"}, {});
}

void tst_ExtractDocumentParts::unreadable_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<ExtractStatus>("status");
    QTest::addColumn<QString>("reason");

    // Scrambled bytes stand in for the encrypted content the manifest announces.
    QByteArray scrambled(256, '\0');
    for (int i = 0; i < scrambled.size(); ++i)
        scrambled[i] = char((i * 167 + 13) % 251);
    const QByteArray manifest =
        "<manifest:manifest " + kOdfNs +
        "><manifest:file-entry manifest:full-path=\"content.xml\" "
        "manifest:media-type=\"text/xml\"><manifest:encryption-data "
        "manifest:checksum-type=\"SHA1/1K\" manifest:checksum=\"AAAA\"><manifest:algorithm "
        "manifest:algorithm-name=\"Blowfish CFB\" manifest:initialisation-vector=\"AAAA\"/>"
        "</manifest:encryption-data></manifest:file-entry></manifest:manifest>";
    QTest::newRow("password-protected OpenDocument")
        << storedZip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                      {"content.xml", scrambled},
                      {"META-INF/manifest.xml", manifest}})
        << "secret.odt" << ExtractStatus::Unparseable << "encrypted";
    QTest::newRow("EPUB with DRM on its chapter")
        << epub("http://www.w3.org/2001/04/xmlenc#aes128-cbc", "OEBPS/chapter.xhtml")
        << "locked.epub" << ExtractStatus::Unparseable << "encrypted";
    QTest::newRow("text with NUL bytes that is not HTML")
        << QByteArray("plain\0words\0here", 16) << "notes.txt" << ExtractStatus::Unsupported
        << QString();
}

void tst_ExtractDocumentParts::unreadable()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, fileName);
    QFETCH(ExtractStatus, status);
    QFETCH(QString, reason);
    const ExtractResult result = extract(content, fileName);
    QCOMPARE(result.status, status);
    QVERIFY(result.utf8Text.isEmpty());
    QVERIFY2(result.error.contains(reason), qPrintable(result.error));
}

QTEST_GUILESS_MAIN(tst_ExtractDocumentParts)
#include "tst_ExtractDocumentParts.moc"
