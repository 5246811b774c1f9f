#include "core/search/LocalTextDecision.h"

#include "core/search/ExtractionClient.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace dv {

namespace {

// Bytes the server decodes to look for markup and mail headers.
constexpr qsizetype kServerHeadBytes = 4096;
// Bytes in which the server looks for a PDF header (writers put junk before it).
constexpr qsizetype kPdfHeaderWindow = 1024;

struct Signature
{
    qsizetype offset;
    const char *bytes;
    qsizetype size;
};

#define DV_SIGNATURE(offset, literal)                                                              \
    {                                                                                              \
        offset, literal, sizeof(literal) - 1                                                       \
    }

// Formats with no text of their own to search. Zip (office documents, EPUB), compound files
// (old office documents) and SQLite are not here: extraction servers read text out of them.
constexpr Signature kNonDocuments[] = {
    DV_SIGNATURE(0, "\x7F"
                    "ELF"),
    DV_SIGNATURE(0, "MZ"),               // DOS and Windows executables
    DV_SIGNATURE(0, "\xCA\xFE\xBA\xBE"), // Java classes, Mach-O universal
    DV_SIGNATURE(0, "\xCF\xFA\xED\xFE"), // Mach-O 64-bit
    DV_SIGNATURE(0, "\xCE\xFA\xED\xFE"), // Mach-O 32-bit
    DV_SIGNATURE(0, "\0asm"),            // WebAssembly
    DV_SIGNATURE(0, "\xD0\x0D\xFE\xED"), // flattened device tree
    DV_SIGNATURE(0, "!<arch>\n"),        // static libraries, Debian packages
    DV_SIGNATURE(0, "\x89PNG\r\n\x1A\n"),
    DV_SIGNATURE(0, "\xFF\xD8\xFF"), // JPEG
    DV_SIGNATURE(0, "GIF87a"),
    DV_SIGNATURE(0, "GIF89a"),
    DV_SIGNATURE(0, "BM"), // BMP
    DV_SIGNATURE(0, "II*\0"),
    DV_SIGNATURE(0, "MM\0*"),            // TIFF
    DV_SIGNATURE(0, "\0\0\1\0"),         // Windows icons
    DV_SIGNATURE(0, "RIFF"),             // WAV, AVI, WebP
    DV_SIGNATURE(0, "FORM"),             // AIFF
    DV_SIGNATURE(0, "ID3"),              // MP3
    DV_SIGNATURE(0, "fLaC"),             // FLAC
    DV_SIGNATURE(0, "OggS"),             // Ogg
    DV_SIGNATURE(0, "MThd"),             // MIDI
    DV_SIGNATURE(4, "ftyp"),             // MP4, QuickTime, HEIF, AVIF
    DV_SIGNATURE(0, "\x1A\x45\xDF\xA3"), // Matroska, WebM
    DV_SIGNATURE(0, "FLV"),
    DV_SIGNATURE(0, "\0\0\1\xBA"), // MPEG program stream
    DV_SIGNATURE(0, "\x1F\x8B"),   // gzip
    DV_SIGNATURE(0, "BZh"),        // bzip2
    DV_SIGNATURE(0, "\xFD"
                    "7zXZ\0"),             // xz
    DV_SIGNATURE(0, "7z\xBC\xAF\x27\x1C"), // 7-Zip
    DV_SIGNATURE(0, "Rar!\x1A\x07"),
    DV_SIGNATURE(0, "\x28\xB5\x2F\xFD"), // zstd
    DV_SIGNATURE(0, "\x04\x22\x4D\x18"), // LZ4
    DV_SIGNATURE(0, "LZIP"),
    DV_SIGNATURE(0, "MSCF"),     // cabinet
    DV_SIGNATURE(257, "ustar"),  // tar
    DV_SIGNATURE(0, "\0\1\0\0"), // TrueType
    DV_SIGNATURE(0, "OTTO"),     // OpenType
    DV_SIGNATURE(0, "wOFF"),
    DV_SIGNATURE(0, "wOF2"),
};

#undef DV_SIGNATURE

bool StartsWith(QByteArrayView bytes, QByteArrayView prefix)
{
    return bytes.size() >= prefix.size() &&
           std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

bool IsKnownNonDocument(QByteArrayView head)
{
    return std::any_of(std::begin(kNonDocuments), std::end(kNonDocuments), [&](const Signature &s) {
        return head.size() >= s.offset + s.size &&
               std::memcmp(head.data() + s.offset, s.bytes, static_cast<size_t>(s.size)) == 0;
    });
}

// The signatures that make the server read a file as a document of its own, whatever follows.
bool HasDocumentSignature(QByteArrayView head)
{
    return StartsWith(head, "PK\x03\x04") || StartsWith(head, "PK\x05\x06") ||
           StartsWith(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") || StartsWith(head, "{\\rtf") ||
           head.first(std::min(head.size(), kPdfHeaderWindow)).contains("%PDF-");
}

bool StartsWithByteOrderMark(QByteArrayView head)
{
    return StartsWith(head, "\xEF\xBB\xBF") || StartsWith(head, "\xFE\xFF") ||
           StartsWith(head, "\xFF\xFE") || StartsWith(head, QByteArrayView("\0\0\xFE\xFF", 4));
}

// A control byte as the server's binary test counts it.
bool IsServerControl(unsigned char c)
{
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r' &&
            c != 0x1B) ||
           c == 0x7F;
}

// The server's binary test of the first bytes: no zero byte, under 10 % control bytes.
bool ServerSeesText(QByteArrayView probe)
{
    if (probe.isEmpty())
        return false;
    qsizetype controls = 0;
    for (const char c : probe) {
        if (c == 0)
            return false;
        controls += IsServerControl(static_cast<unsigned char>(c));
    }
    return controls * 10 < probe.size();
}

// The server's guess of UTF-16 without a byte-order mark: zeros in nearly every other byte.
bool LooksLikeUtf16(QByteArrayView probe)
{
    const qsizetype pairs = probe.size() / 2;
    if (pairs < 2)
        return false;
    qsizetype zeros[2] = {0, 0};
    for (qsizetype i = 0; i < pairs * 2; ++i)
        zeros[i % 2] += probe[i] == 0;
    const auto mostly = [&](int full, int empty) {
        return zeros[full] * 10 >= pairs * 7 && zeros[empty] * 20 < pairs;
    };
    return mostly(1, 0) || mostly(0, 1);
}

bool IsAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether the server might read the text as markup or RTF: its first character after white
// space is "<", starts "{\rtf", or may be white space beyond ASCII.
bool MayBeMarkup(QByteArrayView head)
{
    qsizetype i = 0;
    while (i < head.size() && IsAsciiSpace(head[i]))
        ++i;
    if (i == head.size())
        return false;
    const auto first = static_cast<unsigned char>(head[i]);
    if (first == '<' || first >= 0x80)
        return true;
    return head.sliced(i)
               .first(std::min<qsizetype>(5, head.size() - i))
               .compare("{\\rtf", Qt::CaseInsensitive) == 0;
}

// The length of the header name a line starts with ("Name:" and a space or tab), else 0.
qsizetype HeaderNameLength(QByteArrayView line)
{
    qsizetype i = 0;
    while (i < line.size() &&
           ((line[i] >= 'A' && line[i] <= 'Z') || (line[i] >= 'a' && line[i] <= 'z') ||
            (line[i] >= '0' && line[i] <= '9') || line[i] == '-'))
        ++i;
    return i > 0 && i + 1 < line.size() && line[i] == ':' &&
                   (line[i + 1] == ' ' || line[i + 1] == '\t')
               ? i
               : 0;
}

// Whether the server reads the text as a mail: the lines of its first look (Head, the bytes it
// decodes; a character cut off at their end is no header byte either way) up to the first
// empty one are headers ("Name: value", or folded) that name at least two of the usual mail
// headers.
bool MayBeMail(QByteArrayView head)
{
    static const char *const known[] = {"from",         "to",           "subject",  "date",
                                        "message-id",   "mime-version", "received", "return-path",
                                        "delivered-to", "content-type", "cc",       "reply-to"};
    int hits = 0;
    qsizetype at = 0;
    for (int lines = 0; lines < 200; ++lines) {
        qsizetype end = head.indexOf('\n', at);
        if (end < 0)
            end = head.size();
        QByteArrayView line = head.sliced(at, end - at);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break;
        if (lines == 0 || (line[0] != ' ' && line[0] != '\t')) {
            const qsizetype name = HeaderNameLength(line);
            if (name == 0)
                return false;
            const QByteArrayView word = line.first(name);
            hits += std::any_of(std::begin(known), std::end(known), [&](const char *k) {
                return word.compare(k, Qt::CaseInsensitive) == 0;
            });
        }
        if (end >= head.size())
            break;
        at = end + 1;
    }
    return hits >= 2;
}

} // namespace

LocalTextDecision::Kind LocalTextDecision::Decide(const char *bytes, qsizetype count,
                                                  qint64 fileSize)
{
    if (fileSize <= 0 || count <= 0)
        return NoText;
    const QByteArrayView head(bytes, std::min(count, kHeadBytes));
    if (HasDocumentSignature(head) || StartsWithByteOrderMark(head))
        return Server;
    const QByteArrayView serverHead = head.first(std::min(head.size(), kServerHeadBytes));
    if (head.contains('\0')) {
        // The server reads such bytes as no text only when its first look finds a zero byte
        // and no UTF-16.
        if (IsKnownNonDocument(head) && serverHead.contains('\0') && !LooksLikeUtf16(serverHead))
            return NoText;
        return Server;
    }
    if (fileSize > kMaxExtractedTextLength || !ServerSeesText(serverHead) ||
        !ServerSeesText(head) || MayBeMarkup(serverHead) || MayBeMail(serverHead))
        return Server;
    return PlainText;
}

bool LocalTextDecision::IsEnabled()
{
    static const bool enabled = qEnvironmentVariable("DELVORA_LOCAL_DECISION") != u"0";
    return enabled;
}

} // namespace dv
