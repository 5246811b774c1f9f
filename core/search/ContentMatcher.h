#pragma once

#include "core/search/ContentTestFailure.h"
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
// Whether a file contains the text, and when its content could not be tested, why. A file
// that was read and lacks the text, or whose type the server does not know (an empty text),
// has no Error. Bounds: a plain-text file is decoded up to kDefaultExtractionLimit bytes and a
// server text is searched up to kMaxExtractedTextLength code units; an occurrence within counts,
// past it the file is reported as over the limit (unless the raw scan read the plain-text file
// to its end).
struct ContentTestResult
{
    bool Found = false;
    ContentTestError Error;
};

// Tests the file's extracted text ignoring case, then (when ScanUnrecognizedFormats is set) its
// raw bytes. Never throws. A document's server text is looked up in, and kept in,
// TextCacheInUse().
ContentTestResult TestFileContent(const QString &fileName, const QString &text);
// The same with the server texts in Cache (nullptr: none).
ContentTestResult TestFileContent(const QString &fileName, const QString &text,
                                  ExtractedTextCache *cache);
// TestFileContent(...).Found: false for any failure.
bool FileContainsText(const QString &fileName, const QString &text);
bool FileContainsText(const QString &fileName, const QString &text, ExtractedTextCache *cache);
// The same with the pattern a search made once for all its files (ContentPattern).
bool FileContainsText(const QString &fileName, const ContentPattern &pattern);

} // namespace dv
