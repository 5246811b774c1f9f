#include "core/cache/TextCompression.h"

#include <algorithm>
#include <vector>
#include <zstd.h>

namespace dv {

namespace {

constexpr int kLevel = 3;

// One compression context per thread: making one costs more than compressing a short text.
struct CompressionContext
{
    ZSTD_CCtx *ctx = ZSTD_createCCtx();
    ~CompressionContext() { ZSTD_freeCCtx(ctx); }
};

// And one decompression context per thread, for the same reason.
struct DecompressionContext
{
    ZSTD_DCtx *ctx = ZSTD_createDCtx();
    ~DecompressionContext() { ZSTD_freeDCtx(ctx); }
};

} // namespace

QByteArray CompressText(const QByteArray &bytes)
{
    thread_local CompressionContext context;
    QByteArray frame(qsizetype(ZSTD_compressBound(size_t(bytes.size()))), Qt::Uninitialized);
    const size_t n = ZSTD_compressCCtx(context.ctx, frame.data(), size_t(frame.size()),
                                       bytes.constData(), size_t(bytes.size()), kLevel);
    if (ZSTD_isError(n))
        return QByteArray();
    frame.truncate(qsizetype(n));
    return frame;
}

TextPiecesEnd DecompressTextPieces(qint64 frameSize, qint64 expectedSize, const FrameReader &read,
                                   const TextPieceVisitor &visit)
{
    if (expectedSize < 0 || expectedSize > kMaxCachedTextBytes || frameSize <= 0)
        return TextPiecesEnd::Damaged;
    thread_local DecompressionContext context;
    thread_local std::vector<char> input(ZSTD_DStreamInSize());
    thread_local std::vector<char> output(ZSTD_DStreamOutSize());
    ZSTD_DCtx_reset(context.ctx, ZSTD_reset_session_only);
    qint64 offset = 0;
    qint64 produced = 0;
    ZSTD_inBuffer in{input.data(), 0, 0};
    for (;;) {
        if (in.pos == in.size && offset < frameSize) {
            const qsizetype n =
                qsizetype(std::min<qint64>(qint64(input.size()), frameSize - offset));
            if (!read(offset, input.data(), n))
                return TextPiecesEnd::Damaged;
            // The frame must declare the very size recorded beside it.
            if (offset == 0 && ZSTD_getFrameContentSize(input.data(), size_t(n)) !=
                                   (unsigned long long)expectedSize)
                return TextPiecesEnd::Damaged;
            in = ZSTD_inBuffer{input.data(), size_t(n), 0};
            offset += n;
        }
        ZSTD_outBuffer out{output.data(), output.size(), 0};
        const size_t left = ZSTD_decompressStream(context.ctx, &out, &in);
        if (ZSTD_isError(left))
            return TextPiecesEnd::Damaged;
        produced += qint64(out.pos);
        if (produced > expectedSize)
            return TextPiecesEnd::Damaged;
        if (out.pos > 0 && !visit(output.data(), qsizetype(out.pos)))
            return TextPiecesEnd::Stopped;
        if (left == 0) // the frame's end: nothing may follow it
            return produced == expectedSize && in.pos == in.size && offset == frameSize
                       ? TextPiecesEnd::Whole
                       : TextPiecesEnd::Damaged;
        // All input taken and room left over, yet the frame goes on: it is cut short.
        if (in.pos == in.size && offset == frameSize && out.pos < out.size)
            return TextPiecesEnd::Damaged;
    }
}

} // namespace dv
