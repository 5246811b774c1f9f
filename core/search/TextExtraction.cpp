#include "core/search/TextExtraction.h"

#include "core/search/CachedExtraction.h"
#include "core/search/ExtensionSet.h"
#include "core/search/ExtractionClient.h"
#include "core/search/LowerCase.h"
#include "core/search/ReadOnlyFile.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cerrno>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define DV_WIDE_PROBE 1
#endif

namespace dv {

const std::array<const char *, 80> TextExtensions = {
    ".txt",     ".log",    ".pas",        ".dpr",      ".dfm",  ".dproj", ".ini",    ".cfg",
    ".conf",    ".config", ".properties", ".xml",      ".xaml", ".xslt",  ".csproj", ".vbproj",
    ".vcxproj", ".proj",   ".json",       ".json5",    ".csv",  ".tsv",   ".htm",    ".html",
    ".xhtml",   ".css",    ".scss",       ".sass",     ".less", ".js",    ".jsx",    ".ts",
    ".tsx",     ".cs",     ".vb",         ".vbs",      ".c",    ".h",     ".hpp",    ".hh",
    ".cpp",     ".cc",     ".cxx",        ".hxx",      ".java", ".kt",    ".kts",    ".groovy",
    ".gradle",  ".sql",    ".md",         ".markdown", ".rst",  ".tex",   ".rtf",    ".bat",
    ".cmd",     ".ps1",    ".psm1",       ".psd1",     ".sh",   ".bash",  ".zsh",    ".php",
    ".phtml",   ".inc",    ".py",         ".pyw",      ".rb",   ".pl",    ".pm",     ".lua",
    ".yml",     ".yaml",   ".toml",       ".env",      ".sln",  ".mak",   ".make",   ".mk",
};

QString FileExtension(const QString &fileName)
{
    return FileExtensionView(fileName).toString();
}

QStringView FileExtensionView(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < fileName.lastIndexOf(QLatin1Char('/')))
        return {};
    return fileName.mid(dot);
}

bool IsTextExtension(QStringView ext)
{
    static const ExtensionSet set(TextExtensions);
    return set.contains(ext);
}

namespace {

#if defined(DV_WIDE_PROBE)
bool hasAvx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

// The binary test's loop 32 bytes at a time, for processors with AVX2: from I on while a whole
// block fits; adds the control bytes to Control. False at a zero byte.
__attribute__((target("avx2"))) bool wideProbe(const char *bytes, qsizetype count, qsizetype &i,
                                               qint64 &control)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i max = _mm256_set1_epi8(31);
    const __m256i tab = _mm256_set1_epi8(9), lf = _mm256_set1_epi8(10);
    const __m256i cr = _mm256_set1_epi8(13);
    // Per-lane counters, summed (into Control) before a lane could overflow.
    __m256i lanes = zero;
    int blocks = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes + i));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, zero)))
            return false;
        const __m256i low = _mm256_cmpeq_epi8(_mm256_min_epu8(v, max), v);
        const __m256i allowed =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, tab), _mm256_cmpeq_epi8(v, lf)),
                            _mm256_cmpeq_epi8(v, cr));
        lanes = _mm256_sub_epi8(lanes, _mm256_andnot_si256(allowed, low));
        if (++blocks == 255 || i + 64 > count) {
            const __m256i sums = _mm256_sad_epu8(lanes, zero);
            control += _mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) +
                       _mm256_extract_epi64(sums, 2) + _mm256_extract_epi64(sums, 3);
            lanes = zero;
            blocks = 0;
        }
    }
    return true;
}
#endif

} // namespace

bool LooksLikeText(const char *bytes, qsizetype count)
{
    if (count <= 0)
        return false;
    qint64 control = 0;
    qsizetype i = 0;
#if defined(DV_WIDE_PROBE)
    if (hasAvx2() && !wideProbe(bytes, count, i, control))
        return false;
#endif
#if defined(__SSE2__)
    // 16 bytes at a time: a zero byte ends the test, bytes 1-31 except tab, LF, CR count.
    const __m128i zero = _mm_setzero_si128();
    const __m128i max = _mm_set1_epi8(31);
    const __m128i tab = _mm_set1_epi8(9), lf = _mm_set1_epi8(10), cr = _mm_set1_epi8(13);
    // Per-lane counters (a control byte's mask is -1, so subtracting it adds one), summed
    // before a lane could overflow.
    __m128i lanes = zero;
    int blocks = 0;
    auto flush = [&] {
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        control += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
        lanes = zero;
        blocks = 0;
    };
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)))
            return false;
        const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(v, max), v);
        const __m128i allowed = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, cr));
        lanes = _mm_sub_epi8(lanes, _mm_andnot_si128(allowed, low));
        if (++blocks == 255)
            flush();
    }
    flush();
#endif
    for (; i < count; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == 0)
            return false;
        if (b < 32 && b != 9 && b != 10 && b != 13)
            ++control;
    }
    return control * 100 / count < 30;
}

QString DecodeUtf8Lenient(const char *bytes, qsizetype start, qsizetype count)
{
    if (count <= 0)
        return {};
    // One code unit per byte at most, so the first allocation is the last.
    QString out(count, Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes);
    qsizetype i = start;
    const qsizetype end = start + count;
    auto cont = [&](qsizetype k) { return (p[k] & 0xC0) == 0x80; };
    while (i < end) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            *o++ = b;
            i += 1;
        } else if ((b & 0xE0) == 0xC0 && i + 1 < end && cont(i + 1)) {
            *o++ = static_cast<char16_t>(((b & 0x1F) << 6) | (p[i + 1] & 0x3F));
            i += 2;
        } else if ((b & 0xF0) == 0xE0 && i + 2 < end && cont(i + 1) && cont(i + 2)) {
            *o++ = static_cast<char16_t>(((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) |
                                         (p[i + 2] & 0x3F));
            i += 3;
        } else if ((b & 0xF8) == 0xF0 && i + 3 < end && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            *o++ = u'?';
            i += 4;
        } else {
            *o++ = u'?';
            i += 1;
        }
    }
    out.truncate(o - reinterpret_cast<const char16_t *>(out.constData()));
    return out;
}

QString DecodeUtf8Lenient(const QByteArray &bytes, qsizetype start, qsizetype count)
{
    if (start < 0 || count <= 0 || start > bytes.size())
        return {};
    return DecodeUtf8Lenient(bytes.constData(), start, std::min(count, bytes.size() - start));
}

QString DecodeAnsi(const char *bytes, qsizetype count)
{
    QStringDecoder decoder("windows-1252");
    if (!decoder.isValid())
        return QString::fromLatin1(bytes, count);
    return decoder.decode(QByteArrayView(bytes, count));
}

QByteArray EncodeAnsi(QStringView text)
{
    QStringEncoder encoder("windows-1252", QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        return text.toLatin1();
    // One character at a time: ICU puts SUB (0x1A) for a character the code page lacks,
    // where the system would put "?".
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype len = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            len = 2;
        const QByteArray bytes = encoder.encode(text.mid(i, len));
        const bool missing = bytes.size() != 1 || (bytes[0] == '\x1A' && text[i] != QChar(0x1A));
        out += missing ? '?' : bytes[0];
        i += len - 1;
    }
    return out;
}

QByteArray EncodeAnsiExact(QStringView text)
{
    QByteArray out = EncodeAnsi(text);
    // "?" stands for a character the code page lacks wherever the text had none.
    for (qsizetype i = 0, j = 0; i < text.size(); ++i, ++j) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        if (out[j] == '?' && text[i] != QLatin1Char('?'))
            return {};
    }
    return out;
}

qint64 ReadFileHead(const QString &fileName, qint64 maxBytes, std::vector<char> &buffer,
                    ContentTestError *failure)
{
    QString error;
    int openErrno = 0;
    ReadOnlyFile file = OpenFileForReading(fileName, error, openErrno);
    if (!file.isOpen()) {
        if (failure)
            *failure = ContentTestError::CannotOpen(openErrno);
        return -1;
    }
    const qint64 n = std::min(file.size(), maxBytes);
    if (n <= 0)
        return 0;
    if (static_cast<qint64>(buffer.size()) < n)
        buffer.resize(static_cast<size_t>(n));
    errno = 0;
    const qint64 got = file.read(buffer.data(), n);
    if (got < 0 && failure)
        *failure = ContentTestError::CannotRead(errno);
    return got;
}

QString DecodePlainText(const char *bytes, qsizetype count)
{
    if (!LooksLikeText(bytes, std::min<qsizetype>(count, kBinaryProbeLength)))
        return {};
    const bool bom = count >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
                     static_cast<unsigned char>(bytes[1]) == 0xBB &&
                     static_cast<unsigned char>(bytes[2]) == 0xBF;
    QString text =
        bom ? DecodeUtf8Lenient(bytes, 3, count - 3) : DecodeUtf8Lenient(bytes, 0, count);
    // Mostly "?" means the bytes were no UTF-8 at all: read them as the ANSI code page.
    if (!text.isEmpty() && 2 * text.count(QLatin1Char('?')) > text.size())
        text = DecodeAnsi(bytes, count);
    return text;
}

namespace {

bool ExtractTextWith(const QString &fileName, int maxBytes, QString &text, bool *truncated,
                     bool cacheInUse, ExtractedTextCache *cache)
{
    text.clear();
    if (truncated)
        *truncated = false;
    try {
        if (IsTextExtension(FileExtensionView(fileName))) {
            std::vector<char> buffer;
            const qint64 limit = maxBytes < 1 ? kDefaultExtractionLimit : maxBytes;
            // One byte more tells whether the file goes on past the limit.
            qint64 n = ReadFileHead(fileName, limit + 1, buffer);
            if (n <= 0)
                return false;
            if (truncated)
                *truncated = n > limit;
            n = std::min(n, limit);
            text = DecodePlainText(buffer.data(), n);
            if (text.isEmpty() && truncated)
                *truncated = false;
            return !text.isEmpty();
        }
        QString errorText;
        if (!ExtractTextThroughCache(
                fileName, text, errorText, cacheInUse ? TextCacheInUse() : cache, truncated,
                ExtractionServerEndpoint(), ExtractionReadTimeout(), TextSource::LocalWhenKnown))
            text.clear();
        return !text.isEmpty();
    } catch (...) {
        text.clear();
        return false;
    }
}

} // namespace

bool ExtractText(const QString &fileName, int maxBytes, QString &text, bool *truncated)
{
    return ExtractTextWith(fileName, maxBytes, text, truncated, true, nullptr);
}

bool ExtractText(const QString &fileName, int maxBytes, QString &text, bool *truncated,
                 ExtractedTextCache *cache)
{
    return ExtractTextWith(fileName, maxBytes, text, truncated, false, cache);
}

} // namespace dv
