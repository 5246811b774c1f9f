#include "core/cache/TextCompressor.h"

#include "core/cache/TextCompression.h"

#include <QString>

#include <xxhash.h>
#include <zstd.h>

namespace dv {

namespace {

constexpr int kLevel = 3;

// One streaming context per thread, taken by one compressor at a time: making one costs more
// than compressing a short text. A second compressor on the same thread makes its own.
struct ThreadContext
{
    ZSTD_CCtx *ctx = ZSTD_createCCtx();
    bool taken = false;
    ~ThreadContext() { ZSTD_freeCCtx(ctx); }
};

} // namespace

struct TextCompressor::Context
{
    ZSTD_CCtx *ctx = nullptr;
    ThreadContext *shared = nullptr;
};

TextCompressor::TextCompressor() : m_context(new Context)
{
    thread_local ThreadContext thread;
    if (!thread.taken && thread.ctx) {
        thread.taken = true;
        m_context->shared = &thread;
        m_context->ctx = thread.ctx;
    } else {
        m_context->ctx = ZSTD_createCCtx();
    }
    m_failed = !m_context->ctx;
    if (!m_failed) {
        ZSTD_CCtx_reset(m_context->ctx, ZSTD_reset_session_and_parameters);
        ZSTD_CCtx_setParameter(m_context->ctx, ZSTD_c_compressionLevel, kLevel);
    }
    m_stored = QByteArray(kFrameCheckBytes, '\0'); // the check goes here at the end
}

TextCompressor::~TextCompressor()
{
    if (m_context->shared)
        m_context->shared->taken = false;
    else
        ZSTD_freeCCtx(m_context->ctx);
    delete m_context;
}

bool TextCompressor::feed(const char *bytes, qsizetype size, bool end)
{
    ZSTD_inBuffer in{bytes, size_t(size), 0};
    const ZSTD_EndDirective mode = end ? ZSTD_e_end : ZSTD_e_continue;
    for (;;) {
        const qsizetype used = m_stored.size();
        const size_t room = ZSTD_CStreamOutSize();
        m_stored.resize(used + qsizetype(room));
        ZSTD_outBuffer out{m_stored.data() + used, room, 0};
        const size_t left = ZSTD_compressStream2(m_context->ctx, &out, &in, mode);
        m_stored.resize(used + qsizetype(out.pos));
        if (ZSTD_isError(left))
            return false;
        if (end ? left == 0 : in.pos == in.size)
            return true;
    }
}

bool TextCompressor::append(QStringView piece)
{
    if (m_failed || piece.isEmpty())
        return !m_failed;
    try {
        QString joined;
        if (m_pending) {
            joined.reserve(piece.size() + 1);
            joined.append(QChar(m_pending)).append(piece);
            piece = joined;
            m_pending = 0;
        }
        if (piece.back().isHighSurrogate()) {
            m_pending = piece.back().unicode();
            piece.chop(1);
        }
        if (!piece.isValidUtf16()) {
            m_failed = true;
            return false;
        }
        m_utf8 = piece.toUtf8();
        appendUtf8(m_utf8.constData(), m_utf8.size());
        m_utf8.resize(0);
    } catch (const std::exception &) { // no memory
        m_failed = true;
    }
    return !m_failed;
}

bool TextCompressor::appendUtf8(const char *bytes, qsizetype size)
{
    if (m_failed)
        return false;
    try {
        m_textBytes += size;
        if (m_textBytes > kMaxCachedTextBytes || !feed(bytes, size, false))
            m_failed = true;
    } catch (const std::exception &) { // no memory
        m_failed = true;
    }
    return !m_failed;
}

bool TextCompressor::finish(QByteArray &stored, qint64 &textBytes)
{
    stored.clear();
    textBytes = 0;
    try {
        if (m_failed || m_pending || !feed(nullptr, 0, true))
            return false;
    } catch (const std::exception &) {
        return false;
    }
    const quint64 check =
        FrameCheck(m_stored.constData() + kFrameCheckBytes, m_stored.size() - kFrameCheckBytes);
    for (int i = 0; i < kFrameCheckBytes; ++i)
        m_stored[i] = char(check >> (8 * i));
    stored = std::move(m_stored);
    m_stored = QByteArray();
    textBytes = m_textBytes;
    m_failed = true; // finished
    return true;
}

} // namespace dv
