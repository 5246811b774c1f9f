#pragma once

#include "textd/extract/Extract.h"

#include <QByteArray>
#include <QStringEncoder>
#include <QStringView>

#include <chrono>
#include <functional>

namespace dv::textd {

// Collects the text of one document and enforces its limits: output size against input size,
// bytes inflated from archives, and how deep documents nest inside documents.
class ExtractContext
{
public:
    ExtractContext(const ExtractLimits &limits, qint64 inputBytes);

    const ExtractLimits &limits() const { return m_limits; }

    // Appends text that is already UTF-8; pending breaks are written first.
    void appendUtf8(const char *data, qsizetype size);
    void appendUtf8(const QByteArray &text) { appendUtf8(text.constData(), text.size()); }
    void append(QStringView text);
    // Appends markup text: runs of white space become one space.
    void appendCollapsed(const char *data, qsizetype size);

    // Separators are only written when more text follows, so none lead or trail.
    void space();
    void tab();
    void lineBreak();
    void paragraphBreak();

    // Counts bytes inflated from an archive; throws when the budget is spent.
    void chargeInflated(qint64 bytes);
    qint64 inflatedBytes() const { return m_inflated; }

    // Documents embedded in documents: depth 0 is the one sent to us.
    int embeddingDepth() const { return m_embeddingDepth; }
    void enterEmbedded();
    void leaveEmbedded() { --m_embeddingDepth; }

    qint64 outputChars() const { return m_chars; }
    // The text not yet handed to the sink.
    QByteArray takeText();

    // Hands the text on as it grows (after 10 s, then every 2 s), so a long document keeps
    // data flowing; takeText() then gives the rest.
    using Sink = std::function<void(const QByteArray &)>;
    void setSink(Sink sink) { m_sink = std::move(sink); }

private:
    void flushPending();
    void countAndCheck(const char *data, qsizetype size);
    bool endsWith(const char *tail) const;

    ExtractLimits m_limits;
    qint64 m_inputBytes;
    QByteArray m_text;
    // append()'s UTF-8, kept between calls so a cell or a run of text costs no allocation.
    QStringEncoder m_encoder{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    QByteArray m_encoded;
    // The last bytes written, also when m_text went to the sink.
    char m_last[2] = {0, 0};
    Sink m_sink;
    bool m_handedOver = false;
    std::chrono::steady_clock::time_point m_lastHandOver = std::chrono::steady_clock::now();
    qint64 m_chars = 0;
    qint64 m_inflated = 0;
    int m_embeddingDepth = 0;
    // 0 none, 1 space, 2 tab, 3 line break, 4 blank line; the strongest wins.
    int m_pending = 0;
};

// Keeps the embedding depth balanced when an embedded extraction throws.
class EmbeddedScope
{
public:
    explicit EmbeddedScope(ExtractContext &context) : m_context(context)
    {
        m_context.enterEmbedded();
    }
    ~EmbeddedScope() { m_context.leaveEmbedded(); }
    EmbeddedScope(const EmbeddedScope &) = delete;
    EmbeddedScope &operator=(const EmbeddedScope &) = delete;

private:
    ExtractContext &m_context;
};

} // namespace dv::textd
