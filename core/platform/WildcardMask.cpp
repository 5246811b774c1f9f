#include "core/platform/WildcardMask.h"

#include "core/platform/FileName.h"

#include <QChar>

#include <array>

namespace dv {

namespace {

constexpr char32_t kStar = U'*';
constexpr char32_t kAny = U'?';
constexpr char32_t kDot = U'.';

constexpr std::array<unsigned char, 256> MakeAsciiLower()
{
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<unsigned char>((i >= 'A' && i <= 'Z') ? i + 32 : i);
    return t;
}
constexpr std::array<unsigned char, 256> kAsciiLower = MakeAsciiLower();

char32_t Lower(char32_t c)
{
    return c < 0x80 ? kAsciiLower[c] : QChar::toLower(c);
}

// What is left of the mask once the name is used up must be able to match nothing:
// only stars and "." + "*" pairs can.
bool RestMatchesEmpty(const char32_t *m, std::size_t j, std::size_t mlen)
{
    while (j < mlen) {
        if (m[j] == kStar)
            ++j;
        else if (m[j] == kDot && j + 1 < mlen && m[j + 1] == kStar)
            j += 2;
        else
            return false;
    }
    return true;
}

// Greedy match with backtracking to the last star; linear for the usual masks. Getting to
// the end of the name with a remainder that cannot match nothing cannot be mended by letting
// an earlier star take more, because the remainder would only grow.
template <typename CharAt>
bool MatchImpl(const char32_t *m, std::size_t mlen, std::size_t nlen, CharAt nameAt)
{
    std::size_t i = 0, j = 0;
    std::size_t starJ = static_cast<std::size_t>(-1), starI = 0;
    while (i < nlen) {
        if (j < mlen) {
            const char32_t mc = m[j];
            if (mc == kStar) {
                starJ = j++;
                starI = i;
                continue;
            }
            if (mc == kAny || mc == nameAt(i)) {
                ++i;
                ++j;
                continue;
            }
        }
        if (starJ == static_cast<std::size_t>(-1))
            return false;
        j = starJ + 1;
        i = ++starI;
    }
    return RestMatchesEmpty(m, j, mlen);
}

bool IsAscii(const char *p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    return true;
}

std::vector<char32_t> LoweredCodePoints(QStringView s)
{
    std::vector<char32_t> out;
    out.reserve(static_cast<std::size_t>(s.size()));
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = s[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && s[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(s[i].unicode(), s[i + 1].unicode());
            ++i;
        }
        out.push_back(Lower(c));
    }
    return out;
}

} // namespace

WildcardMask::WildcardMask(QStringView pMask)
    : m_mask(pMask.toString()), m_lowered(LoweredCodePoints(pMask))
{
    // A leading star can take the whole name when the rest can match nothing.
    m_matchesAll = !m_lowered.empty() && m_lowered[0] == kStar &&
                   RestMatchesEmpty(m_lowered.data(), 1, m_lowered.size());
}

bool WildcardMask::Matches(const char *pName, std::size_t pLength) const
{
    if (m_matchesAll)
        return true;
    if (IsAscii(pName, pLength)) {
        const auto *n = reinterpret_cast<const unsigned char *>(pName);
        return MatchImpl(m_lowered.data(), m_lowered.size(), pLength,
                         [n](std::size_t i) { return char32_t(kAsciiLower[n[i]]); });
    }
    return Matches(DecodeFileName(pName, pLength));
}

bool WildcardMask::Matches(QStringView pName) const
{
    if (m_matchesAll)
        return true;
    const std::vector<char32_t> name = LoweredCodePoints(pName);
    return MatchImpl(m_lowered.data(), m_lowered.size(), name.size(),
                     [&name](std::size_t i) { return name[i]; });
}

bool PathMatchSpec(QStringView pName, QStringView pMask)
{
    return WildcardMask(pMask).Matches(pName);
}

} // namespace dv
