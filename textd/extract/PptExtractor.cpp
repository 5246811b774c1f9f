// PowerPoint 97-2003 presentations: the slides' text in order with their notes, then the
// masters' text, found through the current edit's persist directory.
#include "textd/extract/ByteReader.h"
#include "textd/extract/CompoundFile.h"
#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

#include <QHash>
#include <QSet>

#include <vector>

namespace dv::textd {

namespace {

enum RecordType : quint16
{
    DocumentContainer = 0x03E8,
    SlideAtom = 0x03EF,
    SlidePersistAtom = 0x03F3,
    TextCharsAtom = 0x0FA0,
    TextBytesAtom = 0x0FA8,
    SlideListWithText = 0x0FF0,
    UserEditAtom = 0x0FF5,
    PersistDirectoryAtom = 0x1772
};

struct Header
{
    quint16 version = 0;
    quint16 instance = 0;
    quint16 type = 0;
    quint32 length = 0;
};

constexpr quint32 EncryptedToken = 0xF3D1C4DF;

class Presentation
{
public:
    Presentation(const QByteArray &stream, ExtractContext &context)
        : m_stream(stream), m_context(context)
    {}

    void run(const QByteArray &currentUser)
    {
        if (currentUser.size() >= 20 && ByteReader(currentUser).u32(12) == EncryptedToken)
            throw ExtractError(ExtractError::Kind::Corrupt, "the PowerPoint file is encrypted");
        const qint64 document = currentUser.size() >= 20 ? findDocument(currentUser) : -1;
        if (document < 0) {
            // No usable edit history: every text atom in stream order.
            walkText(0, m_stream.size(), 0);
            return;
        }
        readDocument(document);
    }

private:
    bool header(qint64 at, Header &h) const
    {
        if (at < 0 || !m_stream.has(at, 8))
            return false;
        const quint16 versionInstance = m_stream.u16(at);
        h = {quint16(versionInstance & 0xF), quint16(versionInstance >> 4), m_stream.u16(at + 2),
             m_stream.u32(at + 4)};
        return m_stream.has(at + 8, h.length);
    }

    // The persist directory of the current edit and all before it, newer entries winning;
    // the document container's offset, or -1.
    qint64 findDocument(const QByteArray &currentUser)
    {
        std::vector<qint64> edits;
        QSet<qint64> seen;
        qint64 at = ByteReader(currentUser).u32(16);
        quint32 documentId = 0;
        Header h;
        while (at > 0 && !seen.contains(at) && header(at, h) && h.type == UserEditAtom &&
               h.length >= 28) {
            seen.insert(at);
            if (edits.empty()) {
                documentId = m_stream.u32(at + 8 + 16);
                if (h.length >= 32)
                    throw ExtractError(ExtractError::Kind::Corrupt,
                                       "the PowerPoint file is encrypted");
            }
            edits.push_back(at);
            at = m_stream.u32(at + 8 + 8);
        }
        if (edits.empty())
            return -1;
        for (auto edit = edits.rbegin(); edit != edits.rend(); ++edit) {
            const qint64 directory = m_stream.u32(*edit + 8 + 12);
            if (!header(directory, h) || h.type != PersistDirectoryAtom)
                continue;
            qint64 pos = directory + 8;
            const qint64 end = pos + h.length;
            while (pos + 4 <= end) {
                const quint32 entry = m_stream.u32(pos);
                const quint32 first = entry & 0xFFFFF;
                const quint32 count = entry >> 20;
                pos += 4;
                for (quint32 i = 0; i < count && pos + 4 <= end; ++i, pos += 4)
                    m_persist.insert(first + i, m_stream.u32(pos));
            }
        }
        const qint64 document = m_persist.value(documentId, -1);
        if (!header(document, h) || h.type != DocumentContainer)
            return -1;
        return document;
    }

    // A slide list: each slide's persist reference, its id and the text kept beside it.
    struct ListedSlide
    {
        quint32 persistId = 0;
        quint32 slideId = 0;
        std::vector<qint64> textAtoms;
    };

    std::vector<ListedSlide> slideList(qint64 document, quint16 instance)
    {
        std::vector<ListedSlide> slides;
        Header h;
        if (!header(document, h))
            return slides;
        const qint64 end = document + 8 + h.length;
        for (qint64 at = document + 8; header(at, h) && at + 8 + h.length <= end;
             at += 8 + h.length) {
            if (h.type != SlideListWithText || h.instance != instance)
                continue;
            const qint64 listEnd = at + 8 + h.length;
            Header item;
            for (qint64 pos = at + 8; header(pos, item) && pos + 8 + item.length <= listEnd;
                 pos += 8 + item.length) {
                if (item.type == SlidePersistAtom && item.length >= 16)
                    slides.push_back({m_stream.u32(pos + 8), m_stream.u32(pos + 8 + 12), {}});
                else if ((item.type == TextCharsAtom || item.type == TextBytesAtom) &&
                         !slides.empty())
                    slides.back().textAtoms.push_back(pos);
            }
        }
        return slides;
    }

    void readDocument(qint64 document)
    {
        const std::vector<ListedSlide> slides = slideList(document, 0);
        const std::vector<ListedSlide> masters = slideList(document, 1);
        const std::vector<ListedSlide> notes = slideList(document, 2);
        QHash<quint32, const ListedSlide *> notesById;
        for (const ListedSlide &note : notes)
            notesById.insert(note.slideId, &note);
        QSet<quint32> notesShown;

        for (const ListedSlide &slide : slides) {
            m_context.paragraphBreak();
            const qint64 container = m_persist.value(slide.persistId, -1);
            showListed(slide, container);
            Header h;
            if (!header(container, h))
                continue;
            // The slide's own atom names its notes.
            Header item;
            for (qint64 pos = container + 8;
                 header(pos, item) && pos + 8 + item.length <= container + 8 + h.length;
                 pos += 8 + item.length) {
                if (item.type != SlideAtom || item.length < 20)
                    continue;
                const quint32 notesId = m_stream.u32(pos + 8 + 16);
                if (const ListedSlide *note = notesById.value(notesId); note && notesId != 0) {
                    notesShown.insert(notesId);
                    m_context.paragraphBreak();
                    showListed(*note, m_persist.value(note->persistId, -1));
                }
                break;
            }
        }
        for (const ListedSlide &note : notes) {
            if (!notesShown.contains(note.slideId)) {
                m_context.paragraphBreak();
                showListed(note, m_persist.value(note.persistId, -1));
            }
        }
        for (const ListedSlide &master : masters) {
            m_context.paragraphBreak();
            showListed(master, m_persist.value(master.persistId, -1));
        }
    }

    // The text kept in the slide list (placeholders), then what the slide's shapes hold.
    void showListed(const ListedSlide &slide, qint64 container)
    {
        for (const qint64 atom : slide.textAtoms)
            showAtom(atom);
        Header h;
        if (!header(container, h) || h.version != 0xF)
            return;
        if (!m_shown.contains(container)) { // a list that names a slide twice shows it once
            m_shown.insert(container);
            walkText(container + 8, container + 8 + h.length, 1);
        }
    }

    void walkText(qint64 from, qint64 to, int depth)
    {
        if (depth > m_context.limits().maxDepth)
            throw ExtractError(ExtractError::Kind::Limit, "PowerPoint records nested too deeply");
        Header h;
        for (qint64 at = from; header(at, h) && at + 8 + h.length <= to; at += 8 + h.length) {
            if (h.type == TextCharsAtom || h.type == TextBytesAtom)
                showAtom(at);
            else if (h.version == 0xF)
                walkText(at + 8, at + 8 + h.length, depth + 1);
        }
    }

    void showAtom(qint64 at)
    {
        Header h;
        if (!header(at, h))
            return;
        const QString text = h.type == TextCharsAtom ? m_stream.utf16(at + 8, h.length / 2)
                                                     : m_stream.latin1(at + 8, h.length);
        if (text == u"*") // where a slide number or date goes
            return;
        m_context.lineBreak();
        QString run;
        for (const QChar c : text) {
            if (c == u'\r' || c == u'\v') {
                m_context.append(run);
                run.clear();
                m_context.lineBreak();
            } else if (c == u'\t') {
                m_context.append(run);
                run.clear();
                m_context.tab();
            } else if (c.unicode() >= 0x20) {
                run += c;
            }
        }
        m_context.append(run);
        m_context.lineBreak();
    }

    ByteReader m_stream;
    ExtractContext &m_context;
    QHash<quint32, qint64> m_persist;
    QSet<qint64> m_shown;
};

} // namespace

void extractPresentationStreams(const QByteArray &document, const QByteArray &currentUser,
                                ExtractContext &context)
{
    Presentation(document, context).run(currentUser);
}

void extractPpt(const CompoundFile &file, ExtractContext &context)
{
    QByteArray document, currentUser;
    file.read(QStringLiteral("PowerPoint Document"), document);
    file.read(QStringLiteral("Current User"), currentUser);
    extractPresentationStreams(document, currentUser, context);
}

} // namespace dv::textd
