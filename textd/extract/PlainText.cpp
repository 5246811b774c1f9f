#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

#include <QStringDecoder>

#include <memory>
#include <uchardet/uchardet.h>

namespace dv::textd {

namespace {

constexpr qsizetype kProbeBytes = 8192;
constexpr qsizetype kCharsetProbeBytes = 64 * 1024;

struct Bom
{
    const char *bytes;
    qsizetype size;
    QStringConverter::Encoding encoding;
};

// Longest first: the UTF-32 LE mark starts with the UTF-16 LE one.
constexpr Bom kBoms[] = {
    {"\x00\x00\xFE\xFF", 4, QStringConverter::Utf32BE},
    {"\xFF\xFE\x00\x00", 4, QStringConverter::Utf32LE},
    {"\xEF\xBB\xBF", 3, QStringConverter::Utf8},
    {"\xFE\xFF", 2, QStringConverter::Utf16BE},
    {"\xFF\xFE", 2, QStringConverter::Utf16LE},
};

bool isControl(unsigned char c)
{
    // Tab, line feed, vertical tab, form feed, carriage return and escape (coloured logs) are text.
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r' &&
            c != 0x1B) ||
           c == 0x7F;
}

// UTF-16 without a mark: ASCII-heavy text has a zero in every other byte.
std::optional<QStringConverter::Encoding> guessUtf16(QByteArrayView probe)
{
    const qsizetype pairs = probe.size() / 2;
    if (pairs < 2)
        return std::nullopt;
    qsizetype evenZero = 0, oddZero = 0;
    for (qsizetype i = 0; i < pairs * 2; i += 2) {
        evenZero += probe[i] == 0;
        oddZero += probe[i + 1] == 0;
    }
    if (oddZero * 10 >= pairs * 7 && evenZero * 20 < pairs)
        return QStringConverter::Utf16LE;
    if (evenZero * 10 >= pairs * 7 && oddZero * 20 < pairs)
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

bool decodedLooksLikeText(const QString &text)
{
    qsizetype controls = 0;
    const qsizetype n = std::min<qsizetype>(text.size(), kProbeBytes);
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == 0 || (c < 0x80 && isControl(static_cast<unsigned char>(c))))
            ++controls;
    }
    return controls * 10 < std::max<qsizetype>(n, 1);
}

// Valid UTF-8, allowing one sequence cut short at the end (a truncated sample).
bool isUtf8(QByteArrayView bytes)
{
    if (bytes.isValidUtf8())
        return true;
    qsizetype lead = bytes.size();
    for (int back = 0; back < 4 && lead > 0; ++back) {
        --lead;
        if ((static_cast<unsigned char>(bytes[lead]) & 0xC0) != 0x80)
            break;
    }
    if (lead <= 0 || static_cast<unsigned char>(bytes[lead]) < 0xC0)
        return false;
    return bytes.first(lead).isValidUtf8();
}

QString decodeWith(QStringConverter::Encoding encoding, QByteArrayView bytes)
{
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

} // namespace

bool looksLikeText(const QByteArray &content)
{
    const qsizetype n = std::min(content.size(), kProbeBytes);
    if (n == 0)
        return false;
    qsizetype controls = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(content[i]);
        if (c == 0)
            return false;
        controls += isControl(c);
    }
    return controls * 10 < n;
}

QByteArray detectCharset(const QByteArray &content)
{
    std::unique_ptr<std::remove_pointer_t<uchardet_t>, decltype(&uchardet_delete)> detector(
        uchardet_new(), &uchardet_delete);
    if (!detector)
        return {};
    const qsizetype n = std::min(content.size(), kCharsetProbeBytes);
    if (uchardet_handle_data(detector.get(), content.constData(), static_cast<size_t>(n)) != 0)
        return {};
    uchardet_data_end(detector.get());
    const char *name = uchardet_get_charset(detector.get());
    return name ? QByteArray(name) : QByteArray();
}

bool decodeText(const QByteArray &content, QString &text)
{
    text.clear();
    for (const Bom &bom : kBoms) {
        if (content.startsWith(QByteArrayView(bom.bytes, bom.size))) {
            text = decodeWith(bom.encoding, QByteArrayView(content).sliced(bom.size));
            return decodedLooksLikeText(text);
        }
    }
    const QByteArrayView probe =
        QByteArrayView(content).first(std::min(content.size(), kProbeBytes));
    if (!looksLikeText(content)) {
        const auto utf16 = guessUtf16(probe);
        if (!utf16)
            return false;
        text = decodeWith(*utf16, content);
        return decodedLooksLikeText(text);
    }
    if (isUtf8(content)) {
        text = QString::fromUtf8(content);
        return true;
    }
    const QByteArray charset = detectCharset(content);
    std::optional<QStringDecoder> decoder;
    if (!charset.isEmpty() && charset != "ASCII") {
        // ISO-8859-1 guesses are nearly always Windows-1252 in practice; it is a superset.
        const QByteArray name = charset == "ISO-8859-1" ? QByteArray("windows-1252") : charset;
        decoder.emplace(name.constData(), QStringConverter::Flag::Stateless);
        if (!decoder->isValid())
            decoder.reset();
    }
    if (!decoder)
        decoder.emplace("windows-1252", QStringConverter::Flag::Stateless);
    text = decoder->decode(content);
    return true;
}

QByteArray utf16Encoding(const QByteArray &content)
{
    const auto probe = QByteArrayView(content).first(std::min(content.size(), kProbeBytes));
    switch (guessUtf16(probe).value_or(QStringConverter::Utf8)) {
    case QStringConverter::Utf16LE:
        return QByteArrayLiteral("UTF-16LE");
    case QStringConverter::Utf16BE:
        return QByteArrayLiteral("UTF-16BE");
    default:
        return {};
    }
}

void extractPlainText(const QByteArray &content, ExtractContext &context)
{
    QString text;
    if (!decodeText(content, text))
        throw ExtractError(ExtractError::Kind::Unsupported, "binary content");
    context.append(text);
}

} // namespace dv::textd
