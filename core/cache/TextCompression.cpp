#include "core/cache/TextCompression.h"

#include "core/cache/TextCompressor.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>
#include <xxhash.h>
#include <zstd.h>

namespace dv {

namespace {

// Compressed bytes read (and hashed) at a time, and text handed on at a time.
constexpr qsizetype kInputBytes = 64 * 1024;
constexpr qsizetype kOutputBytes = kTextBlockBytes;

// One decompression context per thread: making one costs more than decompressing a short
// text.
struct DecompressionContext
{
    ZSTD_DCtx *ctx = ZSTD_createDCtx();
    ~DecompressionContext() { ZSTD_freeDCtx(ctx); }
};

// And one hash state per thread for the check.
struct HashState
{
    XXH3_state_t *state = XXH3_createState();
    ~HashState() { XXH3_freeState(state); }
};

quint64 GetCheck(const char *at)
{
    quint64 check = 0;
    for (int i = 0; i < kFrameCheckBytes; ++i)
        check |= quint64(quint8(at[i])) << (8 * i);
    return check;
}

} // namespace

quint64 FrameCheck(const char *frame, qsizetype size)
{
    return XXH3_64bits(frame, size_t(size));
}

QByteArray CompressText(const QByteArray &bytes)
{
    TextCompressor compressor;
    QByteArray stored;
    qint64 textBytes = 0;
    compressor.appendUtf8(bytes.constData(), bytes.size());
    compressor.finish(stored, textBytes);
    return stored;
}

TextPiecesEnd DecompressTextPieces(qint64 storedSize, qint64 expectedSize, const FrameReader &read,
                                   const TextPieceVisitor &visit, bool checkFirst)
{
    const qint64 frameSize = storedSize - kFrameCheckBytes;
    if (expectedSize < 0 || expectedSize > kMaxCachedTextBytes || frameSize <= 0)
        return TextPiecesEnd::Damaged;
    thread_local DecompressionContext context;
    thread_local HashState hash;
    // Not zeroed: a short text touches only the pages it needs.
    thread_local const std::unique_ptr<char[]> input(new char[kInputBytes]);
    thread_local const std::unique_ptr<char[]> output(new char[kOutputBytes]);
    char checkBytes[kFrameCheckBytes];
    if (!read(0, checkBytes, kFrameCheckBytes))
        return TextPiecesEnd::Damaged;
    const quint64 check = GetCheck(checkBytes);
    ZSTD_DCtx_reset(context.ctx, ZSTD_reset_session_only);
    XXH3_64bits_reset(hash.state);
    qint64 offset = 0;
    // Reads the next block of the frame into Input, hashing it on the way.
    const auto readBlock = [&]() -> qsizetype {
        const qsizetype n = qsizetype(std::min<qint64>(qint64(kInputBytes), frameSize - offset));
        if (!read(kFrameCheckBytes + offset, input.get(), n))
            return -1;
        XXH3_64bits_update(hash.state, input.get(), size_t(n));
        offset += n;
        return n;
    };
    // Whether the frame is the one that was stored, read to its end.
    const auto checked = [&] {
        while (offset < frameSize)
            if (readBlock() < 0)
                return false;
        return XXH3_64bits_digest(hash.state) == check;
    };
    if (checkFirst) {
        if (!checked())
            return TextPiecesEnd::Damaged;
        offset = 0;
        XXH3_64bits_reset(hash.state);
    }
    qint64 produced = 0;
    ZSTD_inBuffer in{input.get(), 0, 0};
    for (;;) {
        if (in.pos == in.size && offset < frameSize) {
            const qint64 at = offset;
            const qsizetype n = readBlock();
            if (n < 0)
                return TextPiecesEnd::Damaged;
            // The frame must declare the very size recorded beside it, or none (a frame
            // compressed as the text arrived).
            if (at == 0) {
                const unsigned long long declared =
                    ZSTD_getFrameContentSize(input.get(), size_t(n));
                if (declared != ZSTD_CONTENTSIZE_UNKNOWN &&
                    declared != (unsigned long long)expectedSize)
                    return TextPiecesEnd::Damaged;
            }
            in = ZSTD_inBuffer{input.get(), size_t(n), 0};
        }
        ZSTD_outBuffer out{output.get(), size_t(kOutputBytes), 0};
        const size_t left = ZSTD_decompressStream(context.ctx, &out, &in);
        if (ZSTD_isError(left))
            return TextPiecesEnd::Damaged;
        produced += qint64(out.pos);
        if (produced > expectedSize)
            return TextPiecesEnd::Damaged;
        if (out.pos > 0 && !visit(output.get(), qsizetype(out.pos)))
            return checked() ? TextPiecesEnd::Stopped : TextPiecesEnd::Damaged;
        if (left == 0) // the frame's end: nothing may follow it
            return produced == expectedSize && in.pos == in.size && offset == frameSize && checked()
                       ? TextPiecesEnd::Whole
                       : TextPiecesEnd::Damaged;
        // All input taken and room left over, yet the frame goes on: it is cut short.
        if (in.pos == in.size && offset == frameSize && out.pos < out.size)
            return TextPiecesEnd::Damaged;
    }
}

} // namespace dv
