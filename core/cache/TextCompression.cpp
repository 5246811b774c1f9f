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
    if (expectedSize < 0 || expectedSize > kMaxCachedTextBytes || frameSize <= 0)
        return std::nullopt;
    const unsigned long long declared = ZSTD_getFrameContentSize(frame, size_t(frameSize));
    if (declared != (unsigned long long)expectedSize)
        return std::nullopt;
    QByteArray bytes(qsizetype(expectedSize), Qt::Uninitialized);
    const size_t n = ZSTD_decompress(bytes.data(), size_t(bytes.size()), frame, size_t(frameSize));
    if (ZSTD_isError(n) || n != size_t(expectedSize))
        return std::nullopt;
    return bytes;
}

} // namespace dv
