#include "core/search/PlainTextMatch.h"

#include "core/search/ContentPattern.h"
#include "core/search/LowerCase.h"
#include "core/search/TextExtraction.h"

#include <QChar>

#include <algorithm>
#include <vector>

namespace dv {

namespace {

// BMP code units above 127 whose lower case is ASCII (per-code-point lower-casing).
const std::vector<bool> &lowersToAscii()
{
    static const std::vector<bool> table = [] {
        std::vector<bool> t(0x10000, false);
        for (char32_t c = 0x80; c < 0x10000; ++c)
            t[c] = QChar::toLower(c) < 0x80;
        return t;
    }();
    return table;
}

} // namespace

PlainTextVerdict MatchPlainTextFast(const char *bytes, qsizetype count,
                                    const AsciiCaseInsensitiveFinder &finder)
{
    if (count <= 0 || !LooksLikeText(bytes, std::min<qsizetype>(count, kBinaryProbeLength)))
        return PlainTextVerdict::NotFound;
    const auto *u = reinterpret_cast<const unsigned char *>(bytes);
    const qsizetype start = (count >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) ? 3 : 0;
    return MatchTextBytesFast(bytes + start, count - start, finder);
}

PlainTextVerdict MatchTextBytesFast(const char *text, qsizetype n,
                                    const AsciiCaseInsensitiveFinder &finder)
{
    // A match is always a run of ASCII bytes, and every ASCII byte decodes to itself in both
    // decodings, so an occurrence in the bytes is one in the text whatever surrounds it.
    bool nonAscii = false;
    if (finder.indexIn(text, n, nonAscii) >= 0)
        return PlainTextVerdict::Found;
    // Every ASCII byte decodes to itself; the ANSI code page keeps ASCII too.
    if (!nonAscii)
        return PlainTextVerdict::NotFound;
    if (finder.pattern().contains('?'))
        return PlainTextVerdict::NeedsFullDecode;

    // Walk the bytes exactly as the lenient decoder does. An ASCII byte is never part of a
    // multi-byte form, so it stays one code unit of its own; every other byte goes into a unit
    // that is "?" (absent from the text to find) or non-ASCII. The shortcut holds as long as
    // no such unit becomes ASCII, by decoding (overlong forms) or by lower-casing (U+212A).
    // The ANSI fallback cannot change the answer: Windows-1252 turns every ASCII byte into
    // itself and every other byte into a character that stays non-ASCII when lower-cased.
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    const std::vector<bool> &toAscii = lowersToAscii();
    auto cont = [&](qsizetype k) { return (p[k] & 0xC0) == 0x80; };
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        char32_t unit;
        if (b < 0x80) {
            ++i;
            continue;
        }
        if ((b & 0xE0) == 0xC0 && i + 1 < n && cont(i + 1)) {
            unit = ((b & 0x1F) << 6) | (p[i + 1] & 0x3F);
            i += 2;
        } else if ((b & 0xF0) == 0xE0 && i + 2 < n && cont(i + 1) && cont(i + 2)) {
            unit = ((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
            i += 3;
        } else if ((b & 0xF8) == 0xF0 && i + 3 < n && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            i += 4; // one "?"
            continue;
        } else {
            i += 1; // one "?"
            continue;
        }
        // Surrogates may pair up into a code point of their own when lower-cased.
        if (unit < 0x80 || (unit >= 0xD800 && unit <= 0xDFFF) || toAscii[unit])
            return PlainTextVerdict::NeedsFullDecode;
    }
    return PlainTextVerdict::NotFound;
}

PlainTextVerdict MatchPatternFast(const char *bytes, qsizetype count, const ContentPattern &pattern,
                                  PlainTextVerdict (*match)(const char *, qsizetype,
                                                            const AsciiCaseInsensitiveFinder &))
{
    const AsciiCaseInsensitiveFinder &finder = pattern.asciiFinder();
    if (pattern.isAscii())
        return match(bytes, count, finder);
    // Bytes that are all ASCII decode, in UTF-8 and in the ANSI code page alike, to ASCII
    // characters, which lower-case to ASCII: no such text holds a character beyond it.
    if (pattern.needsNonAsciiText() && !HasNonAsciiByte(bytes, count))
        return PlainTextVerdict::NotFound;
    // A text that lacks the longest ASCII run of the text to find is not decoded.
    if (!finder.isEmpty() && match(bytes, count, finder) == PlainTextVerdict::NotFound)
        return PlainTextVerdict::NotFound;
    return PlainTextVerdict::NeedsFullDecode;
}

QByteArray RequiredAsciiFragment(QStringView text)
{
    const QString lower = LowerCasePerCodePoint(text);
    qsizetype bestStart = 0, bestLength = 0;
    for (qsizetype i = 0; i < lower.size();) {
        auto fits = [&](qsizetype k) { return lower[k].unicode() < 0x80 && lower[k] != u'?'; };
        if (!fits(i)) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < lower.size() && fits(end))
            ++end;
        if (end - i > bestLength) {
            bestStart = i;
            bestLength = end - i;
        }
        i = end;
    }
    return lower.mid(bestStart, bestLength).toLatin1();
}

} // namespace dv
