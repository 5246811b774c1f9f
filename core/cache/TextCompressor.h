#pragma once

#include <QByteArray>
#include <QStringView>

struct ZSTD_CCtx_s;

namespace dv {

// Compresses a text into the cache's stored form (see CompressText) while it arrives, piece by
// piece: the caller holds the compressed frame and one piece, never the whole text. Pieces may
// split a surrogate pair; a text that is not valid UTF-16 (it would not come back as it was),
// or longer than kMaxCachedTextBytes as UTF-8, cannot be stored; nor can one while other texts
// being compressed hold the memory allowed for that (see the .cpp).
class TextCompressor
{
public:
    TextCompressor();
    ~TextCompressor();
    TextCompressor(const TextCompressor &) = delete;
    TextCompressor &operator=(const TextCompressor &) = delete;

    // False once the text cannot be stored; later pieces are then ignored.
    bool append(QStringView piece);
    // A piece given as UTF-8 bytes, taken as they are.
    bool appendUtf8(const char *bytes, qsizetype size);
    // Ends the frame: the stored text, and the text's size in UTF-8 bytes; false (both
    // cleared) when it cannot be stored.
    bool finish(QByteArray &stored, qint64 &textBytes);

private:
    bool start();
    bool feed(const char *bytes, qsizetype size, bool end);
    bool compress(const char *bytes, qsizetype size, int directive);
    // Room for Size bytes of frame, within what all compressors may hold together.
    bool reserve(qsizetype size);

    ::ZSTD_CCtx_s *m_context = nullptr;
    qsizetype m_reserved = 0;
    QByteArray m_stored;
    QByteArray m_utf8;      // the current piece as UTF-8
    char16_t m_pending = 0; // a high surrogate that ended the last piece
    qint64 m_textBytes = 0;
    qsizetype m_sinceFlush = 0; // text bytes since the last block's end
    bool m_failed = false;
};

} // namespace dv
