#pragma once

#include "core/search/AsciiCaseInsensitiveFinder.h"

namespace dv {

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

// The longest run of ASCII characters other than "?" in the lower-cased Text: a text that
// contains Text ignoring case contains this run too. Empty when there is none.
QByteArray RequiredAsciiFragment(QStringView text);

} // namespace dv
