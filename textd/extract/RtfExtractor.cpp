#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

#include <QHash>
#include <QStringDecoder>

#include <cstring>
#include <optional>

namespace dv::textd {

namespace {

// Destinations whose content is not document text (tables, pictures, metadata, field codes).
bool isSkippedDestination(const QByteArray &word)
{
    static const char *const skipped[] = {"fonttbl",
                                          "colortbl",
                                          "stylesheet",
                                          "info",
                                          "pict",
                                          "objdata",
                                          "themedata",
                                          "colorschememapping",
                                          "latentstyles",
                                          "datastore",
                                          "xmlnstbl",
                                          "listtable",
                                          "listoverridetable",
                                          "rsidtbl",
                                          "generator",
                                          "filetbl",
                                          "revtbl",
                                          "pgdsctbl",
                                          "fldinst",
                                          "bkmkstart",
                                          "bkmkend",
                                          "datafield",
                                          "nonshppict",
                                          "shpinst",
                                          "userprops",
                                          "docvar",
                                          "mmathPr",
                                          "listtext",
                                          "pntext",
                                          "pntxta",
                                          "pntxtb",
                                          "atnid",
                                          "atnauthor",
                                          "atnref",
                                          "atndate",
                                          "atntime",
                                          "atnicn",
                                          "atnparent",
                                          "atrfstart",
                                          "atrfend",
                                          "template",
                                          "operator",
                                          "author",
                                          "title",
                                          "subject",
                                          "keywords",
                                          "comment",
                                          "doccomm",
                                          "company",
                                          "category",
                                          "manager",
                                          "hlinkbase",
                                          "xe",
                                          "tc",
                                          "txe",
                                          "blipuid",
                                          "passwordhash",
                                          "wgrffmtfilter",
                                          "defchp",
                                          "defpap",
                                          "panose",
                                          "falt",
                                          "fname",
                                          "protusertbl",
                                          "mmathPict",
                                          "objclass",
                                          "objname",
                                          "objalias",
                                          "objsect",
                                          "objitem",
                                          "objtopic"};
    for (const char *s : skipped) {
        if (word == s)
            return true;
    }
    return false;
}

int codepageForCharset(int charset)
{
    switch (charset) {
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 130:
        return 1361;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 255:
        return 437;
    default:
        return 0; // the document's code page
    }
}

class RtfParser
{
public:
    RtfParser(const QByteArray &rtf, ExtractContext &context) : m_rtf(rtf), m_context(context) {}

    void run()
    {
        const qsizetype n = m_rtf.size();
        while (m_pos < n) {
            const char c = m_rtf[m_pos];
            if (c == '{') {
                ++m_pos;
                flushBytes();
                if (qsizetype(m_stack.size()) >= m_context.limits().maxDepth)
                    throw ExtractError(ExtractError::Kind::Limit, "RTF groups nested too deeply");
                m_stack.push_back(m_state);
            } else if (c == '}') {
                ++m_pos;
                flushBytes();
                if (!m_stack.empty()) {
                    const bool wasFontTable = m_state.fontTable;
                    m_state = m_stack.back();
                    m_stack.pop_back();
                    if (wasFontTable && !m_state.fontTable)
                        m_fontInTable = -1;
                }
                m_skipChars = 0;
            } else if (c == '\\') {
                controlWord();
            } else if (c == '\r' || c == '\n') {
                ++m_pos;
            } else {
                ++m_pos;
                if (c == '\t')
                    emitText(u"\t");
                else
                    textByte(c);
            }
        }
        flushBytes();
        flushText(true);
        // Comments after the text, each a paragraph of its own.
        if (!m_annotations.isEmpty()) {
            m_context.paragraphBreak();
            m_context.append(m_annotations);
        }
    }

private:
    struct State
    {
        bool skip = false;
        bool fontTable = false;
        bool annotation = false;
        int uc = 1;
        int font = -1;
    };

    void controlWord()
    {
        const qsizetype n = m_rtf.size();
        ++m_pos; // backslash
        if (m_pos >= n)
            return;
        const char c = m_rtf[m_pos];
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++m_pos;
            controlSymbol(c);
            return;
        }
        const qsizetype start = m_pos;
        while (m_pos < n && m_pos - start < 32 &&
               std::isalpha(static_cast<unsigned char>(m_rtf[m_pos])))
            ++m_pos;
        const QByteArray word = m_rtf.mid(start, m_pos - start);
        std::optional<int> param;
        bool negative = false;
        if (m_pos < n && m_rtf[m_pos] == '-') {
            negative = true;
            ++m_pos;
        }
        qint64 value = 0;
        int digits = 0;
        while (m_pos < n && digits < 10 && std::isdigit(static_cast<unsigned char>(m_rtf[m_pos]))) {
            value = value * 10 + (m_rtf[m_pos] - '0');
            ++m_pos;
            ++digits;
        }
        if (digits > 0)
            param = int(std::clamp<qint64>(negative ? -value : value, INT_MIN, INT_MAX));
        if (m_pos < n && m_rtf[m_pos] == ' ')
            ++m_pos;
        handleWord(word, param);
    }

    void controlSymbol(char c)
    {
        switch (c) {
        case '\'': {
            if (m_pos + 2 > m_rtf.size())
                return;
            bool ok = false;
            const int byte = m_rtf.mid(m_pos, 2).toInt(&ok, 16);
            m_pos += 2;
            if (ok)
                textByte(char(byte));
            return;
        }
        case '*':
            // An ignorable destination: readers that do not know it skip the group.
            flushBytes();
            m_state.skip = true;
            m_ignorable = true;
            return;
        case '\\':
        case '{':
        case '}':
            textByte(c);
            return;
        case '~':
            emitText(u"\u00A0");
            return;
        case '_':
            emitText(u"-");
            return;
        case '\r':
        case '\n':
            emitText(u"\n");
            return;
        case '\t':
            emitText(u"\t");
            return;
        default:
            return; // \- optional hyphen, \: index subentry, \| formula
        }
    }

    void handleWord(const QByteArray &word, std::optional<int> param)
    {
        const bool ignorable = std::exchange(m_ignorable, false);
        if (word == "annotation") {
            // A comment: read, but kept apart to follow the text.
            flushBytes();
            if (ignorable)
                m_state.skip = !m_stack.empty() && m_stack.back().skip;
            m_newAnnotation = !m_state.annotation;
            m_state.annotation = true;
            return;
        }
        if (word == "bin") {
            // Binary data of the given length follows; it is never text.
            flushBytes();
            const qint64 length = std::max(0, param.value_or(0));
            m_pos = qsizetype(std::min<qint64>(m_pos + length, m_rtf.size()));
            return;
        }
        if (m_state.fontTable) {
            if (word == "f")
                m_fontInTable = param.value_or(-1);
            else if (word == "fcharset" && m_fontInTable >= 0)
                m_fontCodepages.insert(m_fontInTable, codepageForCharset(param.value_or(0)));
            else if (word == "cpg" && m_fontInTable >= 0 && param.value_or(0) > 0)
                m_fontCodepages.insert(m_fontInTable, *param);
            return;
        }
        if (word == "fonttbl") {
            flushBytes();
            m_state.fontTable = true;
            m_state.skip = true;
            return;
        }
        if (isSkippedDestination(word)) {
            flushBytes();
            m_state.skip = true;
            return;
        }
        if (word == "ansicpg") {
            if (param.value_or(0) > 0)
                m_codepage = *param;
            return;
        }
        if (word == "mac") {
            m_codepage = 10000;
            return;
        }
        if (word == "pc") {
            m_codepage = 437;
            return;
        }
        if (word == "pca") {
            m_codepage = 850;
            return;
        }
        if (word == "f") {
            flushBytes();
            m_state.font = param.value_or(-1);
            return;
        }
        if (word == "uc") {
            m_state.uc = std::clamp(param.value_or(1), 0, 16);
            return;
        }
        if (word == "u") {
            flushBytes();
            int unit = param.value_or(0);
            if (unit < 0)
                unit += 65536;
            if (unit >= 0 && unit <= 0xFFFF && unit != 0 && !m_state.skip)
                output().append(QChar(char16_t(unit)));
            // The fallback characters for readers without Unicode follow; drop them.
            m_skipChars = m_state.uc;
            return;
        }
        if (m_skipChars > 0) {
            --m_skipChars;
            return;
        }
        if (word == "par" || word == "line" || word == "sect" || word == "page" || word == "row" ||
            word == "softline")
            emitText(u"\n");
        else if (word == "tab" || word == "cell")
            emitText(u"\t");
        else if (word == "emdash")
            emitText(u"\u2014");
        else if (word == "endash")
            emitText(u"\u2013");
        else if (word == "lquote")
            emitText(u"\u2018");
        else if (word == "rquote")
            emitText(u"\u2019");
        else if (word == "ldblquote")
            emitText(u"\u201C");
        else if (word == "rdblquote")
            emitText(u"\u201D");
        else if (word == "bullet")
            emitText(u"\u2022");
        else if (word == "emspace" || word == "enspace" || word == "qmspace")
            emitText(u" ");
    }

    void textByte(char byte)
    {
        if (m_state.skip)
            return;
        if (m_skipChars > 0) {
            --m_skipChars;
            return;
        }
        if (m_bytes.isEmpty())
            m_bytesCodepage = currentCodepage();
        else if (m_bytesCodepage != currentCodepage()) {
            flushBytes();
            m_bytesCodepage = currentCodepage();
        }
        m_bytes.append(byte);
    }

    int currentCodepage() const
    {
        const int fontCodepage = m_fontCodepages.value(m_state.font, 0);
        return fontCodepage > 0 ? fontCodepage : m_codepage;
    }

    void flushBytes()
    {
        if (m_bytes.isEmpty())
            return;
        bool ascii = true;
        for (char b : std::as_const(m_bytes))
            ascii = ascii && static_cast<unsigned char>(b) < 0x80;
        if (ascii) {
            output().append(QLatin1StringView(m_bytes));
        } else {
            QStringDecoder decoder(codecNameForCodepage(m_bytesCodepage).constData(),
                                   QStringConverter::Flag::Stateless);
            if (!decoder.isValid())
                decoder = QStringDecoder("windows-1252", QStringConverter::Flag::Stateless);
            output().append(decoder.decode(m_bytes));
        }
        m_bytes.clear();
        flushText(false);
    }

    void emitText(QStringView text)
    {
        if (m_state.skip)
            return;
        if (m_skipChars > 0) {
            --m_skipChars;
            return;
        }
        flushBytes();
        output().append(text);
        flushText(false);
    }

    // Where text goes: the body, or the comments, a paragraph each once they have text.
    QString &output()
    {
        if (!m_state.annotation)
            return m_text;
        if (std::exchange(m_newAnnotation, false) && !m_annotations.isEmpty())
            m_annotations += u"\n\n";
        return m_annotations;
    }

    // Hands text over in pieces so the output limit acts early; never splits a surrogate pair.
    void flushText(bool final)
    {
        if (!final && m_text.size() < 4096)
            return;
        qsizetype size = m_text.size();
        if (!final && size > 0 && m_text.at(size - 1).isHighSurrogate())
            --size;
        m_context.append(QStringView(m_text).first(size));
        m_text.remove(0, size);
    }

    const QByteArray &m_rtf;
    ExtractContext &m_context;
    qsizetype m_pos = 0;
    State m_state;
    std::vector<State> m_stack;
    int m_codepage = 1252;
    QHash<int, int> m_fontCodepages;
    int m_fontInTable = -1;
    QByteArray m_bytes;
    int m_bytesCodepage = 1252;
    QString m_text;
    QString m_annotations;
    bool m_newAnnotation = false;
    int m_skipChars = 0;
    // The last control was \*: the destination that follows may be skipped.
    bool m_ignorable = false;
};

} // namespace

QByteArray codecNameForCodepage(int codepage)
{
    switch (codepage) {
    case 932:
        return "Shift_JIS";
    case 936:
        return "GBK";
    case 949:
        return "windows-949";
    case 950:
        return "Big5";
    case 1361:
        return "johab";
    case 10000:
        return "macintosh";
    case 437:
        return "IBM437";
    case 850:
        return "IBM850";
    case 65001:
        return "UTF-8";
    default:
        return "windows-" + QByteArray::number(codepage);
    }
}

void extractRtf(const QByteArray &content, ExtractContext &context)
{
    // Some writers put a UTF-8 byte-order mark before the group.
    const QByteArray rtf = content.startsWith("\xEF\xBB\xBF") ? content.mid(3) : content;
    if (!rtf.trimmed().startsWith("{\\rtf"))
        throw ExtractError(ExtractError::Kind::Corrupt, "not RTF");
    RtfParser(rtf, context).run();
}

} // namespace dv::textd
