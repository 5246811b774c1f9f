#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"
#include "textd/extract/XmlReader.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>
#include <memory>
#include <new>

namespace dv::textd {

namespace {

bool isOneOf(const char *name, std::initializer_list<const char *> names)
{
    for (const char *n : names) {
        if (!std::strcmp(name, n))
            return true;
    }
    return false;
}

// Elements whose content is not text a reader sees. The head goes too: its title repeats the
// first heading of nearly every book chapter, and the body is what is shown.
bool isSkipped(const char *name)
{
    return isOneOf(name, {"head", "script", "style", "template", "noscript", "object", "svg",
                          "math", "iframe"});
}

bool isBlock(const char *name)
{
    return isOneOf(name, {"p",          "div",   "br",      "li",       "ul",         "ol",
                          "dl",         "dt",    "dd",      "tr",       "table",      "h1",
                          "h2",         "h3",    "h4",      "h5",       "h6",         "pre",
                          "blockquote", "hr",    "section", "article",  "header",     "footer",
                          "nav",        "aside", "main",    "figure",   "figcaption", "form",
                          "address",    "title", "caption", "fieldset", "legend",     "details",
                          "summary",    "body",  "thead",   "tbody",    "tfoot",      "option"});
}

void enterElement(const char *name, ExtractContext &context)
{
    if (isBlock(name))
        context.lineBreak();
}

void leaveElement(const char *name, ExtractContext &context)
{
    if (!std::strcmp(name, "td") || !std::strcmp(name, "th"))
        context.tab();
    else if (isBlock(name))
        context.lineBreak();
}

// Walks the tree without recursion: broken HTML can nest thousands of unclosed elements.
void walkHtml(xmlNodePtr root, ExtractContext &context)
{
    int inPre = 0;
    xmlNodePtr node = root;
    while (node) {
        bool descend = false;
        const char *name = node->name ? reinterpret_cast<const char *>(node->name) : "";
        if (node->type == XML_ELEMENT_NODE) {
            if (!isSkipped(name)) {
                enterElement(name, context);
                if (!std::strcmp(name, "pre"))
                    ++inPre;
                descend = node->children != nullptr;
                if (!descend) {
                    leaveElement(name, context);
                    if (!std::strcmp(name, "pre"))
                        --inPre;
                }
            }
        } else if ((node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) &&
                   node->content) {
            const char *text = reinterpret_cast<const char *>(node->content);
            if (inPre > 0)
                context.appendUtf8(text, qsizetype(std::strlen(text)));
            else
                context.appendCollapsed(text, qsizetype(std::strlen(text)));
        }
        if (descend) {
            node = node->children;
            continue;
        }
        // Climb until a sibling is found, leaving each element on the way.
        while (node && node != root && !node->next) {
            node = node->parent;
            if (node && node->type == XML_ELEMENT_NODE && node != root) {
                const char *parentName = reinterpret_cast<const char *>(node->name);
                leaveElement(parentName, context);
                if (!std::strcmp(parentName, "pre"))
                    --inPre;
            }
        }
        if (!node || node == root)
            break;
        node = node->next;
    }
}

// The charset a <meta> (or a Content-Type in one) declares near the start, lower case.
QByteArray declaredCharset(const QByteArray &content)
{
    const QByteArray head = content.left(4096).toLower();
    for (qsizetype at = head.indexOf("charset"); at >= 0; at = head.indexOf("charset", at + 1)) {
        qsizetype i = at + 7;
        while (i < head.size() && (head[i] == ' ' || head[i] == '\t'))
            ++i;
        if (i >= head.size() || head[i] != '=')
            continue;
        ++i;
        while (i < head.size() &&
               (head[i] == ' ' || head[i] == '\t' || head[i] == '"' || head[i] == '\''))
            ++i;
        const qsizetype start = i;
        while (i < head.size() &&
               (std::isalnum(static_cast<unsigned char>(head[i])) || std::strchr("-_.:", head[i])))
            ++i;
        if (i > start)
            return head.mid(start, i - start);
    }
    return {};
}

// The labels the encoding standard maps to UTF-16. A page can only declare its charset this
// way in ASCII bytes, so it cannot be UTF-16: browsers read it as UTF-8.
bool isUtf16Label(const QByteArray &label)
{
    static const char *const labels[] = {"utf-16",  "utf-16le",        "utf-16be",
                                         "unicode", "unicodefeff",     "unicodefffe",
                                         "ucs-2",   "iso-10646-ucs-2", "csunicode"};
    for (const char *l : labels) {
        if (label == l)
            return true;
    }
    return false;
}

} // namespace

void extractHtml(const QByteArray &content, ExtractContext &context)
{
    extractHtml(content, context, QByteArray());
}

void extractHtml(const QByteArray &content, ExtractContext &context,
                 const QByteArray &knownEncoding)
{
    XmlReader::initialise();
    if (content.size() > INT_MAX)
        throw ExtractError(ExtractError::Kind::Limit, "HTML too large");
    // Without a declared charset libxml2 would fall back to Latin-1; tell it what the bytes are.
    QByteArray encoding = knownEncoding;
    const bool wideBom = content.startsWith("\xFF\xFE") || content.startsWith("\xFE\xFF");
    const bool hasBom = wideBom || content.startsWith("\xEF\xBB\xBF");
    if (encoding.isEmpty() && !hasBom)
        encoding = utf16Encoding(content);
    QByteArray html = content;
    if (!wideBom && !encoding.startsWith("UTF-16")) {
        // Stray NUL bytes: browsers drop them from the text, libxml2 would stop at one.
        html.removeIf([](char c) { return c == 0; });
    }
    if (encoding.isEmpty() && !hasBom) {
        const QByteArray declared = declaredCharset(html);
        if (declared.isEmpty() || isUtf16Label(declared)) {
            if (QByteArrayView(html).isValidUtf8())
                encoding = "UTF-8";
            else
                encoding = detectCharset(html);
            if (encoding == "ASCII")
                encoding = "UTF-8";
        }
    }
    const int options = HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR |
                        HTML_PARSE_NOWARNING | HTML_PARSE_COMPACT;
    // libxml2 stops at its nesting bound (256 by default) and keeps what it has read; the
    // bound goes well beyond real documents, and a parse it still stops is refused whole.
    xmlParserMaxDepth = unsigned(std::max(context.limits().maxMarkupDepth, 1));
    std::unique_ptr<htmlParserCtxt, decltype(&htmlFreeParserCtxt)> parser(htmlNewParserCtxt(),
                                                                          &htmlFreeParserCtxt);
    if (!parser)
        throw std::bad_alloc();
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> document(
        htmlCtxtReadMemory(parser.get(), html.constData(), int(html.size()), nullptr,
                           encoding.isEmpty() ? nullptr : encoding.constData(), options),
        &xmlFreeDoc);
    if (!document && !encoding.isEmpty()) {
        // An encoding libxml2 does not know: let it guess.
        document.reset(htmlCtxtReadMemory(parser.get(), html.constData(), int(html.size()), nullptr,
                                          nullptr, options));
    }
    if (!document)
        throw ExtractError(ExtractError::Kind::Corrupt, "cannot parse HTML");
    if (parser->disableSAX)
        throw ExtractError(ExtractError::Kind::Limit,
                           "the HTML cannot be read whole (nested too deeply)");
    xmlNodePtr root = xmlDocGetRootElement(document.get());
    if (root)
        walkHtml(root, context);
}

void extractXml(const QByteArray &content, ExtractContext &context)
{
    XmlReader reader(content, context.limits().maxMarkupDepth);
    while (reader.next()) {
        if (reader.node() != XmlReader::Node::Text)
            continue;
        const char *text = reader.text();
        if (reader.isWhitespace()) {
            if (std::strchr(text, '\n'))
                context.lineBreak();
            else
                context.space();
        } else {
            context.appendUtf8(text, qsizetype(std::strlen(text)));
        }
    }
}

} // namespace dv::textd
