#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace dv {

// Finds a byte pattern in bytes, treating "A" to "Z" and "a" to "z" as equal and every other
// byte exactly. Two bytes of the pattern are looked for 16 positions at a time (32 where the
// processor has AVX2) before a candidate is compared in full.
class AsciiCaseInsensitiveFinder
{
public:
    explicit AsciiCaseInsensitiveFinder(QByteArrayView pattern);

    bool isEmpty() const { return m_pattern.isEmpty(); }
    // The pattern with "A" to "Z" folded to lower case.
    const QByteArray &pattern() const { return m_pattern; }
    // 0-based index of the first occurrence, -1 if none (or the pattern is empty).
    qsizetype indexIn(const char *data, qsizetype size) const;
    // The same in one pass that also tells, when there is no occurrence, whether any byte has
    // its top bit set (SawNonAscii means nothing when there is one).
    qsizetype indexIn(const char *data, qsizetype size, bool &sawNonAscii) const;

private:
    template <bool TrackNonAscii>
    qsizetype search(const char *data, qsizetype size, bool *sawNonAscii) const;

    QByteArray m_pattern;
    qsizetype m_second = 0; // offset of the second byte looked for
};

// Whether any of the Size bytes has its top bit set.
bool HasNonAsciiByte(const char *data, qsizetype size);

} // namespace dv
