#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace dv {

// A small summary of a text, kept beside its cached copy, that tells before the text is read
// whether a search can find something in it: a Bloom filter of the trigrams (three UTF-16 code
// units) of the text lower-cased per code point, as the search lower-cases it. A text holding
// the text to find holds each of its trigrams, so a trigram missing from the filter rules the
// text out; a filter only ever says "maybe" wrongly, never "no".
//
// Size: built in 64 KiB and halved while at most 35 % of the bits are set, with three bits per
// trigram: a trigram the text lacks passes with a chance of about 0.35^3 = 4 %, and a text to
// find with a few trigrams the text lacks almost never. That is about six bits per distinct
// trigram: 2-8 KiB for the text of a typical document (a few thousand distinct trigrams), 64
// bytes for a short one, at most 64 KiB (a long text of many scripts), against the compressed
// text's tens or hundreds of kilobytes that a refusal leaves unread.
//
// The filter records the lower-casing it was made with (our own rules' revision and the Qt
// library's version and Unicode tables): a program whose lower-casing may differ takes every
// such filter for "maybe".
class TextFingerprint
{
public:
    TextFingerprint();

    // The text's next piece; pieces hold whole characters (never half a surrogate pair).
    void add(QStringView piece);
    // The filter of the pieces added so far, as stored.
    QByteArray finish() const;

    // What a search looks for, made once for its text.
    class Query
    {
    public:
        // Text: the text to find (lower-cased here).
        explicit Query(QStringView text);
        // False only when a text with this Fingerprint cannot contain the text to find. An
        // empty, damaged or foreign fingerprint says "maybe".
        bool mayMatch(QByteArrayView fingerprint) const;

    private:
        std::vector<std::uint64_t> m_hashes;
    };

private:
    void addUnit(char16_t unit);

    std::vector<std::uint64_t> m_words;
    std::uint64_t m_last = 0; // the last two units
    int m_units = 0;          // units seen, up to two
};

} // namespace dv
