#pragma once

#include "core/search/LowerCase.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <array>
#include <atomic>

namespace dv {

class ContentPattern;
class ExtractedTextCache;

// Whether a file whose text lacks the text to find is in addition scanned byte by byte.
// Set from the form at every search start; false until then.
extern std::atomic<bool> ScanUnrecognizedFormats;

// Extensions (with the dot, lower case) of files that are never content-searched.
extern const std::array<const char *, 145> SkippedExtensions;

// Bytes read at a time by the raw scan.
constexpr int kRawScanChunkSize = 65536;

// Ext (with its dot, any case) is on the skip list.
bool IsSkippedExtension(QStringView ext);
// 1-based position of Needle in Haystack ignoring case; 0 if absent or either is empty.
qsizetype PosIgnoreCase(QStringView haystack, QStringView needle);
// Every UTF-16 code unit of S is at most 127 (true for the empty string).
bool IsAsciiOnly(QStringView s);
// 0-based index of the first exact occurrence of Pattern in Data; -1 if none or Pattern empty.
qsizetype FindBytes(QByteArrayView data, QByteArrayView pattern);
// Some window of Data equals Pattern (given in lower case) once "A"-"Z" in Data are folded.
bool FindBytesAsciiIgnoreCase(QByteArrayView data, QByteArrayView pattern);
// Whether the file contains Text: its extracted text ignoring case, then (when
// ScanUnrecognizedFormats is set) its raw bytes. False for any failure; never throws.
// A document's server text is looked up in, and kept in, TextCacheInUse().
bool FileContainsText(const QString &fileName, const QString &text);
// The same with the server texts in Cache (nullptr: none).
bool FileContainsText(const QString &fileName, const QString &text, ExtractedTextCache *cache);
// The same with the pattern a search made once for all its files (ContentPattern).
bool FileContainsText(const QString &fileName, const ContentPattern &pattern);

} // namespace dv
