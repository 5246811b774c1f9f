#include "core/cache/TextCompression.h"

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

std::optional<QByteArray> DecompressText(const char *frame, qsizetype frameSize,
                                         qint64 expectedSize)
{
    QByteArray bytes;
    if (!DecompressTextInto(frame, frameSize, expectedSize, bytes))
        return std::nullopt;
    return bytes;
}

bool DecompressTextInto(const char *frame, qsizetype frameSize, qint64 expectedSize,
                        QByteArray &bytes)
{
    bytes.resize(0);
    if (expectedSize < 0 || expectedSize > kMaxCachedTextBytes || frameSize <= 0)
        return false;
    const unsigned long long declared = ZSTD_getFrameContentSize(frame, size_t(frameSize));
    if (declared != (unsigned long long)expectedSize)
        return false;
    thread_local DecompressionContext context;
    bytes.resize(qsizetype(expectedSize));
    const size_t n = ZSTD_decompressDCtx(context.ctx, bytes.data(), size_t(bytes.size()), frame,
                                         size_t(frameSize));
    if (ZSTD_isError(n) || n != size_t(expectedSize)) {
        bytes.resize(0);
        return false;
    }
    return true;
}

} // namespace dv
