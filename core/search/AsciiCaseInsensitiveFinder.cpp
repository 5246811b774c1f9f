#include "core/search/AsciiCaseInsensitiveFinder.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define DV_WIDE_SEARCH 1
#endif

namespace dv {

namespace {

constexpr unsigned char fold(unsigned char b)
{
    return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + 32) : b;
}

constexpr std::array<unsigned char, 256> kFold = [] {
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = fold(static_cast<unsigned char>(i));
    return t;
}();

constexpr bool isLowerLetter(unsigned char b)
{
    return b >= 'a' && b <= 'z';
}

// Rough frequency of bytes in source code and prose: lower is rarer.
int commonness(unsigned char b)
{
    static const char *const common = " etaoinsrlcdhu_(){};,.=*/\n\t";
    const char *at = b ? std::strchr(common, b) : nullptr;
    if (at)
        return 100 - static_cast<int>(at - common);
    return isLowerLetter(b) ? 50 : 10;
}

bool matchesAt(const char *at, const QByteArray &pattern)
{
    const auto *a = reinterpret_cast<const unsigned char *>(at);
    const auto *p = reinterpret_cast<const unsigned char *>(pattern.constData());
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (kFold[a[i]] != p[i])
            return false;
    }
    return true;
}

#if defined(DV_WIDE_SEARCH)
bool hasAvx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

// The block loop of the search 32 bytes at a time, for processors with AVX2: from I on while
// a whole block fits before Last; I ends at the first byte not loaded. Sets High when a loaded
// byte has its top bit set (tracked only when asked).
template <bool TrackNonAscii>
__attribute__((target("avx2"))) qsizetype wideBlocks(const char *data, qsizetype last,
                                                     const QByteArray &pattern, qsizetype second,
                                                     qsizetype &i, bool &high)
{
    const auto b0 = static_cast<unsigned char>(pattern[0]);
    const auto b1 = static_cast<unsigned char>(pattern[second]);
    const __m256i first = _mm256_set1_epi8(static_cast<char>(b0));
    const __m256i firstMask = _mm256_set1_epi8(isLowerLetter(b0) ? 0x20 : 0);
    const __m256i secondByte = _mm256_set1_epi8(static_cast<char>(b1));
    const __m256i secondMask = _mm256_set1_epi8(isLowerLetter(b1) ? 0x20 : 0);
    __m256i top = _mm256_setzero_si256();
    for (; i + 31 <= last; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + i + second));
        if constexpr (TrackNonAscii)
            top = _mm256_or_si256(top, a);
        const __m256i eq =
            _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a, firstMask), first),
                             _mm256_cmpeq_epi8(_mm256_or_si256(b, secondMask), secondByte));
        unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(eq));
        while (mask) {
            const int bit = __builtin_ctz(mask);
            if (matchesAt(data + i + bit, pattern))
                return i + bit;
            mask &= mask - 1;
        }
    }
    if constexpr (TrackNonAscii)
        high = high || _mm256_movemask_epi8(top) != 0;
    return -1;
}
#endif

} // namespace

AsciiCaseInsensitiveFinder::AsciiCaseInsensitiveFinder(QByteArrayView pattern)
    : m_pattern(pattern.toByteArray())
{
    for (char &c : m_pattern)
        c = static_cast<char>(kFold[static_cast<unsigned char>(c)]);
    // Pair the first byte with the rarest other byte, so that fewer candidates need a full look.
    int best = 1000;
    for (qsizetype i = 1; i < m_pattern.size(); ++i) {
        const int c = commonness(static_cast<unsigned char>(m_pattern[i]));
        if (c < best) {
            best = c;
            m_second = i;
        }
    }
}

qsizetype AsciiCaseInsensitiveFinder::indexIn(const char *data, qsizetype size) const
{
    return search<false>(data, size, nullptr);
}

qsizetype AsciiCaseInsensitiveFinder::indexIn(const char *data, qsizetype size,
                                              bool &sawNonAscii) const
{
    return search<true>(data, size, &sawNonAscii);
}

template <bool TrackNonAscii>
qsizetype AsciiCaseInsensitiveFinder::search(const char *data, qsizetype size,
                                             bool *sawNonAscii) const
{
    const qsizetype m = m_pattern.size();
    if (m == 0 || m > size) {
        if constexpr (TrackNonAscii)
            *sawNonAscii = HasNonAsciiByte(data, size);
        return -1;
    }
    const qsizetype last = size - m; // last possible start
    qsizetype i = 0;
    bool wideHigh = false;
#if defined(DV_WIDE_SEARCH)
    if (hasAvx2()) {
        const qsizetype at =
            wideBlocks<TrackNonAscii>(data, last, m_pattern, m_second, i, wideHigh);
        if (at >= 0)
            return at;
    }
#endif
#if defined(__SSE2__)
    const auto b0 = static_cast<unsigned char>(m_pattern[0]);
    const auto b1 = static_cast<unsigned char>(m_pattern[m_second]);
    // A lower-case letter matches both cases: or-ing 0x20 maps only its upper case onto it.
    const __m128i first = _mm_set1_epi8(static_cast<char>(b0));
    const __m128i firstMask = _mm_set1_epi8(isLowerLetter(b0) ? 0x20 : 0);
    const __m128i second = _mm_set1_epi8(static_cast<char>(b1));
    const __m128i secondMask = _mm_set1_epi8(isLowerLetter(b1) ? 0x20 : 0);
    // The top bits of every block loaded so far: the non-ASCII test rides along for free.
    __m128i high = _mm_setzero_si128();
    for (; i + 15 <= last; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i + m_second));
        if constexpr (TrackNonAscii)
            high = _mm_or_si128(high, a);
        const __m128i eq = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, firstMask), first),
                                         _mm_cmpeq_epi8(_mm_or_si128(b, secondMask), second));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(eq));
        while (mask) {
            const int bit = __builtin_ctz(mask);
            if (matchesAt(data + i + bit, m_pattern))
                return i + bit;
            mask &= mask - 1;
        }
    }
    if constexpr (TrackNonAscii)
        *sawNonAscii = wideHigh || _mm_movemask_epi8(high) != 0;
#else
    if constexpr (TrackNonAscii)
        *sawNonAscii = wideHigh;
#endif
    const qsizetype scanned = i; // bytes before this one were all loaded above
    for (; i <= last; ++i) {
        if (matchesAt(data + i, m_pattern))
            return i;
    }
    if constexpr (TrackNonAscii)
        *sawNonAscii = *sawNonAscii || HasNonAsciiByte(data + scanned, size - scanned);
    return -1;
}

bool HasNonAsciiByte(const char *data, qsizetype size)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    for (; i + 64 <= size; i += 64) {
        const auto *p = reinterpret_cast<const __m128i *>(data + i);
        const __m128i any =
            _mm_or_si128(_mm_or_si128(_mm_loadu_si128(p), _mm_loadu_si128(p + 1)),
                         _mm_or_si128(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3)));
        if (_mm_movemask_epi8(any))
            return true;
    }
#endif
    for (; i < size; ++i) {
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return true;
    }
    return false;
}

} // namespace dv
