#include "core/cache/TextCompressor.h"

#include "core/cache/TextCompression.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>
#include <xxhash.h>
#include <zstd.h>

namespace dv {

namespace {

constexpr int kLevel = 3;
// A window of 512 KiB: a reader's memory per thread stays small, at 0.5 % more bytes than
// the 2 MiB zstd takes for a text of unknown size.
constexpr int kWindowLog = 19;
// Texts compressed at once, and the memory their frames may take together: beyond either, a
// text is searched but not stored, so a search's memory stays bounded whatever the number of
// threads and the texts' lengths.
constexpr int kMaxContexts = 4;
constexpr qint64 kMaxFrameBytes = 16LL * 1024 * 1024;

// The streaming contexts, made as needed up to kMaxContexts and kept: making one costs more
// than compressing a short text.
std::mutex contextsMutex;
int contextsMade = 0;

// Frees the kept contexts when the program ends; one returned after that is freed at once.
struct IdleContexts
{
    std::vector<ZSTD_CCtx *> Contexts;
    bool Closed = false;
    ~IdleContexts()
    {
        std::lock_guard lock(contextsMutex);
        for (ZSTD_CCtx *ctx : Contexts)
            ZSTD_freeCCtx(ctx);
        Contexts.clear();
        Closed = true;
    }
};
IdleContexts idleContexts;
std::atomic<qint64> frameBytes{0};

ZSTD_CCtx *TakeContext()
{
    std::lock_guard lock(contextsMutex);
    if (!idleContexts.Contexts.empty()) {
        ZSTD_CCtx *ctx = idleContexts.Contexts.back();
        idleContexts.Contexts.pop_back();
        return ctx;
    }
    if (contextsMade == kMaxContexts)
        return nullptr;
    ZSTD_CCtx *ctx = ZSTD_createCCtx();
    if (ctx)
        ++contextsMade;
    return ctx;
}

void ReturnContext(ZSTD_CCtx *ctx)
{
    if (!ctx)
        return;
    std::lock_guard lock(contextsMutex);
    if (idleContexts.Closed)
        ZSTD_freeCCtx(ctx);
    else
        idleContexts.Contexts.push_back(ctx);
}

} // namespace

TextCompressor::TextCompressor() = default;

// The context is taken at the first piece: a compressor that waits for its text holds none.
bool TextCompressor::start()
{
    m_context = TakeContext();
    if (!m_context)
        return false;
    ZSTD_CCtx_reset(m_context, ZSTD_reset_session_and_parameters);
    ZSTD_CCtx_setParameter(m_context, ZSTD_c_compressionLevel, kLevel);
    ZSTD_CCtx_setParameter(m_context, ZSTD_c_windowLog, kWindowLog);
    m_stored = QByteArray(kFrameCheckBytes, '\0'); // the check goes here at the end
    return reserve(kFrameCheckBytes + qsizetype(ZSTD_CStreamOutSize()));
}

TextCompressor::~TextCompressor()
{
    ReturnContext(m_context);
    frameBytes -= m_reserved;
}

bool TextCompressor::reserve(qsizetype size)
{
    if (size <= m_reserved)
        return true;
    const qsizetype wanted = std::max(size, 2 * m_reserved);
    const qint64 more = wanted - m_reserved;
    if (frameBytes.fetch_add(more) + more > kMaxFrameBytes) {
        frameBytes -= more;
        return false;
    }
    m_reserved = wanted;
    m_stored.reserve(wanted);
    return true;
}

bool TextCompressor::feed(const char *bytes, qsizetype size, bool end)
{
    if (!m_context && !start())
        return false;
    // Blocks end every kTextBlockBytes of text.
    while (!end && size > kTextBlockBytes - m_sinceFlush) {
        const qsizetype n = kTextBlockBytes - m_sinceFlush;
        if (!compress(bytes, n, ZSTD_e_flush))
            return false;
        bytes += n;
        size -= n;
        m_sinceFlush = 0;
    }
    m_sinceFlush += size;
    return compress(bytes, size, end ? ZSTD_e_end : ZSTD_e_continue);
}

bool TextCompressor::compress(const char *bytes, qsizetype size, int directive)
{
    ZSTD_inBuffer in{bytes, size_t(size), 0};
    const auto mode = ZSTD_EndDirective(directive);
    const bool end = mode != ZSTD_e_continue;
    for (;;) {
        const qsizetype used = m_stored.size();
        const size_t room = ZSTD_CStreamOutSize();
        if (!reserve(used + qsizetype(room)))
            return false;
        m_stored.resize(used + qsizetype(room));
        ZSTD_outBuffer out{m_stored.data() + used, room, 0};
        const size_t left = ZSTD_compressStream2(m_context, &out, &in, mode);
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
    m_stored.squeeze();
    stored = std::move(m_stored);
    m_stored = QByteArray();
    frameBytes -= m_reserved; // the store queue has its own bound
    m_reserved = 0;
    textBytes = m_textBytes;
    m_failed = true; // finished
    return true;
}

} // namespace dv
