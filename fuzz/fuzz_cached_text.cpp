#include "core/cache/TextCompression.h"
#include "core/search/ContentPattern.h"
#include "core/search/PlainTextMatch.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace dv;

// Reads arbitrary bytes as a stored text of the cache, as a damaged database would hold it:
// four bytes of recorded size (little-endian), one byte choosing the text to find and the size
// of the pieces a reader takes, then the zstd frame, stored with its check. A frame that comes
// out whole must give, in pieces, the verdict of its text taken at once; and with any one bit
// of it flipped (chosen by the recorded size), no reading may yield a text, whole or stopped.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    std::uint32_t recorded;
    std::memcpy(&recorded, data, 4);
    const qint64 expected = qint64(recorded % (4u << 20));
    static const ContentPattern patterns[] = {
        ContentPattern(QStringLiteral("needle")), ContentPattern(QStringLiteral("k")),
        ContentPattern(QStringLiteral("y?")), ContentPattern(QString::fromUtf8("M\xc3\xbcller"))};
    const ContentPattern &pattern = patterns[data[4] % 4];
    const qsizetype pieceLimit = 1 + data[4] / 4;
    const char *raw = reinterpret_cast<const char *>(data + 5);
    QByteArray stored(kFrameCheckBytes, '\0');
    const quint64 check = FrameCheck(raw, qsizetype(size - 5));
    for (int i = 0; i < kFrameCheckBytes; ++i)
        stored[i] = char(check >> (8 * i));
    stored.append(raw, qsizetype(size - 5));
    const char *frame = stored.constData();
    const qint64 frameSize = stored.size();

    QByteArray text;
    TextBytesMatcher inPieces(pattern);
    bool wanted = true;
    const auto read = [&](qint64 offset, char *buffer, qsizetype n) {
        if (offset < 0 || n < 0 || offset + n > frameSize)
            std::abort();
        std::memcpy(buffer, frame + offset, size_t(n));
        return true;
    };
    const auto visit = [&](const char *bytes, qsizetype n) {
        if (n <= 0 || text.size() + n > expected)
            std::abort();
        text.append(bytes, n);
        for (qsizetype at = 0; at < n && wanted; at += pieceLimit)
            wanted = inPieces.feed(bytes + at, std::min(pieceLimit, n - at));
        return true;
    };
    if (DecompressTextPieces(frameSize, expected, read, visit) != TextPiecesEnd::Whole)
        return 0;
    if (text.size() != expected)
        std::abort();
    TextBytesMatcher whole(pattern);
    whole.feed(text.constData(), text.size());
    if (whole.verdict() != inPieces.verdict())
        std::abort();

    const qint64 bit = qint64(recorded) % (frameSize * 8);
    stored[bit / 8] = char(stored[bit / 8] ^ (1 << (bit % 8)));
    frame = stored.constData();
    const auto ignore = [](const char *, qsizetype) { return true; };
    const auto stop = [](const char *, qsizetype) { return false; };
    // Checked first, a damaged frame hands on nothing at all.
    const auto never = [](const char *, qsizetype) -> bool { std::abort(); };
    if (DecompressTextPieces(frameSize, expected, read, ignore) != TextPiecesEnd::Damaged ||
        DecompressTextPieces(frameSize, expected, read, stop) != TextPiecesEnd::Damaged ||
        DecompressTextPieces(frameSize, expected, read, never, true) != TextPiecesEnd::Damaged)
        std::abort();
    return 0;
}
