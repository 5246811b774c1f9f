#include "textd/extract/XmlReader.h"

#include "textd/extract/ExtractError.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <mutex>

namespace dv::textd {

namespace {

xmlParserInputPtr refuseExternalEntity(const char *, const char *, xmlParserCtxtPtr)
{
    return nullptr;
}

void ignoreErrors(void *, const char *, ...) {}
void ignoreStructuredErrors(void *, xmlErrorPtr) {}

} // namespace

void XmlReader::initialise()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalEntity);
        xmlSetGenericErrorFunc(nullptr, ignoreErrors);
        xmlSetStructuredErrorFunc(nullptr, ignoreStructuredErrors);
    });
}

XmlReader::XmlReader(const QByteArray &xml, int maxDepth) : m_maxDepth(maxDepth)
{
    initialise();
    if (xml.size() > INT_MAX)
        throw ExtractError(ExtractError::Kind::Limit, "XML part too large");
    // No XML_PARSE_NOENT, XML_PARSE_DTDLOAD, XML_PARSE_DTDATTR or XML_PARSE_HUGE: entities
    // stay references and libxml2 keeps its own size and depth caps.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                        XML_PARSE_NOCDATA | XML_PARSE_COMPACT;
    // libxml2's own nesting bound (256 by default) is raised to ours; past ours it stops.
    xmlParserMaxDepth = unsigned(std::max(maxDepth, 1)) + 1;
    m_reader = xmlReaderForMemory(xml.constData(), int(xml.size()), nullptr, nullptr, options);
    if (!m_reader)
        throw ExtractError(ExtractError::Kind::Corrupt, "cannot read XML");
}

XmlReader::~XmlReader()
{
    if (m_reader)
        xmlFreeTextReader(m_reader);
}

bool XmlReader::next()
{
    // An empty element <a/> is reported as a start and then an end, like <a></a>.
    if (m_atEnd)
        return false;
    if (m_pendingEnd) {
        m_pendingEnd = false;
        m_node = Node::EndElement;
        m_empty = false;
        return true;
    }
    const int status = m_skipRead ? 1 : xmlTextReaderRead(m_reader);
    m_skipRead = false;
    if (status == 0)
        return false;
    if (status < 0)
        throw ExtractError(ExtractError::Kind::Corrupt, "malformed XML");
    if (xmlTextReaderDepth(m_reader) > m_maxDepth)
        throw ExtractError(ExtractError::Kind::Limit, "XML nested too deeply");
    m_empty = false;
    m_whitespace = false;
    switch (xmlTextReaderNodeType(m_reader)) {
    case XML_READER_TYPE_ELEMENT:
        m_node = Node::StartElement;
        m_empty = xmlTextReaderIsEmptyElement(m_reader) == 1;
        m_pendingEnd = m_empty;
        break;
    case XML_READER_TYPE_END_ELEMENT:
        m_node = Node::EndElement;
        break;
    case XML_READER_TYPE_TEXT:
    case XML_READER_TYPE_CDATA:
        m_node = Node::Text;
        break;
    case XML_READER_TYPE_WHITESPACE:
    case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
        m_node = Node::Text;
        m_whitespace = true;
        break;
    default:
        // Entity references are deliberately left unexpanded.
        m_node = Node::Other;
        break;
    }
    return true;
}

const char *XmlReader::name() const
{
    const xmlChar *n = xmlTextReaderConstLocalName(m_reader);
    return n ? reinterpret_cast<const char *>(n) : "";
}

bool XmlReader::isName(const char *localName) const
{
    return std::strcmp(name(), localName) == 0;
}

const char *XmlReader::namespaceUri() const
{
    const xmlChar *n = xmlTextReaderConstNamespaceUri(m_reader);
    return n ? reinterpret_cast<const char *>(n) : "";
}

QByteArray XmlReader::attribute(const char *localName) const
{
    return findAttribute(localName, false);
}

QByteArray XmlReader::prefixedAttribute(const char *localName) const
{
    return findAttribute(localName, true);
}

QByteArray XmlReader::findAttribute(const char *localName, bool namespaced) const
{
    if (m_node != Node::StartElement)
        return {};
    xmlNodePtr node = xmlTextReaderCurrentNode(m_reader);
    if (!node || node->type != XML_ELEMENT_NODE)
        return {};
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
        if (!attr->name || std::strcmp(reinterpret_cast<const char *>(attr->name), localName) != 0)
            continue;
        if (namespaced && !attr->ns)
            continue;
        QByteArray value;
        // Attribute values are plain text children once parsed; entity references are skipped.
        for (xmlNodePtr child = attr->children; child; child = child->next) {
            if (child->type == XML_TEXT_NODE && child->content)
                value += reinterpret_cast<const char *>(child->content);
        }
        return value;
    }
    return {};
}

const char *XmlReader::text() const
{
    const xmlChar *v = xmlTextReaderConstValue(m_reader);
    return v ? reinterpret_cast<const char *>(v) : "";
}

int XmlReader::depth() const
{
    return xmlTextReaderDepth(m_reader);
}

void XmlReader::skipElement()
{
    if (m_node != Node::StartElement)
        return;
    if (m_empty) {
        m_pendingEnd = false;
        return;
    }
    // xmlTextReaderNext moves past the subtree onto the following node.
    const int status = xmlTextReaderNext(m_reader);
    if (status < 0)
        throw ExtractError(ExtractError::Kind::Corrupt, "malformed XML");
    if (status == 0) {
        m_skipRead = false;
        m_atEnd = true;
        return;
    }
    m_skipRead = true;
}

} // namespace dv::textd
