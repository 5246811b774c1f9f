#pragma once

// The format extractors behind extractDocument. Each appends the text of one document to the
// context and throws ExtractError when it cannot.

#include <QByteArray>
#include <QString>

namespace dv::textd {

class ExtractContext;

enum class DocumentType
{
    Unknown,
    PlainText,
    Pdf,
    Rtf,
    Html,
    Xml,
    Eml,
    Zip,
    Ole2
};

// Decides the type from the content first, then from the hints for text formats.
DocumentType detectDocumentType(const QByteArray &content, const QString &contentTypeHint,
                                const QString &fileNameHint);

// Detects and extracts one (possibly embedded) document into the context.
void extractAny(const QByteArray &content, const QString &contentTypeHint,
                const QString &fileNameHint, ExtractContext &context);
// Extracts a document found inside another; ones that are unsupported, broken or nested too
// deeply are skipped, other limits still refuse the whole.
void extractEmbedded(const QByteArray &content, const QString &fileNameHint,
                     ExtractContext &context);

void extractPlainText(const QByteArray &content, ExtractContext &context);
void extractPdf(const QByteArray &content, ExtractContext &context);
void extractRtf(const QByteArray &content, ExtractContext &context);
void extractHtml(const QByteArray &content, ExtractContext &context);
// HTML whose encoding is known from elsewhere (a mail part's declared charset).
void extractHtml(const QByteArray &content, ExtractContext &context, const QByteArray &encoding);
void extractXml(const QByteArray &content, ExtractContext &context);
void extractEml(const QByteArray &content, ExtractContext &context);
// Office Open XML, OpenDocument and EPUB, told apart by their members.
void extractZipDocument(const QByteArray &content, ExtractContext &context);

// Compound files: legacy Word, Excel, PowerPoint and Outlook documents, told apart by their
// streams.
void extractOle2Document(const QByteArray &content, ExtractContext &context);
class CompoundFile;
void extractDoc(const CompoundFile &file, ExtractContext &context);
void extractXls(const CompoundFile &file, ExtractContext &context);
void extractPpt(const CompoundFile &file, ExtractContext &context);
bool isMsg(const CompoundFile &file);
void extractMsg(const CompoundFile &file, ExtractContext &context);
// The record readers on the streams themselves (also what the fuzzers feed).
void extractWordStreams(const QByteArray &wordDocument, const QByteArray &table0,
                        const QByteArray &table1, ExtractContext &context);
void extractWorkbookStream(const QByteArray &stream, ExtractContext &context);
void extractPresentationStreams(const QByteArray &document, const QByteArray &currentUser,
                                ExtractContext &context);

class ZipArchive;
// Office Open XML (package with [Content_Types].xml), OpenDocument and EPUB members.
bool isOoxml(const ZipArchive &archive);
void extractOoxml(ZipArchive &archive, ExtractContext &context);
void extractOdf(ZipArchive &archive, ExtractContext &context);
void extractEpub(ZipArchive &archive, ExtractContext &context);

// Text decoding shared by the plain-text path and the markup parsers.
bool looksLikeText(const QByteArray &content);
// "UTF-16LE" or "UTF-16BE" for text in UTF-16 without a byte-order mark, told by its zero
// bytes; empty for other content.
QByteArray utf16Encoding(const QByteArray &content);
// Decodes by byte-order mark, UTF-8 validity or detected charset; empty result when binary.
bool decodeText(const QByteArray &content, QString &text);
// The name of the legacy charset uchardet guesses, or an empty string.
QByteArray detectCharset(const QByteArray &content);
// The name Qt's decoders know a Windows code page by.
QByteArray codecNameForCodepage(int codepage);

} // namespace dv::textd
