#include "core/search/PlainTextMatch.h"

#include "core/search/ContentPattern.h"
#include "core/search/LowerCase.h"
#include "core/search/TextExtraction.h"

#include <QChar>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace dv {

namespace {

// BMP code units above 127 whose lower case is ASCII (per-code-point lower-casing).
const std::vector<bool> &lowersToAscii()
{
    static const std::vector<bool> table = [] {
        std::vector<bool> t(0x10000, false);
        for (char32_t c = 0x80; c < 0x10000; ++c)
            t[c] = LowerCodePoint(c) < 0x80;
        return t;
    }();
    return table;
}

// Where the text of a plain file starts: past a byte-order mark; nothing for binary bytes.
qsizetype PlainTextStart(const char *bytes, qsizetype count)
{
    if (count <= 0 || !LooksLikeText(bytes, std::min<qsizetype>(count, kBinaryProbeLength)))
        return -1;
    const auto *u = reinterpret_cast<const unsigned char *>(bytes);
    return (count >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) ? 3 : 0;
}

// Whether a byte beyond ASCII in Text, walked exactly as the lenient decoder does, may turn into
// an ASCII character, by decoding (overlong forms) or by lower-casing (U+212A), or into a pair
// of surrogates. An ASCII byte is never part of a multi-byte form, so it stays one code unit of
// its own; every other byte goes into a unit that is "?" or beyond ASCII. The ANSI fallback
// cannot change an answer: Windows-1252 turns every ASCII byte into itself and every other byte
// into a character that stays beyond ASCII when lower-cased. A form cut off at either end of
// Text is taken for "?" units, which never turn: a piece's walk misses only forms that some
// other piece holds whole.
bool UnitsMayTurnAscii(const char *text, qsizetype n)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    const std::vector<bool> &toAscii = lowersToAscii();
    auto cont = [&](qsizetype k) { return (p[k] & 0xC0) == 0x80; };
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        char32_t unit;
        if (b < 0x80) {
            // Most text is ASCII: skip it eight bytes at a time.
            ++i;
            for (std::uint64_t word; i + 8 <= n; i += 8) {
                std::memcpy(&word, p + i, 8);
                if (word & 0x8080808080808080ULL)
                    break;
            }
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
            return true;
    }
    return false;
}

// MatchTextBytesFast's verdict on Text, where NeedsFullDecode is only worked out (the walk of
// the characters) when Walk is set. A match is always a run of ASCII bytes, and every ASCII byte
// decodes to itself in both decodings, so an occurrence in the bytes is one in the text whatever
// surrounds it. Without one, a text of ASCII bytes alone is settled.
PlainTextVerdict LookWithFinder(const char *text, qsizetype n,
                                const AsciiCaseInsensitiveFinder &finder, bool walk, bool &nonAscii)
{
    nonAscii = false;
    if (finder.indexIn(text, n, nonAscii) >= 0)
        return PlainTextVerdict::Found;
    if (nonAscii && walk && (finder.pattern().contains('?') || UnitsMayTurnAscii(text, n)))
        return PlainTextVerdict::NeedsFullDecode;
    return PlainTextVerdict::NotFound;
}

} // namespace

PlainTextVerdict MatchPlainTextFast(const char *bytes, qsizetype count,
                                    const AsciiCaseInsensitiveFinder &finder)
{
    const qsizetype start = PlainTextStart(bytes, count);
    if (start < 0)
        return PlainTextVerdict::NotFound;
    return MatchTextBytesFast(bytes + start, count - start, finder);
}

PlainTextVerdict MatchTextBytesFast(const char *text, qsizetype n,
                                    const AsciiCaseInsensitiveFinder &finder)
{
    bool nonAscii = false;
    return LookWithFinder(text, n, finder, true, nonAscii);
}

TextBytesMatcher::TextBytesMatcher(const ContentPattern &pattern)
    : m_pattern(pattern), m_finder(pattern.asciiFinder()),
      // An occurrence straddling two pieces, or a form of up to four bytes.
      m_keep(std::max<qsizetype>(m_finder.pattern().size() - 1, 3))
{}

bool TextBytesMatcher::feed(const char *bytes, qsizetype count)
{
    if (decided() || count <= 0)
        return !decided();
    if (!m_tail.isEmpty()) {
        // What straddles the seam lies within the tail before it and the head after it.
        m_seam = m_tail;
        m_seam.append(bytes, std::min(count, m_keep));
        look(m_seam.constData(), m_seam.size());
    }
    look(bytes, count);
    if (count >= m_keep) {
        m_tail.resize(0); // keeps its memory
        m_tail.append(bytes + count - m_keep, m_keep);
    } else {
        m_tail.append(bytes, count);
        m_tail.remove(0, std::max<qsizetype>(0, m_tail.size() - m_keep));
    }
    return !decided();
}

void TextBytesMatcher::look(const char *bytes, qsizetype count)
{
    if (!m_nonAscii && !m_pattern.isAscii())
        m_nonAscii = HasNonAsciiByte(bytes, count);
    if (!m_found && !m_finder.isEmpty()) {
        bool nonAscii = false;
        const PlainTextVerdict verdict =
            LookWithFinder(bytes, count, m_finder, !m_mayDecodeElse, nonAscii);
        m_found = verdict == PlainTextVerdict::Found;
        m_nonAscii = m_nonAscii || (!m_found && nonAscii);
        m_mayDecodeElse = m_mayDecodeElse || verdict == PlainTextVerdict::NeedsFullDecode;
    }
}

bool TextBytesMatcher::decided() const
{
    if (m_pattern.isAscii())
        return m_found;
    // Beyond ASCII the answer is "decode" once nothing can refuse the text any more.
    const bool fragment = m_finder.isEmpty() || m_found || m_mayDecodeElse;
    return fragment && (m_nonAscii || !m_pattern.needsNonAsciiText());
}

PlainTextVerdict TextBytesMatcher::verdict() const
{
    if (m_pattern.isAscii()) {
        if (m_found)
            return PlainTextVerdict::Found;
        return m_mayDecodeElse ? PlainTextVerdict::NeedsFullDecode : PlainTextVerdict::NotFound;
    }
    // Bytes that are all ASCII decode, in UTF-8 and in the ANSI code page alike, to ASCII
    // characters, which lower-case to ASCII: no such text holds a character beyond it. And a
    // text that lacks the longest ASCII run of the text to find is not decoded.
    return decided() ? PlainTextVerdict::NeedsFullDecode : PlainTextVerdict::NotFound;
}

PlainTextVerdict MatchPlainTextFast(const char *bytes, qsizetype count,
                                    const ContentPattern &pattern)
{
    const qsizetype start = PlainTextStart(bytes, count);
    if (start < 0)
        return PlainTextVerdict::NotFound;
    // A file read whole that is all ASCII is refused after this one pass, unsearched.
    if (pattern.needsNonAsciiText() && !HasNonAsciiByte(bytes + start, count - start))
        return PlainTextVerdict::NotFound;
    TextBytesMatcher matcher(pattern);
    matcher.feed(bytes + start, count - start);
    return matcher.verdict();
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
