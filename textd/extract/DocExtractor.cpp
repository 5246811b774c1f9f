// Word 97-2003 documents: the text of every story through the piece table.
#include "textd/extract/ByteReader.h"
#include "textd/extract/CompoundFile.h"
#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

#include <QSet>

#include <vector>

namespace dv::textd {

namespace {

struct Piece
{
    qint64 cpStart;
    qint64 cpEnd;
    qint64 offset; // in the WordDocument stream
    bool compressed;
};

// The stories in the order the character positions lay them out.
enum Story
{
    MainText,
    Footnotes,
    Headers,
    Macros,
    Comments,
    Endnotes,
    TextBoxes,
    HeaderTextBoxes,
    StoryCount
};

std::vector<Piece> readPieces(const ByteReader &table, quint32 fcClx, quint32 lcbClx)
{
    if (!table.has(fcClx, lcbClx))
        throw ExtractError(ExtractError::Kind::Corrupt, "Word piece table outside its stream");
    qsizetype pos = fcClx;
    const qsizetype end = qsizetype(fcClx) + lcbClx;
    while (pos < end) {
        const quint8 type = table.u8(pos);
        if (type == 1) { // property modifiers of fast-saved files: not text
            pos += 3 + table.u16(pos + 1);
            continue;
        }
        if (type != 2)
            break;
        const quint32 lcb = table.u32(pos + 1);
        const qsizetype plc = pos + 5;
        if (lcb < 4 || !table.has(plc, lcb) || plc + qsizetype(lcb) > end)
            break;
        const qsizetype count = (qsizetype(lcb) - 4) / 12;
        std::vector<Piece> pieces;
        pieces.reserve(size_t(count));
        for (qsizetype i = 0; i < count; ++i) {
            const quint32 cpStart = table.u32(plc + 4 * i);
            const quint32 cpEnd = table.u32(plc + 4 * (i + 1));
            const quint32 fc = table.u32(plc + 4 * (count + 1) + 8 * i + 2);
            const bool compressed = fc & 0x40000000u;
            const quint32 offset = fc & 0x3FFFFFFFu;
            if (cpEnd <= cpStart)
                continue;
            pieces.push_back({cpStart, cpEnd, compressed ? offset / 2 : offset, compressed});
        }
        return pieces;
    }
    throw ExtractError(ExtractError::Kind::Corrupt, "Word document without a piece table");
}

// The characters from cpFrom to cpTo, from whichever pieces hold them, handed to `take` a
// block at a time: a story of a large document is never held whole.
// Pieces may all point at the same bytes: the budget keeps a small file from claiming gigabytes.
template <typename Take>
void readCharacters(const ByteReader &word, const std::vector<Piece> &pieces, qint64 cpFrom,
                    qint64 cpTo, qint64 &budget, Take take)
{
    constexpr qint64 Block = 4096;
    char16_t block[Block];
    for (const Piece &piece : pieces) {
        const qint64 from = std::max(cpFrom, piece.cpStart);
        const qint64 to = std::min(cpTo, piece.cpEnd);
        if (from >= to)
            continue;
        const qint64 skip = from - piece.cpStart;
        const qint64 count = to - from;
        budget -= count;
        if (budget < 0)
            throw ExtractError(ExtractError::Kind::Limit,
                               "Word pieces claim far more text than the file holds");
        const QByteArrayView bytes = piece.compressed
                                         ? word.view(piece.offset + skip, count)
                                         : word.view(piece.offset + 2 * skip, 2 * count);
        for (qint64 done = 0; done < count; done += Block) {
            const qint64 n = std::min(Block, count - done);
            if (piece.compressed) {
                for (qint64 i = 0; i < n; ++i)
                    block[i] = ByteReader::windows1252(quint8(bytes[done + i]));
            } else {
                for (qint64 i = 0; i < n; ++i)
                    block[i] = char16_t(quint8(bytes[2 * (done + i)]) |
                                        quint8(bytes[2 * (done + i) + 1]) << 8);
            }
            take(QStringView(block, n));
        }
    }
}

// Writes a story as it is read: fields show their result, not their instructions; marks
// become breaks.
class StoryWriter
{
public:
    explicit StoryWriter(ExtractContext &context) : m_context(context) {}

    void write(QStringView text)
    {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            const char16_t previous = std::exchange(m_previous, c);
            if (c == 0x13) {
                if (qsizetype(m_fields.size()) >= m_context.limits().maxDepth)
                    throw ExtractError(ExtractError::Kind::Limit, "Word fields nested too deeply");
                m_fields.push_back(true);
                ++m_hidden;
                continue;
            }
            if (c == 0x14) {
                if (!m_fields.empty() && m_fields.back()) {
                    m_fields.back() = false;
                    --m_hidden;
                }
                continue;
            }
            if (c == 0x15) {
                if (!m_fields.empty()) {
                    if (m_fields.back())
                        --m_hidden;
                    m_fields.pop_back();
                }
                continue;
            }
            if (m_hidden > 0 || c == 0xFEFF)
                continue;
            if (c >= 0x20) {
                // A run of plain characters goes out in one piece.
                qsizetype end = i + 1;
                while (end < text.size() && text[end].unicode() >= 0x20 &&
                       text[end].unicode() != 0xFEFF)
                    ++end;
                m_context.append(text.sliced(i, end - i));
                m_previous = text[end - 1].unicode();
                i = end - 1;
                continue;
            }
            switch (c) {
            case 0x07: // end of a cell; a second one ends the row
                if (previous == 0x07)
                    m_context.lineBreak();
                else
                    m_context.tab();
                break;
            case 0x09:
                m_context.tab();
                break;
            case 0x0B:
            case 0x0D:
            case 0x0E:
                m_context.lineBreak();
                break;
            case 0x0C:
                m_context.paragraphBreak();
                break;
            case 0x1E:
                m_context.appendUtf8("-", 1);
                break;
            default: // pictures, note references, separators, optional hyphens
                break;
            }
        }
    }

private:
    ExtractContext &m_context;
    std::vector<bool> m_fields; // per open field: still in its instructions
    int m_hidden = 0;
    char16_t m_previous = 0;
};

struct Fib
{
    qint64 ccp[StoryCount] = {};
    quint32 fcClx = 0, lcbClx = 0;
    quint32 fcPlcfHdd = 0, lcbPlcfHdd = 0;
    bool table1 = false;
};

Fib readFib(const ByteReader &word)
{
    if (word.size() < 34 || word.u16(0) != 0xA5EC)
        throw ExtractError(ExtractError::Kind::Corrupt, "not a Word document");
    const quint16 nFib = word.u16(2);
    const quint16 flags = word.u16(0x0A);
    if (flags & 0x0100)
        throw ExtractError(ExtractError::Kind::Corrupt, "the Word document is encrypted");
    if (nFib < 0x00C1)
        throw ExtractError(ExtractError::Kind::Corrupt,
                           "Word 6 and Word 95 documents are not read");
    Fib fib;
    fib.table1 = flags & 0x0200;
    qsizetype pos = 32;
    pos += 2 + 2 * qsizetype(word.u16(pos));
    const quint16 cslw = word.u16(pos);
    const qsizetype rgLw = pos + 2;
    pos = rgLw + 4 * qsizetype(cslw);
    const quint16 cbRgFcLcb = word.u16(pos);
    const qsizetype rgFcLcb = pos + 2;
    if (cslw < 11 || cbRgFcLcb < 34)
        throw ExtractError(ExtractError::Kind::Corrupt, "Word file information block too short");
    for (int story = 0; story < StoryCount; ++story)
        fib.ccp[story] = std::max<qint32>(0, word.i32(rgLw + 4 * (3 + story)));
    fib.fcPlcfHdd = word.u32(rgFcLcb + 11 * 8);
    fib.lcbPlcfHdd = word.u32(rgFcLcb + 11 * 8 + 4);
    fib.fcClx = word.u32(rgFcLcb + 33 * 8);
    fib.lcbClx = word.u32(rgFcLcb + 33 * 8 + 4);
    return fib;
}

} // namespace

void extractWordStreams(const QByteArray &wordDocument, const QByteArray &table0,
                        const QByteArray &table1, ExtractContext &context)
{
    const ByteReader word(wordDocument);
    const Fib fib = readFib(word);
    const ByteReader table(fib.table1 ? table1 : table0);
    const std::vector<Piece> pieces = readPieces(table, fib.fcClx, fib.lcbClx);

    qint64 storyStart[StoryCount + 1] = {};
    for (int story = 0; story < StoryCount; ++story)
        storyStart[story + 1] = storyStart[story] + fib.ccp[story];
    qint64 budget = context.limits().maxOutputChars +
                    context.limits().maxCompressionRatio * wordDocument.size();
    const auto writeStory = [&](Story which) {
        StoryWriter writer(context);
        readCharacters(word, pieces, storyStart[which], storyStart[which + 1], budget,
                       [&](QStringView block) { writer.write(block); });
    };

    // Headers and footers come as one story, cut into parts by a table: six separators
    // first, then per section even, odd header, even, odd footer, first header, footer.
    QString headerStory;
    readCharacters(word, pieces, storyStart[Headers], storyStart[Headers + 1], budget,
                   [&](QStringView block) { headerStory += block; });
    QStringList headers, footers;
    QSet<QString> seen;
    const qint64 hddCount = fib.lcbPlcfHdd / 4;
    if (hddCount >= 2 && table.has(fib.fcPlcfHdd, fib.lcbPlcfHdd)) {
        for (qint64 i = 6; i + 1 < hddCount; ++i) {
            const qint64 from = table.u32(fib.fcPlcfHdd + 4 * i);
            const qint64 to = table.u32(fib.fcPlcfHdd + 4 * (i + 1));
            if (from >= to || to > headerStory.size())
                continue;
            const QString part = headerStory.mid(from, to - from);
            if (part.trimmed().isEmpty() || seen.contains(part))
                continue;
            seen.insert(part);
            const int kind = int((i - 6) % 6);
            (kind == 2 || kind == 3 || kind == 5 ? footers : headers).append(part);
        }
    } else if (!headerStory.trimmed().isEmpty()) {
        footers.append(headerStory);
    }

    for (const QString &header : headers) {
        StoryWriter(context).write(header);
        context.lineBreak();
    }
    context.paragraphBreak();
    writeStory(MainText);
    for (Story other : {Footnotes, Endnotes, Comments, TextBoxes, HeaderTextBoxes}) {
        context.paragraphBreak();
        writeStory(other);
    }
    for (const QString &footer : footers) {
        context.paragraphBreak();
        StoryWriter(context).write(footer);
    }
}

void extractDoc(const CompoundFile &file, ExtractContext &context)
{
    QByteArray wordDocument, table0, table1;
    file.read(QStringLiteral("WordDocument"), wordDocument);
    file.read(QStringLiteral("0Table"), table0);
    file.read(QStringLiteral("1Table"), table1);
    extractWordStreams(wordDocument, table0, table1, context);
}

} // namespace dv::textd
