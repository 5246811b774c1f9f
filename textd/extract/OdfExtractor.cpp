#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"
#include "textd/extract/XmlReader.h"
#include "textd/extract/ZipArchive.h"

#include <cstring>

namespace dv::textd {

namespace {

constexpr char kTextNs[] = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr char kTableNs[] = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr char kDrawNs[] = "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0";
constexpr char kOfficeNs[] = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";

// The body of content.xml (or the master pages of styles.xml, where headers and footers
// live): paragraphs, headings, spaces, tabs, tables (with sheet names), pages of drawings and
// presentations with their notes.
void walkOdfContent(const QByteArray &xml, const char *container, ExtractContext &context)
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
            if (!std::strcmp(ns, kOfficeNs) && !std::strcmp(name, container)) {
                inBody = true;
            } else if (inBody && !std::strcmp(ns, kOfficeNs) && !std::strcmp(name, "spreadsheet")) {
                spreadsheet = true;
            } else if (!inBody) {
                // Styles and scripts before the body carry no document text.
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

} // namespace

void extractOdf(ZipArchive &archive, ExtractContext &context)
{
    QByteArray xml;
    if (!archive.read(QStringLiteral("content.xml"), xml))
        throw ExtractError(ExtractError::Kind::Corrupt, "OpenDocument without content.xml");
    walkOdfContent(xml, "body", context);

    // Headers and footers of text documents. Those of spreadsheets and presentations hold
    // only fields and placeholders.
    const QByteArray mimetype = archive.peek(QStringLiteral("mimetype"), 256).trimmed();
    if (mimetype.startsWith("application/vnd.oasis.opendocument.text") &&
        archive.read(QStringLiteral("styles.xml"), xml)) {
        context.paragraphBreak();
        walkOdfContent(xml, "master-styles", context);
    }
}

} // namespace dv::textd
