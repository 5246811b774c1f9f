#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace dv::textd {

enum class ExtractStatus
{
    Ok,
    Unsupported,
    Unparseable
};

struct ExtractLimits
{
    // Output beyond this many characters is refused when it also exceeds maxCompressionRatio
    // times the input size (a decompression bomb); below the ratio the text is cut here.
    qint64 maxOutputChars = 1'000'000;
    // Total bytes inflated from archives (zip members, nested containers) per document.
    qint64 maxDecompressedBytes = 256LL * 1024 * 1024;
    // Nesting: XML elements, RTF groups, archives inside archives, MIME parts.
    int maxDepth = 100;
    // Output-to-input ratio above which a large output counts as a bomb.
    qint64 maxCompressionRatio = 100;
    // Largest single zip member inflated.
    qint64 maxEntryBytes = 128LL * 1024 * 1024;
    // Most zip entries looked at.
    int maxZipEntries = 10000;
};

struct ExtractResult
{
    ExtractStatus status = ExtractStatus::Unsupported;
    QByteArray utf8Text;
    QString error;
};

// Detects the type from content, content-type hint and file-name hint; extracts plain text.
ExtractResult extractDocument(const QByteArray &content, const QString &contentTypeHint,
                              const QString &fileNameHint, const ExtractLimits &limits);

} // namespace dv::textd
