#include "textd/extract/ExtractContext.h"

#include "textd/extract/ExtractError.h"

#include <QString>

#include <algorithm>
#include <bit>
#include <cstring>

namespace dv::textd {

namespace {

// Characters, not bytes: every byte that does not continue a UTF-8 sequence (10xxxxxx) counts;
// eight at a time, as all text passes here.
qint64 utf8Characters(const char *data, qsizetype size)
{
    constexpr quint64 HighBits = 0x8080808080808080ull;
    qint64 continuing = 0;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, sizeof word);
        if (word & HighBits) // bit 7 set and bit 6 clear
            continuing += std::popcount(word & ~(word << 1) & HighBits);
    }
    for (; i < size; ++i)
        continuing += (static_cast<unsigned char>(data[i]) & 0xC0) == 0x80;
    return size - continuing;
}

} // namespace

ExtractContext::ExtractContext(const ExtractLimits &limits, qint64 inputBytes)
    : m_limits(limits), m_inputBytes(std::max<qint64>(inputBytes, 1))
{}

void ExtractContext::flushPending()
{
    if (m_pending == 0)
        return;
    const int pending = m_pending;
    m_pending = 0;
    if (m_chars == 0)
        return;
    switch (pending) {
    case 1:
        if (!endsWith(" ") && !endsWith("\n") && !endsWith("\t"))
            countAndCheck(" ", 1);
        break;
    case 2:
        countAndCheck("\t", 1);
        break;
    case 3:
        if (!endsWith("\n"))
            countAndCheck("\n", 1);
        break;
    default:
        if (endsWith("\n\n"))
            break;
        if (endsWith("\n"))
            countAndCheck("\n", 1);
        else
            countAndCheck("\n\n", 2);
        break;
    }
}

void ExtractContext::countAndCheck(const char *data, qsizetype size)
{
    m_chars += utf8Characters(data, size);
    if (m_chars > m_limits.maxOutputChars && m_chars > m_limits.maxCompressionRatio * m_inputBytes)
        throw ExtractError(ExtractError::Kind::Limit,
                           "output exceeds the allowed ratio to the input (possible bomb)");
    // QByteArray::append goes through its general insert; a cell or a separator at a time that
    // cost more than the bytes.
    const qsizetype at = m_text.size();
    if (m_text.capacity() - at < size)
        m_text.reserve(std::max(2 * m_text.capacity(), at + size));
    m_text.resize(at + size);
    std::memcpy(m_text.data() + at, data, size_t(size));
    if (size >= 2) {
        m_last[0] = data[size - 2];
        m_last[1] = data[size - 1];
    } else if (size == 1) {
        m_last[0] = m_last[1];
        m_last[1] = data[0];
    }
    if (!m_sink)
        return;
    // The first piece fixes the outcome as success for the client, so it waits long enough
    // for most failures (a bomb, a broken archive) to show; later pieces only keep data
    // flowing, well within the client's 30 s without data. By time only: a bomb is found by
    // its size, which must not be handed on before it is known.
    const auto now = std::chrono::steady_clock::now();
    const auto wait = m_handedOver ? std::chrono::seconds(2) : std::chrono::seconds(10);
    if (now - m_lastHandOver >= wait) {
        m_lastHandOver = now;
        m_handedOver = true;
        m_sink(std::exchange(m_text, {}));
    }
}

bool ExtractContext::endsWith(const char *tail) const
{
    const size_t n = std::strlen(tail);
    return n == 1 ? m_last[1] == tail[0] : m_last[0] == tail[0] && m_last[1] == tail[1];
}

void ExtractContext::appendUtf8(const char *data, qsizetype size)
{
    if (size <= 0)
        return;
    flushPending();
    // Parsers pass on what broken input gives them; the output stays UTF-8 whatever happens.
    if (!QByteArrayView(data, size).isValidUtf8()) {
        const QByteArray repaired = QString::fromUtf8(data, size).toUtf8();
        countAndCheck(repaired.constData(), repaired.size());
        return;
    }
    countAndCheck(data, size);
}

void ExtractContext::append(QStringView text)
{
    if (text.isEmpty())
        return;
    flushPending();
    // The encoder writes valid UTF-8 whatever the text holds (a lone surrogate becomes U+FFFD).
    // A long text's buffer is not kept.
    const qsizetype room = m_encoder.requiredSpace(text.size());
    QByteArray once;
    QByteArray &buffer = room <= 64 * 1024 ? m_encoded : once;
    if (buffer.size() < room)
        buffer.resize(room);
    const char *end = m_encoder.appendToBuffer(buffer.data(), text);
    countAndCheck(buffer.constData(), end - buffer.constData());
}

void ExtractContext::appendCollapsed(const char *data, qsizetype size)
{
    qsizetype i = 0;
    while (i < size) {
        const auto isSpace = [](char c) {
            return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
        };
        if (isSpace(data[i])) {
            while (i < size && isSpace(data[i]))
                ++i;
            space();
            continue;
        }
        qsizetype end = i;
        while (end < size && !isSpace(data[end]))
            ++end;
        appendUtf8(data + i, end - i);
        i = end;
    }
}

void ExtractContext::space()
{
    m_pending = std::max(m_pending, 1);
}

void ExtractContext::tab()
{
    // Between table cells a tab replaces the line break that ended the cell's last paragraph.
    if (m_pending != 4)
        m_pending = 2;
}

void ExtractContext::lineBreak()
{
    m_pending = std::max(m_pending, 3);
}

void ExtractContext::paragraphBreak()
{
    m_pending = 4;
}

void ExtractContext::chargeInflated(qint64 bytes)
{
    m_inflated += bytes;
    if (m_inflated > m_limits.maxDecompressedBytes)
        throw ExtractError(ExtractError::Kind::Limit, "too many bytes decompressed");
}

void ExtractContext::enterEmbedded()
{
    ++m_embeddingDepth;
}

QByteArray ExtractContext::takeText()
{
    m_pending = 0;
    return std::exchange(m_text, {});
}

} // namespace dv::textd
