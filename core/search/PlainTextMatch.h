#pragma once

#include "core/search/AsciiCaseInsensitiveFinder.h"

namespace dv {

class ContentPattern;

enum class PlainTextVerdict
{
    Found,
    NotFound,
    NeedsFullDecode
};

// Decides, straight on the bytes read from a plain-text file, whether decoding them
// (DecodePlainText) and lower-casing the text per code point gives a text that contains the
// ASCII pattern of Finder. Gives NeedsFullDecode whenever the shortcut could answer
// differently: a multi-byte form that decodes or lower-cases to ASCII (overlong forms,
// U+212A), surrogates, or a "?" in the pattern together with bytes that may decode to "?".
PlainTextVerdict MatchPlainTextFast(const char *bytes, qsizetype count,
                                    const AsciiCaseInsensitiveFinder &finder);

// The same for bytes that are text already (a cached server text in UTF-8): no binary probe,
// no byte-order mark.
PlainTextVerdict MatchTextBytesFast(const char *text, qsizetype count,
                                    const AsciiCaseInsensitiveFinder &finder);

// Whether the bytes, decoded and lower-cased per code point, contain the lowered text of
// Pattern, decided by Match (one of the two above) on the pattern's ASCII finder whenever that
// is provably the answer: for a text beyond ASCII only "not found" is ever decided here.
PlainTextVerdict MatchPatternFast(const char *bytes, qsizetype count, const ContentPattern &pattern,
                                  PlainTextVerdict (*match)(const char *, qsizetype,
                                                            const AsciiCaseInsensitiveFinder &));

// The longest run of ASCII characters other than "?" in the lower-cased Text: a text that
// contains Text ignoring case contains this run too. Empty when there is none.
QByteArray RequiredAsciiFragment(QStringView text);

} // namespace dv
