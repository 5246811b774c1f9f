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
// (DecodePlainText) and searching the text with PosIgnoreCase would find the ASCII text that
// Finder holds. Gives NeedsFullDecode whenever the shortcut could answer differently: a
// multi-byte form that decodes or lower-cases to ASCII (overlong forms, U+212A), surrogates,
// or a "?" in the text together with bytes that may decode to "?".
PlainTextVerdict MatchPlainTextFast(const char *bytes, qsizetype count,
                                    const AsciiCaseInsensitiveFinder &finder);

} // namespace dv
