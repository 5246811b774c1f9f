#include "textd/extract/Extract.h"

#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

#include <QRegularExpression>

#include <new>

namespace dv::textd {

namespace {

QString extensionOf(const QString &fileName)
{
    const qsizetype slash = std::max(fileName.lastIndexOf(u'/'), fileName.lastIndexOf(u'\\'));
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= slash)
        return {};
    return fileName.mid(dot + 1).toLower();
}

QString baseMimeType(const QString &contentType)
{
    return contentType.section(u';', 0, 0).trimmed().toLower();
}

// The first few kilobytes as text, to look for markup and mail headers.
QString headText(const QByteArray &content)
{
    QString text;
    if (!decodeText(content.left(4096), text))
        return {};
    return text;
}

bool looksLikeMail(const QString &head)
{
    // A block of "Name: value" lines that names at least two of the usual mail headers.
    static const QRegularExpression headerLine(QStringLiteral("^([A-Za-z0-9-]+):[ \\t]"));
    static const QStringList known = {
        QStringLiteral("from"),         QStringLiteral("to"),
        QStringLiteral("subject"),      QStringLiteral("date"),
        QStringLiteral("message-id"),   QStringLiteral("mime-version"),
        QStringLiteral("received"),     QStringLiteral("return-path"),
        QStringLiteral("delivered-to"), QStringLiteral("content-type"),
        QStringLiteral("cc"),           QStringLiteral("reply-to")};
    int hits = 0;
    bool first = true;
    const auto lines = QStringView(head).split(u'\n');
    // A message saved from a mailbox starts with its separator line, "From sender date".
    const qsizetype start = head.startsWith(u"From ") ? 1 : 0;
    for (qsizetype i = start; i < lines.size() && i < 200; ++i) {
        QStringView line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty())
            break;
        if (!first && (line.startsWith(u' ') || line.startsWith(u'\t')))
            continue; // folded header
        const auto match = headerLine.match(line);
        if (!match.hasMatch())
            return false;
        first = false;
        if (known.contains(match.captured(1).toLower()))
            ++hits;
    }
    return hits >= 2;
}

bool isHtmlMarkup(const QString &trimmedHead)
{
    return trimmedHead.startsWith(u'<') &&
           (trimmedHead.contains(u"<!doctype html") || trimmedHead.contains(u"<html"));
}

bool isHtmlHint(const QString &mime, const QString &ext)
{
    return mime == u"text/html" || mime == u"application/xhtml+xml" || ext == u"html" ||
           ext == u"htm" || ext == u"xhtml" || ext == u"xht";
}

// The head of text with a few NUL bytes in it, which make it look binary, without them.
QString headWithoutNuls(const QByteArray &content)
{
    QByteArray probe = content.left(4096);
    const qsizetype nuls = probe.count('\0');
    if (nuls == 0 || nuls > std::max<qsizetype>(16, probe.size() / 16))
        return {};
    probe.removeIf([](char c) { return c == 0; });
    return headText(probe);
}

ExtractStatus statusFor(ExtractError::Kind kind)
{
    return kind == ExtractError::Kind::Unsupported ? ExtractStatus::Unsupported
                                                   : ExtractStatus::Unparseable;
}

} // namespace

DocumentType detectDocumentType(const QByteArray &content, const QString &contentTypeHint,
                                const QString &fileNameHint)
{
    if (content.startsWith("PK\x03\x04") || content.startsWith("PK\x05\x06"))
        return DocumentType::Zip;
    if (content.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return DocumentType::Ole2;
    // Writers put junk before the header; readers look for it within the first kilobyte.
    if (content.left(1024).contains("%PDF-"))
        return DocumentType::Pdf;
    if (content.startsWith("{\\rtf"))
        return DocumentType::Rtf;

    const QString mime = baseMimeType(contentTypeHint);
    const QString ext = extensionOf(fileNameHint);
    const QString head = headText(content);
    if (head.isEmpty() && !content.isEmpty()) {
        // Browsers read HTML with stray NUL bytes, and so do we; other text with them stays
        // unknown.
        const QString cleaned = headWithoutNuls(content).trimmed().left(2048).toLower();
        if (!cleaned.isEmpty() && (isHtmlMarkup(cleaned) || isHtmlHint(mime, ext)))
            return DocumentType::Html;
        return DocumentType::Unknown;
    }

    const QString trimmed = head.trimmed().left(2048).toLower();
    if (trimmed.startsWith(u"{\\rtf"))
        return DocumentType::Rtf;
    if (isHtmlMarkup(trimmed))
        return DocumentType::Html;
    if (trimmed.startsWith(u"<?xml"))
        return DocumentType::Xml;
    if (isHtmlHint(mime, ext))
        return DocumentType::Html;
    if (mime == u"message/rfc822" || mime == u"application/mbox" || ext == u"eml" ||
        ext == u"mbox" || looksLikeMail(head))
        return DocumentType::Eml;
    if (trimmed.startsWith(u'<') &&
        (mime == u"application/xml" || mime == u"text/xml" || mime.endsWith(u"+xml") ||
         ext == u"xml" || ext == u"svg" || ext == u"xsl" || ext == u"xslt"))
        return DocumentType::Xml;
    return DocumentType::PlainText;
}

void extractAny(const QByteArray &content, const QString &contentTypeHint,
                const QString &fileNameHint, ExtractContext &context)
{
    switch (detectDocumentType(content, contentTypeHint, fileNameHint)) {
    case DocumentType::PlainText:
        return extractPlainText(content, context);
    case DocumentType::Pdf:
        return extractPdf(content, context);
    case DocumentType::Rtf:
        return extractRtf(content, context);
    case DocumentType::Html:
        return extractHtml(content, context);
    case DocumentType::Xml:
        return extractXml(content, context);
    case DocumentType::Eml:
        return extractEml(content, context);
    case DocumentType::Zip:
        return extractZipDocument(content, context);
    case DocumentType::Ole2:
        return extractOle2Document(content, context);
    case DocumentType::Unknown:
        break;
    }
    throw ExtractError(ExtractError::Kind::Unsupported, "unsupported document type");
}

void extractEmbedded(const QByteArray &content, const QString &fileNameHint,
                     ExtractContext &context)
{
    // Deeper documents are left out rather than refusing the whole: a zip that contains itself
    // over and over ends here.
    if (content.isEmpty() || context.embeddingDepth() >= context.limits().maxEmbeddingDepth)
        return;
    EmbeddedScope scope(context);
    context.paragraphBreak();
    try {
        extractAny(content, QString(), fileNameHint, context);
    } catch (const ExtractError &error) {
        if (error.kind() == ExtractError::Kind::Limit)
            throw;
    }
    context.paragraphBreak();
}

ExtractResult extractDocument(const QByteArray &content, const QString &contentTypeHint,
                              const QString &fileNameHint, const ExtractLimits &limits,
                              const TextSink &sink)
{
    ExtractResult result;
    if (content.isEmpty()) {
        result.status = ExtractStatus::Ok;
        return result;
    }
    try {
        ExtractContext context(limits, content.size());
        context.setSink(sink);
        extractAny(content, contentTypeHint, fileNameHint, context);
        QByteArray text = context.takeText();
        if (!QByteArrayView(text).isValidUtf8())
            text = QString::fromUtf8(text).toUtf8();
        result.status = ExtractStatus::Ok;
        result.utf8Text = std::move(text);
    } catch (const ExtractError &error) {
        result.status = statusFor(error.kind());
        result.error = QString::fromStdString(error.what());
    } catch (const std::bad_alloc &) {
        result.status = ExtractStatus::Unparseable;
        result.error = QStringLiteral("out of memory");
    } catch (const std::exception &error) {
        result.status = ExtractStatus::Unparseable;
        result.error = QString::fromStdString(error.what());
    }
    return result;
}

} // namespace dv::textd
