// Excel 97-2003 workbooks (BIFF8) and Excel 5/95 ones (BIFF5): every sheet's cells as they
// show, headers and footers, comments and text boxes.
#include "textd/extract/ByteReader.h"
#include "textd/extract/CellFormats.h"
#include "textd/extract/CompoundFile.h"
#include "textd/extract/ExcelHeaderFooter.h"
#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

#include <QStringDecoder>

#include <vector>

namespace dv::textd {

namespace {

enum RecordType : quint16
{
    Formula = 0x0006,
    Eof = 0x000A,
    Header = 0x0014,
    Footer = 0x0015,
    Note = 0x001C,
    DateMode = 0x0022,
    FilePass = 0x002F,
    Continue = 0x003C,
    CodePage = 0x0042,
    BoundSheet = 0x0085,
    MulRk = 0x00BD,
    RString = 0x00D6,
    Xf = 0x00E0,
    Sst = 0x00FC,
    LabelSst = 0x00FD,
    Txo = 0x01B6,
    Number = 0x0203,
    Label = 0x0204,
    BoolErr = 0x0205,
    String = 0x0207,
    Rk = 0x027E,
    Format = 0x041E,
    Bof = 0x0809
};

struct Record
{
    quint16 type = 0;
    QByteArrayView data;
};

// The records of the workbook stream from an offset on; a record whose length runs past the
// end ends the walk, keeping what came before.
class RecordCursor
{
public:
    RecordCursor(QByteArrayView stream, qsizetype offset) : m_stream(stream), m_pos(offset) {}

    bool next(Record &record)
    {
        if (m_pos < 0 || m_pos + 4 > m_stream.size())
            return false;
        const ByteReader header(m_stream.sliced(m_pos, 4));
        const quint16 length = header.u16(2);
        if (m_pos + 4 + length > m_stream.size())
            return false;
        record.type = header.u16(0);
        record.data = m_stream.sliced(m_pos + 4, length);
        m_pos += 4 + length;
        return true;
    }
    // The type of the next record without moving.
    quint16 peekType() const
    {
        if (m_pos < 0 || m_pos + 4 > m_stream.size())
            return 0;
        return ByteReader(m_stream.sliced(m_pos, 2)).u16(0);
    }

private:
    QByteArrayView m_stream;
    qsizetype m_pos;
};

// A record and its CONTINUE records read as one: Excel splits long strings between them, and
// each piece of a string's characters starts with its own flags byte.
class ContinuedReader
{
public:
    explicit ContinuedReader(std::vector<QByteArrayView> segments) : m_segments(std::move(segments))
    {}

    bool atEnd()
    {
        skipEmpty();
        return m_segment >= m_segments.size();
    }
    quint8 u8()
    {
        skipEmpty();
        if (m_segment >= m_segments.size())
            throw ExtractError(ExtractError::Kind::Corrupt, "Excel string runs past its record");
        return quint8(m_segments[m_segment][m_pos++]);
    }
    quint16 u16() { return quint16(u8() | u8() << 8); }
    quint32 u32() { return quint32(u16()) | quint32(u16()) << 16; }
    void skip(qint64 bytes)
    {
        while (bytes > 0) {
            skipEmpty();
            if (m_segment >= m_segments.size())
                return;
            const qint64 step = std::min<qint64>(bytes, m_segments[m_segment].size() - m_pos);
            m_pos += step;
            bytes -= step;
        }
    }
    // chars characters, 16-bit or 8-bit by the flags; a new record restates the flags.
    QString chars(qint64 count, bool wide, const QStringDecoder *narrow)
    {
        QString text;
        while (count > 0) {
            if (m_segment < m_segments.size() && m_pos >= m_segments[m_segment].size()) {
                ++m_segment;
                m_pos = 0;
                if (m_segment >= m_segments.size())
                    break;
                wide = u8() & 1;
            }
            if (m_segment >= m_segments.size())
                break;
            const QByteArrayView segment = m_segments[m_segment];
            const qint64 available = (segment.size() - m_pos) / (wide ? 2 : 1);
            const qint64 take = std::min(count, available);
            if (take <= 0) {
                m_pos = segment.size();
                continue;
            }
            const ByteReader reader(segment);
            if (wide)
                text += reader.utf16(m_pos, take);
            else if (narrow)
                text += decodeNarrow(reader.view(m_pos, take), narrow);
            else
                text += reader.latin1(m_pos, take);
            m_pos += take * (wide ? 2 : 1);
            count -= take;
        }
        return text;
    }

    static QString decodeNarrow(QByteArrayView bytes, const QStringDecoder *narrow)
    {
        QStringDecoder decoder(narrow->name(), QStringConverter::Flag::Stateless);
        return decoder.decode(bytes);
    }

private:
    void skipEmpty()
    {
        while (m_segment < m_segments.size() && m_pos >= m_segments[m_segment].size()) {
            ++m_segment;
            m_pos = 0;
        }
    }

    std::vector<QByteArrayView> m_segments;
    size_t m_segment = 0;
    qsizetype m_pos = 0;
};

QString errorText(quint8 code)
{
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    default:
        return QStringLiteral("#N/A");
    }
}

double rkValue(quint32 rk)
{
    double value;
    if (rk & 2) {
        value = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return rk & 1 ? value / 100 : value;
}

class Workbook
{
public:
    Workbook(QByteArrayView stream, ExtractContext &context) : m_stream(stream), m_context(context)
    {}

    void run()
    {
        RecordCursor cursor(m_stream, 0);
        Record record;
        if (!cursor.next(record) || record.type != Bof || record.data.size() < 4)
            throw ExtractError(ExtractError::Kind::Corrupt, "not an Excel workbook");
        const quint16 version = ByteReader(record.data).u16(0);
        m_biff8 = version >= 0x0600;
        if (!m_biff8)
            m_narrow.emplace("windows-1252", QStringConverter::Flag::Stateless);
        readGlobals(cursor);
        for (const Sheet &sheet : m_sheets) {
            m_context.paragraphBreak();
            m_context.append(sheet.name);
            m_context.lineBreak();
            readSheet(sheet);
        }
    }

private:
    struct Sheet
    {
        quint32 offset;
        QString name;
    };

    std::vector<QByteArrayView> continued(Record first, RecordCursor &cursor)
    {
        std::vector<QByteArrayView> segments{first.data};
        while (cursor.peekType() == Continue) {
            Record next;
            if (!cursor.next(next))
                break;
            segments.push_back(next.data);
        }
        return segments;
    }

    // An 8-bit length (sheet names) or 16-bit length string with its flags (BIFF8).
    QString readString(ContinuedReader &reader, bool shortLength)
    {
        const quint16 count = shortLength ? reader.u8() : reader.u16();
        if (!m_biff8)
            return reader.chars(count, false, narrow());
        const quint8 flags = reader.u8();
        int runs = 0;
        quint32 ext = 0;
        if (flags & 0x08)
            runs = reader.u16();
        if (flags & 0x04)
            ext = reader.u32();
        QString text = reader.chars(count, flags & 1, nullptr);
        reader.skip(qint64(runs) * 4 + ext);
        return text;
    }
    QString readString(QByteArrayView data, qsizetype offset, bool shortLength)
    {
        if (offset > data.size())
            return {};
        ContinuedReader reader({data.sliced(offset)});
        return readString(reader, shortLength);
    }

    const QStringDecoder *narrow() const { return m_narrow ? &*m_narrow : nullptr; }

    void readSharedStrings(ContinuedReader reader)
    {
        reader.u32();
        const quint32 unique = reader.u32();
        for (quint32 i = 0; i < unique && !reader.atEnd(); ++i) {
            m_strings.push_back(readString(reader, false));
            m_stringChars += m_strings.back().size();
            // Strings are what the sheets show; a table that claims far more than the file
            // holds is a bomb.
            if (m_stringChars > m_context.limits().maxOutputChars +
                                    m_context.limits().maxCompressionRatio * m_stream.size())
                throw ExtractError(ExtractError::Kind::Limit, "Excel string table too large");
        }
    }

    void readGlobals(RecordCursor &cursor)
    {
        Record record;
        while (cursor.next(record)) {
            const ByteReader data(record.data);
            switch (record.type) {
            case Eof:
                return;
            case FilePass:
                throw ExtractError(ExtractError::Kind::Corrupt, "the Excel workbook is encrypted");
            case CodePage: {
                const quint16 page = data.u16(0);
                if (!m_biff8 && page != 1200 && page != 1252 && page != 367) {
                    const QByteArray name = codecNameForCodepage(page);
                    QStringDecoder decoder(name.constData(), QStringConverter::Flag::Stateless);
                    if (decoder.isValid())
                        m_narrow.emplace(name.constData(), QStringConverter::Flag::Stateless);
                }
                break;
            }
            case DateMode:
                m_formats.setDate1904(data.u16(0) == 1);
                break;
            case Format:
                m_formats.addFormat(data.u16(0), readString(record.data, 2, !m_biff8));
                break;
            case Xf:
                m_formats.addStyle(data.u16(2));
                break;
            case BoundSheet: {
                const quint8 kind = data.u8(5);
                if (kind == 0) // worksheets; charts, macro sheets and modules hold no cells
                    m_sheets.push_back({data.u32(0), readString(record.data, 6, true)});
                break;
            }
            case Sst:
                readSharedStrings(ContinuedReader(continued(record, cursor)));
                break;
            default:
                break;
            }
        }
    }

    void cell(quint16 row, const QString &text)
    {
        if (text.isEmpty())
            return;
        if (m_row >= 0 && row != m_row)
            m_context.lineBreak();
        else if (m_row >= 0)
            m_context.tab();
        m_row = row;
        m_context.append(text);
    }

    void number(const ByteReader &data, double value)
    {
        cell(data.u16(0), m_formats.display(data.u16(4), value));
    }

    void readSheet(const Sheet &sheet)
    {
        RecordCursor cursor(m_stream, sheet.offset);
        Record record;
        if (!cursor.next(record) || record.type != Bof)
            return; // a sheet that is not where the workbook says: the others still count
        m_row = -1;
        QString header, footer;
        QStringList notes;
        int nested = 0;
        qint64 pendingStringRow = -1;
        while (cursor.next(record)) {
            const ByteReader data(record.data);
            if (record.type == Bof) {
                ++nested; // an embedded chart
                continue;
            }
            if (record.type == Eof) {
                if (nested-- == 0)
                    break;
                continue;
            }
            if (nested > 0)
                continue;
            switch (record.type) {
            case LabelSst: {
                const quint32 index = data.u32(6);
                if (index < m_strings.size())
                    cell(data.u16(0), m_strings[index]);
                break;
            }
            case Label:
            case RString:
                cell(data.u16(0), readString(record.data, 6, false));
                break;
            case Number:
                number(data, data.f64(6));
                break;
            case Rk:
                number(data, rkValue(data.u32(6)));
                break;
            case MulRk: {
                const quint16 row = data.u16(0);
                for (qsizetype at = 4; at + 6 <= data.size() - 2; at += 6)
                    cell(row, m_formats.display(data.u16(at), rkValue(data.u32(at + 2))));
                break;
            }
            case BoolErr:
                cell(data.u16(0), data.u8(7) ? errorText(data.u8(6))
                                             : QString::fromLatin1(data.u8(6) ? "TRUE" : "FALSE"));
                break;
            case Formula:
                if (data.u16(12) != 0xFFFF) {
                    number(data, data.f64(6));
                } else if (data.u8(6) == 0) {
                    pendingStringRow = data.u16(0); // the text comes in a STRING record
                } else if (data.u8(6) == 1) {
                    cell(data.u16(0), QString::fromLatin1(data.u8(8) ? "TRUE" : "FALSE"));
                } else if (data.u8(6) == 2) {
                    cell(data.u16(0), errorText(data.u8(8)));
                }
                break;
            case String:
                if (pendingStringRow >= 0) {
                    ContinuedReader reader(continued(record, cursor));
                    cell(quint16(pendingStringRow), readString(reader, false));
                    pendingStringRow = -1;
                }
                break;
            case Header:
            case Footer:
                if (!record.data.isEmpty()) {
                    const QString text =
                        excelHeaderFooterText(readString(record.data, 0, !m_biff8), sheet.name);
                    (record.type == Header ? header : footer) = text;
                }
                break;
            case Note:
                // Excel 5 keeps a comment's text in the note itself; later ones in a text object.
                if (!m_biff8 && data.u16(0) != 0xFFFF && data.size() > 6)
                    notes.append(ContinuedReader::decodeNarrow(
                        data.view(6, std::min<qsizetype>(data.u16(4), data.size() - 6)), narrow()));
                break;
            case Txo:
                if (m_biff8 && data.size() >= 12) {
                    const quint16 count = data.u16(10);
                    std::vector<QByteArrayView> segments;
                    Record part;
                    if (count > 0 && cursor.peekType() == Continue && cursor.next(part) &&
                        !part.data.isEmpty()) {
                        ContinuedReader reader({part.data.sliced(1)});
                        notes.append(reader.chars(count, part.data[0] & 1, nullptr));
                    }
                }
                break;
            default:
                break;
            }
        }
        if (!header.isEmpty()) {
            m_context.paragraphBreak();
            m_context.append(header);
        }
        for (const QString &note : notes) {
            m_context.paragraphBreak();
            m_context.append(note);
        }
        if (!footer.isEmpty()) {
            m_context.paragraphBreak();
            m_context.append(footer);
        }
    }

    QByteArrayView m_stream;
    ExtractContext &m_context;
    bool m_biff8 = true;
    std::optional<QStringDecoder> m_narrow;
    CellFormats m_formats;
    std::vector<QString> m_strings;
    qint64 m_stringChars = 0;
    std::vector<Sheet> m_sheets;
    qint64 m_row = -1;
};

} // namespace

void extractWorkbookStream(const QByteArray &stream, ExtractContext &context)
{
    Workbook(stream, context).run();
}

void extractXls(const CompoundFile &file, ExtractContext &context)
{
    QByteArray stream;
    if (!file.read(QStringLiteral("Workbook"), stream))
        file.read(QStringLiteral("Book"), stream);
    extractWorkbookStream(stream, context);
}

} // namespace dv::textd
