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
// differently: a multi-byte form that decodes or lower-cases to ASCII (overlong forms, U+212A,
// U+0130), surrogates, or a "?" in the pattern together with bytes that may decode to "?".
PlainTextVerdict MatchPlainTextFast(const char *bytes, qsizetype count,
                                    const AsciiCaseInsensitiveFinder &finder);

// The same for bytes that are text already (a cached server text in UTF-8): no binary probe,
// no byte-order mark.
PlainTextVerdict MatchTextBytesFast(const char *text, qsizetype count,
                                    const AsciiCaseInsensitiveFinder &finder);

// Whether the text, decoded and lower-cased per code point, contains the lowered text of
// Pattern, decided straight on the text's UTF-8 bytes (no binary probe, no byte-order mark) with
// the pattern's ASCII finder (MatchTextBytesFast) whenever that is provably the answer: for a
// text to find beyond ASCII only "not found" is ever decided here. The bytes may come in pieces
// (a cached text is decompressed a block at a time): the verdict over the pieces is the one
// over their concatenation, and it is often known before the last piece.
class TextBytesMatcher
{
public:
    explicit TextBytesMatcher(const ContentPattern &pattern);

    // Looks at the next piece; false once no further piece can change the verdict.
    bool feed(const char *bytes, qsizetype count);
    // The verdict over the pieces fed so far, taken as the whole text.
    PlainTextVerdict verdict() const;

private:
    void look(const char *bytes, qsizetype count);
    bool decided() const;

    const ContentPattern &m_pattern;
    const AsciiCaseInsensitiveFinder &m_finder;
    // The last bytes fed: an occurrence or a character may straddle two pieces.
    QByteArray m_tail;
    QByteArray m_seam;
    qsizetype m_keep;
    bool m_found = false;         // the finder's pattern occurs
    bool m_mayDecodeElse = false; // a character of the text may decode to ASCII or to "?"
    bool m_nonAscii = false;      // a byte beyond ASCII was seen
};

// TextBytesMatcher over the bytes of a plain-text file read whole: binary bytes hold no text,
// and a UTF-8 byte-order mark is no part of it.
PlainTextVerdict MatchPlainTextFast(const char *bytes, qsizetype count,
                                    const ContentPattern &pattern);

// The longest run of ASCII characters other than "?" in the lower-cased Text: a text that
// contains Text ignoring case contains this run too. Empty when there is none.
QByteArray RequiredAsciiFragment(QStringView text);

} // namespace dv
