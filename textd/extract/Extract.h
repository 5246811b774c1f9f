#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace dv::textd {

enum class ExtractStatus
{
    Ok,
    Unsupported,
    Unparseable
};

struct ExtractLimits
{
    // A document whose text grows beyond this many characters while also exceeding
    // maxCompressionRatio times the input size is refused as a decompression bomb.
    qint64 maxOutputChars = 1'000'000;
    // Total bytes inflated from archives (zip members, nested archives) per document.
    qint64 maxDecompressedBytes = 256LL * 1024 * 1024;
    // Structural nesting: RTF groups, MIME parts.
    int maxDepth = 200;
    // Element nesting in HTML and XML; real documents stay far below, broken HTML with
    // unclosed elements can reach thousands.
    int maxMarkupDepth = 100'000;
    qint64 maxCompressionRatio = 100;
    // Largest single archive member inflated.
    qint64 maxEntryBytes = 128LL * 1024 * 1024;
    // Archive members looked at per archive.
    int maxZipEntries = 20'000;
    // Documents inside documents (attachments, embedded objects, zip in zip).
    int maxEmbeddingDepth = 8;
};

struct ExtractResult
{
    ExtractStatus status = ExtractStatus::Unsupported;
    QByteArray utf8Text;
    QString error;
};

// Receives the text of a long extraction piece by piece, while it is being extracted.
using TextSink = std::function<void(const QByteArray &)>;

// Detects the type from content, content-type hint and file-name hint; extracts plain text.
// With a sink, text already handed to it is not repeated in the result's utf8Text.
ExtractResult extractDocument(const QByteArray &content, const QString &contentTypeHint,
                              const QString &fileNameHint, const ExtractLimits &limits,
                              const TextSink &sink = {});

} // namespace dv::textd
