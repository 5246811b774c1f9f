#pragma once

#include "core/search/ContentTestFailure.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <vector>

namespace dv {

class ExtractedTextCache;

// Bytes of a plain-text file that are decoded when the caller gives no limit.
constexpr int kDefaultExtractionLimit = 2097152;
// Bytes the binary test looks at.
constexpr int kBinaryProbeLength = 8192;

// Extensions (with the dot, lower case) of files decoded directly instead of by the server.
extern const std::array<const char *, 80> TextExtensions;

// The extension of FileName: from the last "." after the last "/", dot included; else empty.
QString FileExtension(const QString &fileName);
// The same as a view into FileName.
QStringView FileExtensionView(QStringView fileName);
// Ext (with its dot) equals one of TextExtensions, ignoring case.
bool IsTextExtension(QStringView ext);

// Binary test over the first Count bytes: no zero byte and under 30 % control characters.
bool LooksLikeText(const char *bytes, qsizetype count);
// Lenient UTF-8 decoding of Count bytes from Start: every unaccepted sequence becomes one
// "?", overlong forms and surrogates pass, characters beyond the BMP become one "?".
QString DecodeUtf8Lenient(const char *bytes, qsizetype start, qsizetype count);
QString DecodeUtf8Lenient(const QByteArray &bytes, qsizetype start, qsizetype count);
// Count bytes in the 8-bit code page that stands for the system ANSI code page (Windows-1252).
QString DecodeAnsi(const char *bytes, qsizetype count);
// Encodes Text in that code page; characters it lacks become "?".
QByteArray EncodeAnsi(QStringView text);

// The text of a file: plain-text extensions are decoded here (at most MaxBytes bytes, the
// default limit when MaxBytes < 1), every other file goes to the extraction server (at most
// kMaxExtractedTextLength code units). True when Text is not empty; Truncated (when given)
// tells whether Text is only the first part. Never throws. A document's server text is looked
// up in, and kept in, TextCacheInUse().
bool ExtractText(const QString &fileName, int maxBytes, QString &text, bool *truncated = nullptr);
// The same with the server texts in Cache (nullptr: none).
bool ExtractText(const QString &fileName, int maxBytes, QString &text, bool *truncated,
                 ExtractedTextCache *cache);
// Encodes Text in the ANSI code page when every character of it has a byte there; else null.
QByteArray EncodeAnsiExact(QStringView text);

// Building blocks of ExtractText's direct path, shared with the content test.
//
// Reads the first min(size, MaxBytes) bytes of FileName into Buffer (grown as needed, never
// shrunk); the number of bytes read, or -1 when the file cannot be opened or read (Failure,
// when given, then says why).
qint64 ReadFileHead(const QString &fileName, qint64 maxBytes, std::vector<char> &buffer,
                    ContentTestError *failure = nullptr);
// Binary test, byte-order mark, lenient UTF-8 and the ANSI fallback over Count read bytes.
QString DecodePlainText(const char *bytes, qsizetype count);

} // namespace dv
