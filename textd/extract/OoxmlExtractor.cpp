#include "textd/extract/CellFormats.h"
#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"
#include "textd/extract/XmlReader.h"
#include "textd/extract/ZipArchive.h"

#include <cstring>

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

// Text of WordprocessingML and DrawingML parts: runs of <t>, paragraphs, breaks, tabs, tables.
void walkOfficeText(const QByteArray &xml, ExtractContext &context)
{
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    int inText = 0;
    while (reader.next()) {
        switch (reader.node()) {
        case XmlReader::Node::StartElement: {
            const char *name = reader.name();
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
            if (!std::strcmp(name, "t"))
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
            if (!std::strcmp(name, "t"))
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

void walkPart(ZipArchive &archive, const QString &part, ExtractContext &context)
{
    QByteArray xml;
    if (!archive.read(part, xml))
        return;
    context.paragraphBreak();
    walkOfficeText(xml, context);
}

void extractWord(ZipArchive &archive, const QString &mainPart, const QByteArray &mainXml,
                 ExtractContext &context)
{
    const auto relationships = readRelationships(archive, mainPart, context);
    for (const QString &header : targetsOfType(relationships, u"/header"))
        walkPart(archive, header, context);
    context.paragraphBreak();
    walkOfficeText(mainXml, context);
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

void walkSheet(const QByteArray &xml, const SharedStrings &sharedStrings, CellFormats &formats,
               ExtractContext &context)
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
        walkSheet(xml, sharedStrings, formats, context);
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
    for (const QString &slide : slides) {
        QByteArray xml;
        if (!archive.read(slide, xml))
            continue;
        context.paragraphBreak();
        walkOfficeText(xml, context);
        const auto slideRelationships = readRelationships(archive, slide, context);
        for (const QString &notes : targetsOfType(slideRelationships, u"/notesSlide"))
            walkPart(archive, notes, context);
    }
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
