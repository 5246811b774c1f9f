// Outlook messages (.msg): the header lines, the body (plain, HTML or compressed RTF) and the
// attachments, whose documents are read where their format is one we read.
#include "textd/extract/ByteReader.h"
#include "textd/extract/CompoundFile.h"
#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

#include <QDateTime>
#include <QStringDecoder>

#include <optional>

namespace dv::textd {

namespace {

enum Property : quint16
{
    Subject = 0x0037,
    ClientSubmitTime = 0x0039,
    SentRepresentingName = 0x0042,
    SenderName = 0x0C1A,
    SenderEmail = 0x0C1F,
    RecipientType = 0x0C15,
    DisplayCc = 0x0E03,
    DisplayTo = 0x0E04,
    DeliveryTime = 0x0E06,
    Body = 0x1000,
    RtfCompressed = 0x1009,
    Html = 0x1013,
    DisplayName = 0x3001,
    EmailAddress = 0x3003,
    AttachFilename = 0x3704,
    AttachData = 0x3701,
    AttachLongFilename = 0x3707,
    SmtpAddress = 0x39FE,
    InternetCodepage = 0x3FDE,
    MessageCodepage = 0x3FFD,
    SenderSmtpAddress = 0x5D01
};

// The prefix an RTF compressor's dictionary starts with.
constexpr char RtfDictionary[] =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern "
    "\\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0"
    "\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";

class Message
{
public:
    // storage: "" for the file's message, else the embedded message's storage with a '/'.
    Message(const CompoundFile &file, const QString &storage, bool embedded,
            ExtractContext &context)
        : m_file(file), m_storage(storage), m_embedded(embedded), m_context(context)
    {
        readFixed(m_storage, m_embedded ? 24 : 32, m_fixed);
        const qint64 codepage = fixedValue(m_fixed, InternetCodepage)
                                    .value_or(fixedValue(m_fixed, MessageCodepage).value_or(1252));
        m_codecName = codecNameForCodepage(int(codepage));
        if (!QStringDecoder(m_codecName.constData()).isValid())
            m_codecName = "windows-1252";
    }

    void run()
    {
        line("Subject: ", string(m_storage, Subject));
        QString from = string(m_storage, SentRepresentingName);
        if (from.isEmpty())
            from = string(m_storage, SenderName);
        QString address = string(m_storage, SenderSmtpAddress);
        if (address.isEmpty())
            address = string(m_storage, SenderEmail);
        if (!address.isEmpty() && address != from && address.contains(u'@'))
            from = from.isEmpty() ? address : from + QStringLiteral(" <") + address + u'>';
        line("From: ", from);
        QStringList to, cc;
        recipients(to, cc);
        line("To: ", to.isEmpty() ? string(m_storage, DisplayTo) : to.join(QStringLiteral(", ")));
        line("Cc: ", cc.isEmpty() ? string(m_storage, DisplayCc) : cc.join(QStringLiteral(", ")));
        const std::optional<qint64> time = fixedValue(m_fixed, ClientSubmitTime).has_value()
                                               ? fixedValue(m_fixed, ClientSubmitTime)
                                               : fixedValue(m_fixed, DeliveryTime);
        if (time && *time > 0) {
            // FILETIME: 100 ns steps since 1601.
            const qint64 msecs = *time / 10000 - 11644473600000LL;
            line("Date: ",
                 QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(Qt::RFC2822Date));
        }
        m_context.paragraphBreak();
        body();
        attachments();
    }

private:
    struct Fixed
    {
        quint16 id;
        quint16 type;
        qint64 value;
    };

    // The fixed-size properties: a header, then 16 bytes per property.
    void readFixed(const QString &storage, qsizetype headerSize, std::vector<Fixed> &out) const
    {
        QByteArray bytes;
        if (!m_file.read(storage + QStringLiteral("__properties_version1.0"), bytes))
            return;
        const ByteReader reader(bytes);
        for (qsizetype at = headerSize; reader.has(at, 16); at += 16) {
            const quint32 tag = reader.u32(at);
            out.push_back(
                {quint16(tag >> 16), quint16(tag & 0xFFFF),
                 qint64(quint64(reader.u32(at + 8)) | quint64(reader.u32(at + 12)) << 32)});
        }
    }

    static std::optional<qint64> fixedValue(const std::vector<Fixed> &fixed, quint16 id)
    {
        for (const Fixed &f : fixed) {
            if (f.id == id)
                return f.type == 0x0003 ? qint64(qint32(f.value)) : f.value;
        }
        return std::nullopt;
    }

    QString streamName(quint16 id, const char *type) const
    {
        return QStringLiteral("__substg1.0_") +
               QString::number(id, 16).rightJustified(4, u'0').toUpper() + QLatin1StringView(type);
    }

    bool binary(const QString &storage, quint16 id, QByteArray &bytes) const
    {
        return m_file.read(storage + streamName(id, "0102"), bytes);
    }

    QString string(const QString &storage, quint16 id) const
    {
        QByteArray bytes;
        QString text;
        if (m_file.read(storage + streamName(id, "001F"), bytes)) {
            text = ByteReader(bytes).utf16(0, bytes.size() / 2);
        } else if (m_file.read(storage + streamName(id, "001E"), bytes)) {
            QStringDecoder decoder(m_codecName.constData(), QStringConverter::Flag::Stateless);
            text = decoder.decode(bytes);
        }
        const qsizetype nul = text.indexOf(QChar(0));
        return (nul >= 0 ? text.left(nul) : text).trimmed();
    }

    void line(const char *label, const QString &value)
    {
        if (value.isEmpty())
            return;
        m_context.append(QString::fromLatin1(label) + value);
        m_context.lineBreak();
    }

    QStringList children(const char *prefix) const
    {
        QStringList names;
        for (const QString &name :
             m_file.children(m_storage.isEmpty() ? QString() : m_storage.chopped(1))) {
            if (name.startsWith(QLatin1StringView(prefix)))
                names.append(name);
        }
        names.sort();
        return names;
    }

    void recipients(QStringList &to, QStringList &cc) const
    {
        for (const QString &name : children("__recip_version1.0_")) {
            const QString storage = m_storage + name + u'/';
            std::vector<Fixed> fixed;
            readFixed(storage, 8, fixed);
            QString display = string(storage, DisplayName);
            QString address = string(storage, SmtpAddress);
            if (address.isEmpty())
                address = string(storage, EmailAddress);
            if (!address.contains(u'@'))
                address.clear();
            QString text = display;
            if (!address.isEmpty() && address != display)
                text =
                    display.isEmpty() ? address : display + QStringLiteral(" <") + address + u'>';
            if (text.isEmpty())
                continue;
            const qint64 type = fixedValue(fixed, RecipientType).value_or(1);
            if (type == 1)
                to.append(text);
            else if (type == 2)
                cc.append(text);
        }
    }

    void body()
    {
        const QString plain = string(m_storage, Body);
        if (!plain.isEmpty()) {
            m_context.append(plain);
            return;
        }
        QByteArray bytes;
        try {
            if (binary(m_storage, Html, bytes)) {
                extractHtml(bytes, m_context, m_codecName);
            } else if (const QString html = string(m_storage, Html); !html.isEmpty()) {
                extractHtml(html.toUtf8(), m_context, QByteArrayLiteral("UTF-8"));
            } else if (binary(m_storage, RtfCompressed, bytes)) {
                extractRtf(decompressRtf(bytes), m_context);
            }
        } catch (const ExtractError &error) {
            if (error.kind() == ExtractError::Kind::Limit)
                throw; // a broken body still leaves the headers and attachments
        }
    }

    QByteArray decompressRtf(const QByteArray &bytes) const
    {
        const ByteReader reader(bytes);
        if (bytes.size() < 16)
            throw ExtractError(ExtractError::Kind::Corrupt, "compressed RTF too short");
        const quint32 rawSize = reader.u32(4);
        const quint32 type = reader.u32(8);
        if (type == 0x414C454D) // stored as it is
            return bytes.mid(16, rawSize);
        if (type != 0x75465A4C)
            throw ExtractError(ExtractError::Kind::Corrupt, "unknown RTF compression");
        const qint64 limit = std::min<qint64>(rawSize, m_context.limits().maxEntryBytes);
        m_context.chargeInflated(limit);
        char dictionary[4096];
        const int prefix = int(sizeof RtfDictionary) - 1;
        std::memcpy(dictionary, RtfDictionary, size_t(prefix));
        int write = prefix;
        QByteArray out;
        out.reserve(qsizetype(std::min<qint64>(limit, 16 << 20)));
        qsizetype at = 16;
        while (at < bytes.size() && out.size() < limit) {
            const quint8 control = quint8(bytes[at++]);
            for (int bit = 0; bit < 8 && out.size() < limit; ++bit) {
                if (!(control & (1 << bit))) {
                    if (at >= bytes.size())
                        return out;
                    const char c = bytes[at++];
                    out.append(c);
                    dictionary[write] = c;
                    write = (write + 1) % 4096;
                    continue;
                }
                if (at + 2 > bytes.size())
                    return out;
                const quint16 reference = quint16(quint8(bytes[at]) << 8 | quint8(bytes[at + 1]));
                at += 2;
                const int offset = reference >> 4;
                const int length = (reference & 0xF) + 2;
                if (offset == write)
                    return out; // the end marker
                for (int i = 0; i < length && out.size() < limit; ++i) {
                    const char c = dictionary[(offset + i) % 4096];
                    out.append(c);
                    dictionary[write] = c;
                    write = (write + 1) % 4096;
                }
            }
        }
        return out;
    }

    void attachments()
    {
        for (const QString &name : children("__attach_version1.0_")) {
            const QString storage = m_storage + name + u'/';
            QString fileName = string(storage, AttachLongFilename);
            if (fileName.isEmpty())
                fileName = string(storage, AttachFilename);
            if (fileName.isEmpty())
                fileName = string(storage, DisplayName);
            m_context.paragraphBreak();
            line("Attachment: ", fileName);
            QByteArray data;
            if (binary(storage, AttachData, data)) {
                extractEmbedded(data, fileName, m_context);
                continue;
            }
            const QString inner = storage + streamName(AttachData, "000D") + u'/';
            if (!m_file.contains(inner.chopped(1)) ||
                m_context.embeddingDepth() >= m_context.limits().maxEmbeddingDepth)
                continue;
            EmbeddedScope scope(m_context);
            m_context.paragraphBreak();
            Message(m_file, inner, true, m_context).run();
        }
    }

    const CompoundFile &m_file;
    QString m_storage;
    bool m_embedded;
    ExtractContext &m_context;
    std::vector<Fixed> m_fixed;
    QByteArray m_codecName;
};

} // namespace

bool isMsg(const CompoundFile &file)
{
    return file.contains(QStringLiteral("__properties_version1.0")) ||
           file.contains(QStringLiteral("__substg1.0_0037001F")) ||
           file.contains(QStringLiteral("__substg1.0_0037001E"));
}

void extractMsg(const CompoundFile &file, ExtractContext &context)
{
    Message(file, QString(), false, context).run();
}

} // namespace dv::textd
