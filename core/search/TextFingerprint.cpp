#include "core/search/TextFingerprint.h"

#include "core/search/LowerCase.h"

#include <QChar>
#include <QString>
#include <QtGlobal>

#include <bit>
#include <cstring>

namespace dv {

namespace {

constexpr std::uint8_t kFormat = 1;
constexpr int kProbes = 3;
// The filter is built at 2^19 bits and folded down from there.
constexpr int kLargestLog2 = 19;
constexpr int kSmallestLog2 = 9;
constexpr double kMostFilled = 0.35;
// Format, log2 of the bits, probes, unused, lowering checksum (4 bytes, little-endian).
constexpr qsizetype kHeaderSize = 8;

std::uint64_t Mix(std::uint64_t x)
{
    x *= 0x9E3779B97F4A7C15ULL;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 32;
    return x;
}

std::uint64_t TrigramHash(std::uint64_t lastTwo, char16_t unit)
{
    return Mix((lastTwo << 16) | unit);
}

// Bit I of the probe: the same in the largest filter and (masked) in every fold of it.
std::uint64_t Probe(std::uint64_t hash, int i)
{
    return hash + std::uint64_t(i) * ((hash >> 32) | 1);
}

// Bumped whenever LowerCodePoint's own rules change.
constexpr std::uint64_t kLoweringRevision = 1;

// Names the lower-casing in use: our own rules and the Qt library (with its Unicode tables)
// they rest on. Filters made under another one must not be trusted. Checking the mapping of
// every character instead cost more than a whole repeated search.
std::uint32_t LoweringChecksum()
{
    static const std::uint32_t checksum = [] {
        std::uint64_t h = Mix(kLoweringRevision ^ std::uint64_t(QChar::currentUnicodeVersion()));
        for (const char *p = qVersion(); *p; ++p)
            h = Mix(h ^ std::uint8_t(*p));
        return std::uint32_t(h ^ (h >> 32));
    }();
    return checksum;
}

} // namespace

TextFingerprint::TextFingerprint() : m_words((std::size_t(1) << kLargestLog2) / 64, 0) {}

void TextFingerprint::addUnit(char16_t unit)
{
    if (m_units == 2) {
        const std::uint64_t hash = TrigramHash(m_last, unit);
        for (int i = 0; i < kProbes; ++i) {
            const std::uint64_t bit = Probe(hash, i) & ((std::uint64_t(1) << kLargestLog2) - 1);
            m_words[bit / 64] |= std::uint64_t(1) << (bit % 64);
        }
    } else {
        ++m_units;
    }
    m_last = ((m_last << 16) | unit) & 0xFFFFFFFFULL;
}

void TextFingerprint::add(QStringView piece)
{
    // Lowering piece by piece equals lowering the whole text: pieces hold whole characters.
    const QString lower = LowerCasePerCodePoint(piece);
    const char16_t *p = reinterpret_cast<const char16_t *>(lower.constData());
    for (qsizetype i = 0; i < lower.size(); ++i)
        addUnit(p[i]);
}

QByteArray TextFingerprint::finish() const
{
    std::vector<std::uint64_t> words = m_words;
    int log2 = kLargestLog2;
    const auto filled = [](const std::uint64_t *w, std::size_t n) {
        std::size_t set = 0;
        for (std::size_t i = 0; i < n; ++i)
            set += std::size_t(std::popcount(w[i]));
        return double(set) / double(n * 64);
    };
    // Halving ORs the upper half into the lower: a bit's index loses its top bit, as a probe
    // masked to the smaller size does.
    std::vector<std::uint64_t> half;
    while (log2 > kSmallestLog2) {
        const std::size_t n = words.size() / 2;
        half.assign(words.begin(), words.begin() + std::ptrdiff_t(n));
        for (std::size_t i = 0; i < n; ++i)
            half[i] |= words[n + i];
        if (filled(half.data(), n) > kMostFilled)
            break;
        words.swap(half);
        words.resize(n);
        --log2;
    }
    QByteArray out(kHeaderSize + qsizetype(words.size() * 8), Qt::Uninitialized);
    char *o = out.data();
    const std::uint32_t checksum = LoweringChecksum();
    o[0] = char(kFormat);
    o[1] = char(log2);
    o[2] = char(kProbes);
    o[3] = 0;
    for (int i = 0; i < 4; ++i)
        o[4 + i] = char((checksum >> (8 * i)) & 0xFF);
    for (std::size_t i = 0; i < words.size(); ++i)
        for (int b = 0; b < 8; ++b)
            o[kHeaderSize + qsizetype(i * 8) + b] = char((words[i] >> (8 * b)) & 0xFF);
    return out;
}

TextFingerprint::Query::Query(QStringView text)
{
    const QString lower = LowerCasePerCodePoint(text);
    const char16_t *p = reinterpret_cast<const char16_t *>(lower.constData());
    for (qsizetype i = 2; i < lower.size(); ++i)
        m_hashes.push_back(
            TrigramHash((std::uint64_t(p[i - 2]) << 16) | std::uint64_t(p[i - 1]), p[i]));
}

bool TextFingerprint::Query::mayMatch(QByteArrayView fingerprint) const
{
    if (m_hashes.empty() || fingerprint.size() < kHeaderSize)
        return true;
    const auto *u = reinterpret_cast<const unsigned char *>(fingerprint.data());
    const int log2 = u[1];
    std::uint32_t checksum = 0;
    for (int i = 0; i < 4; ++i)
        checksum |= std::uint32_t(u[4 + i]) << (8 * i);
    if (u[0] != kFormat || u[2] != kProbes || log2 < kSmallestLog2 || log2 > kLargestLog2 ||
        fingerprint.size() != kHeaderSize + (qsizetype(1) << log2) / 8 ||
        checksum != LoweringChecksum())
        return true;
    const unsigned char *bits = u + kHeaderSize;
    const std::uint64_t mask = (std::uint64_t(1) << log2) - 1;
    for (const std::uint64_t hash : m_hashes)
        for (int i = 0; i < kProbes; ++i) {
            const std::uint64_t bit = Probe(hash, i) & mask;
            if (!(bits[bit / 8] & (1u << (bit % 8))))
                return false;
        }
    return true;
}

} // namespace dv
