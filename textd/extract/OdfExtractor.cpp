#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"
#include "textd/extract/XmlReader.h"
#include "textd/extract/ZipArchive.h"

#include <QSet>

#include <cstring>

namespace dv::textd {

namespace {

constexpr char kTextNs[] = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr char kTableNs[] = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr char kDrawNs[] = "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0";
constexpr char kOfficeNs[] = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr char kStyleNs[] = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";
constexpr char kDcNs[] = "http://purl.org/dc/elements/1.1/";
constexpr char kMetaNs[] = "urn:oasis:names:tc:opendocument:xmlns:meta:1.0";
constexpr char kPresentationNs[] = "urn:oasis:names:tc:opendocument:xmlns:presentation:1.0";

bool isOneOf(const char *name, std::initializer_list<const char *> names)
{
    for (const char *n : names) {
        if (!std::strcmp(name, n))
            return true;
    }
    return false;
}

// The master pages of spreadsheets, presentations and drawings: the pages' headers and footers
// and what the user put on the masters, without what only stands in for something else.
struct MasterPages
{
    // The master pages the content names (a sheet's table style, a slide), filled while the
    // content is walked; when it names none, all are taken.
    QSet<QByteArray> used;
    bool usedOnly = false;
};

// Leaves out, on a master page: masters the content never uses, handouts and notes pages,
// placeholder frames (a title's or an outline's prompt; the slides hold the real text) and
// fields (a sheet name, a page number: "???" and "1" in the file).
bool isMasterDecoration(const XmlReader &reader, const char *ns, const char *name,
                        const MasterPages &masters)
{
    if (!std::strcmp(ns, kStyleNs)) {
        if (!std::strcmp(name, "master-page"))
            return !masters.used.isEmpty() && !masters.used.contains(reader.attribute("name"));
        return !std::strcmp(name, "handout-master");
    }
    if (!std::strcmp(ns, kPresentationNs))
        return isOneOf(name, {"notes", "header", "footer", "date-time"});
    if (!std::strcmp(ns, kDrawNs) && !std::strcmp(name, "frame")) {
        const QByteArray role = reader.attribute("class");
        return !role.isEmpty() && role != "header" && role != "footer" && role != "date-time";
    }
    if (!std::strcmp(ns, kTextNs))
        return isOneOf(name, {"sheet-name", "page-number", "page-count", "date", "time", "title",
                              "file-name", "subject", "author-name", "author-initials", "chapter",
                              "page-continuation"});
    return false;
}

// The body of content.xml (or the master pages of styles.xml, where headers and footers
// live): paragraphs, headings, spaces, tabs, tables (with sheet names), pages of drawings and
// presentations with their notes. With masters, master pages are left out as it says, and
// the walk of content.xml notes the master pages it uses.
void walkOdfContent(const QByteArray &xml, const char *container, ExtractContext &context,
                    MasterPages *masters = nullptr)
{
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    bool inBody = false;
    bool firstInRow = true;
    bool spreadsheet = false;
    while (reader.next()) {
        const char *ns = reader.namespaceUri();
        const char *name = reader.name();
        switch (reader.node()) {
        case XmlReader::Node::StartElement:
            if (masters && !masters->usedOnly &&
                ((!std::strcmp(ns, kStyleNs) && !std::strcmp(name, "style")) ||
                 (!std::strcmp(ns, kDrawNs) && !std::strcmp(name, "page")))) {
                const QByteArray master = reader.attribute("master-page-name");
                if (!master.isEmpty())
                    masters->used.insert(master);
            }
            if (inBody && masters && masters->usedOnly &&
                isMasterDecoration(reader, ns, name, *masters)) {
                reader.skipElement();
                break;
            }
            if (inBody && !std::strcmp(ns, kStyleNs) && reader.attribute("display") == "false") {
                reader.skipElement(); // a header or footer that is turned off
                break;
            }
            if (!std::strcmp(ns, kOfficeNs) && !std::strcmp(name, container)) {
                inBody = true;
            } else if (inBody && !std::strcmp(ns, kOfficeNs) && !std::strcmp(name, "spreadsheet")) {
                spreadsheet = true;
            } else if (!inBody) {
                // Styles and scripts before the body carry no document text.
            } else if (!std::strcmp(ns, kOfficeNs) && !std::strcmp(name, "annotation")) {
                context.lineBreak(); // a comment: lines of its own where it is anchored
            } else if (!std::strcmp(ns, kDcNs) || !std::strcmp(ns, kMetaNs)) {
                reader.skipElement(); // a comment's author and date
            } else if (!std::strcmp(ns, kTextNs)) {
                if (!std::strcmp(name, "tracked-changes") || !std::strcmp(name, "sequence-decls") ||
                    !std::strcmp(name, "variable-decls") ||
                    !std::strcmp(name, "user-field-decls")) {
                    reader.skipElement(); // deleted text and declarations
                } else if (!std::strcmp(name, "s")) {
                    bool ok = false;
                    int count = reader.attribute("c").toInt(&ok);
                    count = ok ? std::clamp(count, 1, 64) : 1;
                    context.appendUtf8(QByteArray(count, ' '));
                } else if (!std::strcmp(name, "tab")) {
                    context.appendUtf8("\t", 1);
                } else if (!std::strcmp(name, "line-break")) {
                    context.lineBreak();
                }
            } else if (!std::strcmp(ns, kTableNs)) {
                if (!std::strcmp(name, "table")) {
                    context.paragraphBreak();
                    // Sheet names are part of a spreadsheet's text; text tables only get
                    // generated ones.
                    if (spreadsheet) {
                        context.appendUtf8(reader.attribute("name"));
                        context.lineBreak();
                    }
                } else if (!std::strcmp(name, "table-row")) {
                    firstInRow = true;
                } else if (!std::strcmp(name, "table-cell") ||
                           !std::strcmp(name, "covered-table-cell")) {
                    if (!firstInRow)
                        context.tab();
                    firstInRow = false;
                }
            } else if (!std::strcmp(ns, kDrawNs) && !std::strcmp(name, "page")) {
                context.paragraphBreak();
            }
            break;
        case XmlReader::Node::EndElement:
            if (!inBody)
                break;
            if (!std::strcmp(ns, kTextNs) && (!std::strcmp(name, "p") || !std::strcmp(name, "h") ||
                                              !std::strcmp(name, "list-item")))
                context.lineBreak();
            else if (!std::strcmp(ns, kOfficeNs) && !std::strcmp(name, "annotation"))
                context.lineBreak();
            else if (!std::strcmp(ns, kTableNs) && !std::strcmp(name, "table-row"))
                context.lineBreak();
            else if (!std::strcmp(ns, kTableNs) && !std::strcmp(name, "table"))
                context.paragraphBreak();
            else if (!std::strcmp(ns, kDrawNs) && !std::strcmp(name, "page"))
                context.paragraphBreak();
            else if (!std::strcmp(ns, kOfficeNs) && !std::strcmp(name, container))
                inBody = false;
            break;
        case XmlReader::Node::Text:
            // Runs of white space count as one space, as in the rendered document; white space
            // between elements is indentation of the markup, or a space between spans.
            if (inBody && !reader.isWhitespace()) {
                const char *text = reader.text();
                context.appendCollapsed(text, qsizetype(std::strlen(text)));
            } else if (inBody) {
                context.space();
            }
            break;
        case XmlReader::Node::Other:
            break;
        }
    }
}

// The manifest names the encryption of each encrypted member; content.xml is one of them
// when the document has a password.
bool isEncrypted(ZipArchive &archive, ExtractContext &context)
{
    QByteArray xml;
    if (!archive.read(QStringLiteral("META-INF/manifest.xml"), xml))
        return false;
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    bool inContent = false;
    while (reader.next()) {
        if (reader.node() != XmlReader::Node::StartElement)
            continue;
        if (reader.isName("file-entry"))
            inContent = reader.attribute("full-path") == "content.xml";
        else if (inContent && reader.isName("encryption-data"))
            return true;
    }
    return false;
}

} // namespace

void extractOdf(ZipArchive &archive, ExtractContext &context)
{
    QByteArray xml;
    if (isEncrypted(archive, context))
        throw ExtractError(ExtractError::Kind::Corrupt,
                           "the OpenDocument is encrypted (password-protected)");
    if (!archive.read(QStringLiteral("content.xml"), xml))
        throw ExtractError(ExtractError::Kind::Corrupt, "OpenDocument without content.xml");
    MasterPages masters;
    walkOdfContent(xml, "body", context, &masters);

    // Headers and footers, and the master pages' own text after the content. A text document
    // shows all of its master pages' text; spreadsheets and presentations the used masters'
    // text without fields and placeholders.
    if (!archive.read(QStringLiteral("styles.xml"), xml))
        return;
    const QByteArray mimetype = archive.peek(QStringLiteral("mimetype"), 256).trimmed();
    masters.usedOnly = !mimetype.startsWith("application/vnd.oasis.opendocument.text");
    context.paragraphBreak();
    walkOdfContent(xml, "master-styles", context, masters.usedOnly ? &masters : nullptr);
}

} // namespace dv::textd
