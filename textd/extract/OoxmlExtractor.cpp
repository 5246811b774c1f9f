#include "textd/extract/CellFormats.h"
#include "textd/extract/ExcelHeaderFooter.h"
#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"
#include "textd/extract/XmlReader.h"
#include "textd/extract/ZipArchive.h"

#include <QSet>

#include <cstring>
#include <optional>

namespace dv::textd {

namespace {

struct Relationship
{
    QString id;
    QString type;
    QString target; // member path, resolved
};

// The relationships of a part, from "<folder>/_rels/<name>.rels"; external targets are dropped.
QList<Relationship> readRelationships(ZipArchive &archive, const QString &part,
                                      ExtractContext &context)
{
    const qsizetype slash = part.lastIndexOf(u'/');
    const QString relsPath = part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) +
                             QStringLiteral(".rels");
    QByteArray xml;
    QList<Relationship> relationships;
    if (!archive.read(relsPath, xml))
        return relationships;
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    while (reader.next()) {
        if (reader.node() != XmlReader::Node::StartElement || !reader.isName("Relationship"))
            continue;
        if (reader.attribute("TargetMode").compare("External", Qt::CaseInsensitive) == 0)
            continue;
        relationships.append(
            {QString::fromUtf8(reader.attribute("Id")), QString::fromUtf8(reader.attribute("Type")),
             resolveMemberPath(part, QString::fromUtf8(reader.attribute("Target")))});
    }
    return relationships;
}

QStringList targetsOfType(const QList<Relationship> &relationships, QStringView typeSuffix)
{
    QStringList targets;
    for (const Relationship &r : relationships) {
        if (r.type.endsWith(typeSuffix))
            targets.append(r.target);
    }
    return targets;
}

QString targetOfId(const QList<Relationship> &relationships, const QByteArray &id)
{
    const QString key = QString::fromUtf8(id);
    for (const Relationship &r : relationships) {
        if (r.id == key)
            return r.target;
    }
    return {};
}

constexpr char kDiagramNs[] = "http://schemas.openxmlformats.org/drawingml/2006/diagram";

// A part with its relationships, read the first time a SmartArt graphic asks for them.
struct PartLinks
{
    ZipArchive &archive;
    QString part;
    std::optional<QList<Relationship>> relationships;

    QString target(const QByteArray &id, ExtractContext &context)
    {
        if (!relationships)
            relationships = readRelationships(archive, part, context);
        return targetOfId(*relationships, id);
    }
};

struct WalkOptions
{
    // Follows SmartArt graphics to their data parts, where their text is.
    PartLinks *links = nullptr;
    // Layouts and masters: a placeholder shape holds the prompt PowerPoint shows while
    // editing ("Click to edit Master title style"), and the slides hold the real text.
    bool skipPlaceholders = false;
};

bool isText(const XmlReader &reader)
{
    // The <dgm:t> of a SmartArt point is a text body, not a run of text.
    return reader.isName("t") && std::strcmp(reader.namespaceUri(), kDiagramNs) != 0;
}

void walkDiagram(PartLinks &links, const QByteArray &id, ExtractContext &context);

// Text of WordprocessingML and DrawingML parts: runs of <t>, paragraphs, breaks, tabs, tables.
void walkOfficeText(const QByteArray &xml, ExtractContext &context, WalkOptions options = {})
{
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    int inText = 0;
    int shapeDepth = -1;
    while (reader.next()) {
        switch (reader.node()) {
        case XmlReader::Node::StartElement: {
            const char *name = reader.name();
            if (options.skipPlaceholders) {
                if (!std::strcmp(name, "sp") || !std::strcmp(name, "graphicFrame")) {
                    shapeDepth = reader.depth();
                } else if (!std::strcmp(name, "ph") && shapeDepth >= 0) {
                    // The placeholder mark comes before the shape's text: leave out the rest
                    // of the shape, up to its end (the next end at the shape's depth).
                    while (reader.next() && !(reader.node() == XmlReader::Node::EndElement &&
                                              reader.depth() == shapeDepth)) {
                    }
                    shapeDepth = -1;
                    break;
                }
            }
            if (options.links && !std::strcmp(name, "relIds") &&
                !std::strcmp(reader.namespaceUri(), kDiagramNs)) {
                walkDiagram(*options.links, reader.prefixedAttribute("dm"), context);
                break;
            }
            // Properties hold tab-stop definitions, not text; Fallback repeats its Choice;
            // separator notes and slide-number fields are decoration.
            if (!std::strcmp(name, "pPr") || !std::strcmp(name, "rPr") ||
                !std::strcmp(name, "sectPr") || !std::strcmp(name, "Fallback") ||
                !std::strcmp(name, "rPh")) {
                reader.skipElement();
                break;
            }
            if ((!std::strcmp(name, "footnote") || !std::strcmp(name, "endnote")) &&
                reader.attribute("type").contains("eparator")) {
                reader.skipElement();
                break;
            }
            if (!std::strcmp(name, "fld") && reader.attribute("type") == "slidenum") {
                reader.skipElement();
                break;
            }
            if (isText(reader))
                ++inText;
            else if (!std::strcmp(name, "tab"))
                context.tab();
            else if (!std::strcmp(name, "br") || !std::strcmp(name, "cr"))
                context.lineBreak();
            else if (!std::strcmp(name, "noBreakHyphen"))
                context.appendUtf8("-", 1);
            break;
        }
        case XmlReader::Node::EndElement: {
            const char *name = reader.name();
            if (reader.depth() == shapeDepth)
                shapeDepth = -1;
            if (isText(reader))
                inText = std::max(0, inText - 1);
            else if (!std::strcmp(name, "p") || !std::strcmp(name, "tr") ||
                     !std::strcmp(name, "tbl"))
                context.lineBreak();
            else if (!std::strcmp(name, "tc"))
                context.tab();
            break;
        }
        case XmlReader::Node::Text:
            if (inText > 0) {
                const char *text = reader.text();
                context.appendUtf8(text, qsizetype(std::strlen(text)));
            }
            break;
        case XmlReader::Node::Other:
            break;
        }
    }
}

// SmartArt keeps its text in a data part, one point per shape; the drawing PowerPoint caches
// beside it repeats that text and is left alone.
void walkDiagram(PartLinks &links, const QByteArray &id, ExtractContext &context)
{
    const QString data = links.target(id, context);
    QByteArray xml;
    if (data.isEmpty() || !links.archive.read(data, xml))
        return;
    context.lineBreak();
    walkOfficeText(xml, context);
    context.lineBreak();
}

void walkPart(ZipArchive &archive, const QString &part, ExtractContext &context,
              bool skipPlaceholders = false)
{
    QByteArray xml;
    if (!archive.read(part, xml))
        return;
    context.paragraphBreak();
    PartLinks links{archive, part, {}};
    walkOfficeText(xml, context, {&links, skipPlaceholders});
}

void extractWord(ZipArchive &archive, const QString &mainPart, const QByteArray &mainXml,
                 ExtractContext &context)
{
    const auto relationships = readRelationships(archive, mainPart, context);
    for (const QString &header : targetsOfType(relationships, u"/header"))
        walkPart(archive, header, context);
    context.paragraphBreak();
    PartLinks links{archive, mainPart, relationships};
    walkOfficeText(mainXml, context, {&links});
    for (const auto type : {u"/footnotes", u"/endnotes", u"/comments", u"/footer"}) {
        for (const QString &part : targetsOfType(relationships, type))
            walkPart(archive, part, context);
    }
}

// The shared strings of a workbook in one buffer: a table of millions of tiny strings must not
// cost an object each.
struct SharedStrings
{
    QByteArray text;
    std::vector<std::pair<qsizetype, qsizetype>> spans; // offset, length

    qsizetype size() const { return qsizetype(spans.size()); }
    QByteArray at(qsizetype i) const { return text.mid(spans[i].first, spans[i].second); }
};

SharedStrings readSharedStrings(ZipArchive &archive, const QString &part, ExtractContext &context)
{
    SharedStrings strings;
    QByteArray xml;
    if (part.isEmpty() || !archive.read(part, xml))
        return strings;
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    qsizetype start = 0;
    bool inItem = false;
    int inText = 0;
    while (reader.next()) {
        switch (reader.node()) {
        case XmlReader::Node::StartElement:
            if (reader.isName("si")) {
                inItem = true;
                start = strings.text.size();
            } else if (reader.isName("rPh")) {
                reader.skipElement(); // phonetic reading, not the text
            } else if (reader.isName("t")) {
                ++inText;
            }
            break;
        case XmlReader::Node::EndElement:
            if (reader.isName("si")) {
                inItem = false;
                strings.spans.emplace_back(start, strings.text.size() - start);
            } else if (reader.isName("t")) {
                inText = std::max(0, inText - 1);
            }
            break;
        case XmlReader::Node::Text:
            if (inItem && inText > 0)
                strings.text += reader.text();
            break;
        case XmlReader::Node::Other:
            break;
        }
    }
    return strings;
}

// A sheet's <headerFooter>: the reader is on its start; leaves it on its end. Headers, then
// footers, each text once (odd, even and first pages often repeat it).
void walkHeaderFooter(XmlReader &reader, const QString &sheetName, ExtractContext &context)
{
    if (reader.isEmptyElement())
        return;
    const int depth = reader.depth();
    QStringList headers, footers;
    QByteArray codes;
    while (reader.next()) {
        if (reader.node() == XmlReader::Node::EndElement && reader.depth() == depth)
            break;
        if (reader.node() == XmlReader::Node::StartElement) {
            codes.clear();
        } else if (reader.node() == XmlReader::Node::Text) {
            codes += reader.text();
        } else if (reader.node() == XmlReader::Node::EndElement && reader.depth() == depth + 1) {
            QStringList &list =
                QByteArrayView(reader.name()).endsWith("Footer") ? footers : headers;
            // A page has at most three: odd, even and first.
            const QString text = excelHeaderFooterText(QString::fromUtf8(codes), sheetName);
            if (!text.isEmpty() && list.size() < 3 && !list.contains(text))
                list.append(text);
        }
    }
    context.paragraphBreak();
    for (const QStringList *list : {&headers, &footers}) {
        for (const QString &text : *list) {
            context.append(text);
            context.lineBreak();
        }
    }
}

// The number formats of the cell styles: <numFmts> and the numFmtId of each <cellXfs> entry.
void readNumberFormats(ZipArchive &archive, const QString &part, CellFormats &formats,
                       ExtractContext &context)
{
    QByteArray xml;
    if (part.isEmpty() || !archive.read(part, xml))
        return;
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    bool inCellStyles = false;
    while (reader.next()) {
        if (reader.node() == XmlReader::Node::EndElement && reader.isName("cellXfs"))
            inCellStyles = false;
        if (reader.node() != XmlReader::Node::StartElement)
            continue;
        if (reader.isName("numFmt"))
            formats.addFormat(reader.attribute("numFmtId").toInt(),
                              QString::fromUtf8(reader.attribute("formatCode")));
        else if (reader.isName("cellXfs"))
            inCellStyles = true;
        else if (inCellStyles && reader.isName("xf"))
            formats.addStyle(reader.attribute("numFmtId").toInt());
    }
}

void walkSheet(const QByteArray &xml, const QString &sheetName, const SharedStrings &sharedStrings,
               CellFormats &formats, ExtractContext &context)
{
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    QByteArray type;
    QByteArray value;
    int style = 0;
    bool inCell = false, inValue = false, inInline = false, firstInRow = true;
    int inText = 0;
    while (reader.next()) {
        switch (reader.node()) {
        case XmlReader::Node::StartElement:
            if (reader.isName("row")) {
                firstInRow = true;
            } else if (reader.isName("c")) {
                inCell = true;
                type = reader.attribute("t");
                style = reader.attribute("s").toInt();
                value.clear();
            } else if (inCell && reader.isName("v")) {
                inValue = true;
            } else if (inCell && reader.isName("is")) {
                inInline = true;
            } else if (reader.isName("headerFooter")) {
                walkHeaderFooter(reader, sheetName, context);
            } else if (reader.isName("rPh") || reader.isName("f") || reader.isName("extLst")) {
                reader.skipElement();
            } else if (reader.isName("t")) {
                ++inText;
            }
            break;
        case XmlReader::Node::EndElement:
            if (reader.isName("row")) {
                context.lineBreak();
            } else if (reader.isName("v")) {
                inValue = false;
            } else if (reader.isName("is")) {
                inInline = false;
            } else if (reader.isName("t")) {
                inText = std::max(0, inText - 1);
            } else if (reader.isName("c")) {
                inCell = false;
                QByteArray text;
                if (type == "s") {
                    bool ok = false;
                    const qsizetype index = value.trimmed().toLongLong(&ok);
                    if (ok && index >= 0 && index < sharedStrings.size())
                        text = sharedStrings.at(index);
                } else if (type == "b") {
                    text = value.trimmed() == "1" ? "TRUE" : "FALSE";
                } else if (type.isEmpty() || type == "n") {
                    bool ok = false;
                    const double number = value.trimmed().toDouble(&ok);
                    text = ok ? formats.display(style, number).toUtf8() : value;
                } else {
                    text = value;
                }
                if (!text.isEmpty()) {
                    if (!firstInRow)
                        context.tab();
                    firstInRow = false;
                    context.appendUtf8(text);
                }
            }
            break;
        case XmlReader::Node::Text:
            if (inValue || (inInline && inText > 0))
                value += reader.text();
            break;
        case XmlReader::Node::Other:
            break;
        }
    }
}

// Comments of a sheet or a slide, each comment and each reply on lines of its own: runs of <t>
// (Excel's comments, PowerPoint's modern ones) or a plain <text> (threaded comments of Excel,
// PowerPoint's older ones).
void walkComments(const QByteArray &xml, ExtractContext &context, QSet<QByteArray> *threadedCells,
                  bool threaded)
{
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    int inRun = 0, inText = 0;
    while (reader.next()) {
        switch (reader.node()) {
        case XmlReader::Node::StartElement:
            if (reader.isName("comment") || reader.isName("threadedComment")) {
                // Excel writes each threaded comment again as an old-style comment, with a
                // preamble for versions that cannot show threads: take the thread only.
                const QByteArray cell = reader.attribute("ref");
                if (threaded)
                    threadedCells->insert(cell);
                else if (threadedCells->contains(cell))
                    reader.skipElement();
            } else if (reader.isName("rPr") || reader.isName("pPr")) {
                reader.skipElement();
            } else if (reader.isName("t")) {
                ++inRun;
            } else if (reader.isName("text")) {
                ++inText;
            }
            break;
        case XmlReader::Node::EndElement:
            if (reader.isName("t"))
                inRun = std::max(0, inRun - 1);
            else if (reader.isName("text"))
                inText = std::max(0, inText - 1);
            else if (reader.isName("comment") || reader.isName("threadedComment") ||
                     reader.isName("cm") || reader.isName("reply") || reader.isName("p"))
                context.lineBreak();
            break;
        case XmlReader::Node::Text:
            if (inRun > 0 || (inText > 0 && !reader.isWhitespace())) {
                const char *text = reader.text();
                context.appendUtf8(text, qsizetype(std::strlen(text)));
            }
            break;
        case XmlReader::Node::Other:
            break;
        }
    }
}

void walkCommentParts(ZipArchive &archive, const QList<Relationship> &relationships,
                      ExtractContext &context)
{
    QSet<QByteArray> threadedCells;
    for (const auto &[type, threaded] :
         {std::pair{u"/threadedComment", true}, std::pair{u"/comments", false}}) {
        for (const QString &part : targetsOfType(relationships, type)) {
            QByteArray xml;
            if (!archive.read(part, xml))
                continue;
            context.paragraphBreak();
            walkComments(xml, context, &threadedCells, threaded);
        }
    }
}

// What a sheet shows beside its cells: the text boxes and SmartArt of its drawing, then its
// comments.
void walkSheetParts(ZipArchive &archive, const QString &sheet, ExtractContext &context)
{
    const auto relationships = readRelationships(archive, sheet, context);
    for (const QString &drawing : targetsOfType(relationships, u"/drawing"))
        walkPart(archive, drawing, context);
    walkCommentParts(archive, relationships, context);
}

void extractWorkbook(ZipArchive &archive, const QString &mainPart, const QByteArray &mainXml,
                     ExtractContext &context)
{
    const auto relationships = readRelationships(archive, mainPart, context);
    const QStringList stringsParts = targetsOfType(relationships, u"/sharedStrings");
    const SharedStrings sharedStrings = readSharedStrings(
        archive, stringsParts.isEmpty() ? QString() : stringsParts.first(), context);
    CellFormats formats;
    const QStringList stylesParts = targetsOfType(relationships, u"/styles");
    readNumberFormats(archive, stylesParts.isEmpty() ? QString() : stylesParts.first(), formats,
                      context);

    struct Sheet
    {
        QByteArray name;
        QString part;
    };
    QList<Sheet> sheets;
    XmlReader reader(mainXml, context.limits().maxMarkupDepth);
    while (reader.next()) {
        if (reader.node() == XmlReader::Node::StartElement && reader.isName("workbookPr")) {
            const QByteArray date1904 = reader.attribute("date1904");
            formats.setDate1904(date1904 == "1" || date1904 == "true");
        }
        if (reader.node() == XmlReader::Node::StartElement && reader.isName("sheet"))
            sheets.append({reader.attribute("name"),
                           targetOfId(relationships, reader.prefixedAttribute("id"))});
    }
    for (const Sheet &sheet : sheets) {
        QByteArray xml;
        if (sheet.part.isEmpty() || !archive.read(sheet.part, xml))
            continue;
        context.paragraphBreak();
        context.appendUtf8(sheet.name);
        context.lineBreak();
        walkSheet(xml, QString::fromUtf8(sheet.name), sharedStrings, formats, context);
        walkSheetParts(archive, sheet.part, context);
    }
}

void extractPresentation(ZipArchive &archive, const QString &mainPart, const QByteArray &mainXml,
                         ExtractContext &context)
{
    const auto relationships = readRelationships(archive, mainPart, context);
    QStringList slides;
    XmlReader reader(mainXml, context.limits().maxMarkupDepth);
    while (reader.next()) {
        if (reader.node() == XmlReader::Node::StartElement && reader.isName("sldId")) {
            const QString part = targetOfId(relationships, reader.prefixedAttribute("id"));
            if (!part.isEmpty())
                slides.append(part);
        }
    }
    // The layouts and masters the slides use, each once, in the order first used.
    QStringList designs;
    QSet<QString> seen;
    for (const QString &slide : slides) {
        QByteArray xml;
        if (!archive.read(slide, xml))
            continue;
        context.paragraphBreak();
        const auto slideRelationships = readRelationships(archive, slide, context);
        PartLinks links{archive, slide, slideRelationships};
        walkOfficeText(xml, context, {&links});
        for (const QString &notes : targetsOfType(slideRelationships, u"/notesSlide"))
            walkPart(archive, notes, context);
        walkCommentParts(archive, slideRelationships, context);
        for (const QString &layout : targetsOfType(slideRelationships, u"/slideLayout")) {
            if (seen.contains(layout))
                continue;
            const auto layoutRelationships = readRelationships(archive, layout, context);
            for (const QString &master : targetsOfType(layoutRelationships, u"/slideMaster")) {
                if (!seen.contains(master))
                    designs.append(master);
                seen.insert(master);
            }
            designs.append(layout);
            seen.insert(layout);
        }
    }
    // What the user wrote on layouts and masters (a logo's caption, a fixed banner) comes after
    // the slides, once; their placeholders only hold prompts.
    for (const QString &design : std::as_const(designs))
        walkPart(archive, design, context, true);
}

QString rootElementName(const QByteArray &xml, int maxDepth)
{
    XmlReader reader(xml, maxDepth);
    while (reader.next()) {
        if (reader.node() == XmlReader::Node::StartElement)
            return QString::fromUtf8(reader.name());
    }
    return {};
}

} // namespace

bool isOoxml(const ZipArchive &archive)
{
    return archive.contains(QStringLiteral("[Content_Types].xml"));
}

void extractOoxml(ZipArchive &archive, ExtractContext &context)
{
    const auto packageRelationships = readRelationships(archive, QString(), context);
    QStringList mains = targetsOfType(packageRelationships, u"/officeDocument");
    for (const char *fallback : {"word/document.xml", "xl/workbook.xml", "ppt/presentation.xml"})
        mains.append(QString::fromLatin1(fallback));
    QString mainPart;
    QByteArray mainXml;
    for (const QString &candidate : mains) {
        if (archive.read(candidate, mainXml)) {
            mainPart = candidate;
            break;
        }
    }
    if (mainPart.isEmpty())
        throw ExtractError(ExtractError::Kind::Unsupported, "package without a main document");

    const QString root = rootElementName(mainXml, context.limits().maxMarkupDepth);
    if (root == u"document")
        extractWord(archive, mainPart, mainXml, context);
    else if (root == u"workbook")
        extractWorkbook(archive, mainPart, mainXml, context);
    else if (root == u"presentation")
        extractPresentation(archive, mainPart, mainXml, context);
    else
        throw ExtractError(ExtractError::Kind::Unsupported, "unknown Office Open XML document");

    // Embedded documents (a spreadsheet in a report, a PDF in a slide).
    for (const QString &name : archive.names()) {
        if (!name.contains(QStringLiteral("/embeddings/")) || name.endsWith(u'/'))
            continue;
        QByteArray bytes;
        try {
            archive.read(name, bytes);
        } catch (const ExtractError &error) {
            if (error.kind() == ExtractError::Kind::Limit)
                throw;
            continue;
        }
        extractEmbedded(bytes, name, context);
    }
}

} // namespace dv::textd
