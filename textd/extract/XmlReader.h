#pragma once

#include <QByteArray>

#include <libxml/xmlreader.h>

namespace dv::textd {

// Streams the nodes of one XML document without network access, external entities, DTD
// loading or entity expansion, and refuses nesting deeper than maxDepth.
class XmlReader
{
public:
    enum class Node
    {
        StartElement,
        EndElement,
        Text,
        Other
    };

    XmlReader(const QByteArray &xml, int maxDepth);
    ~XmlReader();
    XmlReader(const XmlReader &) = delete;
    XmlReader &operator=(const XmlReader &) = delete;

    // Advances to the next node; false at the end. Throws on malformed XML.
    bool next();
    Node node() const { return m_node; }
    // Local name of the element, e.g. "p" for <w:p>.
    const char *name() const;
    bool isName(const char *localName) const;
    // Namespace URI of the element, or "".
    const char *namespaceUri() const;
    // Value of the attribute with this local name (any namespace); empty when absent.
    QByteArray attribute(const char *localName) const;
    // Value of the attribute with this local name in some namespace, as r:id next to an id.
    QByteArray prefixedAttribute(const char *localName) const;
    // Text of a text, CDATA or significant white-space node.
    const char *text() const;
    bool isWhitespace() const { return m_whitespace; }
    bool isEmptyElement() const { return m_empty; }
    int depth() const;
    // Skips the current start element with its children and its end: the next node is the one
    // that follows it.
    void skipElement();

    // Installs the process-wide guards of libxml2 (no external entity is ever loaded).
    static void initialise();

private:
    QByteArray findAttribute(const char *localName, bool namespaced) const;

    xmlTextReaderPtr m_reader = nullptr;
    int m_maxDepth;
    Node m_node = Node::Other;
    bool m_empty = false;
    bool m_whitespace = false;
    bool m_pendingEnd = false;
    bool m_skipRead = false;
    bool m_atEnd = false;
};

} // namespace dv::textd
