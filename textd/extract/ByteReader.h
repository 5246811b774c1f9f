#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <cstring>

namespace dv::textd {

// Little-endian fields of a binary record format, read with bounds checks: a field past the
// end is a damaged document (a Corrupt error), never a read outside the buffer.
class ByteReader
{
public:
    explicit ByteReader(QByteArrayView bytes) : m_bytes(bytes) {}

    qsizetype size() const { return m_bytes.size(); }
    bool has(qsizetype offset, qsizetype length) const
    {
        return offset >= 0 && length >= 0 && offset <= m_bytes.size() &&
               length <= m_bytes.size() - offset;
    }
    QByteArrayView view(qsizetype offset, qsizetype length) const
    {
        check(offset, length);
        return m_bytes.sliced(offset, length);
    }

    quint8 u8(qsizetype offset) const
    {
        check(offset, 1);
        return quint8(m_bytes[offset]);
    }
    quint16 u16(qsizetype offset) const
    {
        check(offset, 2);
        return quint16(quint8(m_bytes[offset]) | quint8(m_bytes[offset + 1]) << 8);
    }
    quint32 u32(qsizetype offset) const
    {
        return quint32(u16(offset)) | quint32(u16(offset + 2)) << 16;
    }
    qint32 i32(qsizetype offset) const { return qint32(u32(offset)); }
    double f64(qsizetype offset) const
    {
        const quint64 bits = quint64(u32(offset)) | quint64(u32(offset + 4)) << 32;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // UTF-16LE code units.
    QString utf16(qsizetype offset, qsizetype chars) const
    {
        const QByteArrayView bytes = view(offset, chars * 2);
        QString text(chars, Qt::Uninitialized);
        char16_t *out = reinterpret_cast<char16_t *>(text.data());
        for (qsizetype i = 0; i < chars; ++i)
            out[i] = char16_t(quint8(bytes[2 * i]) | quint8(bytes[2 * i + 1]) << 8);
        return text;
    }
    // Unicode with the high bytes left out, as the Office formats store Latin-1 text.
    QString latin1(qsizetype offset, qsizetype chars) const
    {
        const QByteArrayView bytes = view(offset, chars);
        return QString::fromLatin1(bytes.data(), chars);
    }
    // Word's 8-bit text: Windows-1252, whose 0x80-0x9F differ from Latin-1.
    static char16_t windows1252(quint8 byte)
    {
        static const char16_t high[32] = {
            0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
        return byte >= 0x80 && byte < 0xA0 ? high[byte - 0x80] : char16_t(byte);
    }

private:
    void check(qsizetype offset, qsizetype length) const;

    QByteArrayView m_bytes;
};

} // namespace dv::textd
