#include "core/search/ContentMatcher.h"

#include "core/search/AsciiCaseInsensitiveFinder.h"
#include "core/search/CachedExtraction.h"
#include "core/search/ExtractionClient.h"
#include "core/search/PlainTextMatch.h"
#include "core/search/ReadOnlyFile.h"
#include "core/search/TextExtraction.h"

#include <QChar>
#include <QSet>

#include <algorithm>
#include <vector>

namespace dv {

std::atomic<bool> ScanUnrecognizedFormats{false};

const std::array<const char *, 145> SkippedExtensions = {
    ".mp4",   ".mkv",   ".avi",  ".mov",    ".wmv",     ".flv",   ".webm",   ".3gp",   ".ts",
    ".m2ts",  ".mts",   ".ogv",  ".vob",    ".mp3",     ".flac",  ".wav",    ".aac",   ".ogg",
    ".wma",   ".m4a",   ".alac", ".opus",   ".amr",     ".aiff",  ".au",     ".ra",    ".jpg",
    ".jpeg",  ".png",   ".gif",  ".bmp",    ".tiff",    ".tif",   ".webp",   ".heic",  ".heif",
    ".raw",   ".cr2",   ".nef",  ".arw",    ".dng",     ".raf",   ".orf",    ".sr2",   ".rw2",
    ".pef",   ".kdc",   ".psd",  ".ai",     ".indd",    ".cdr",   ".ttf",    ".otf",   ".woff",
    ".woff2", ".eot",   ".exe",  ".dll",    ".sys",     ".drv",   ".com",    ".bin",   ".elf",
    ".so",    ".dylib", ".ocx",  ".o",      ".obj",     ".class", ".pyc",    ".pyd",   ".pdb",
    ".lib",   ".a",     ".crx",  ".wasm",   ".blend",   ".3ds",   ".max",    ".mesh",  ".mb",
    ".ma",    ".3dm",   ".3mf",  ".lwo",    ".x3dbin",  ".dwg",   ".prproj", ".veg",   ".flp",
    ".als",   ".ptx",   ".aup3", ".dds",    ".gltfbin", ".ktx",   ".pkm",    ".pvr",   ".iso",
    ".img",   ".vmdk",  ".vdi",  ".vhd",    ".vhdx",    ".qcow2", ".ova",    ".pak",   ".dat",
    ".wad",   ".bfres", ".bnk",  ".uasset", ".umap",    ".pak0",  ".lz",     ".lz4",   ".lzma",
    ".xz",    ".bz2",   ".zip",  ".rar",    ".gz",      ".exr",   ".hdr",    ".sgi",   ".psb",
    ".qbb",   ".qbw",   ".pst",  ".ost",    ".dbf",     ".mdf",   ".mdb",    ".accdb", ".sdf",
    ".ndf",   ".ico",   ".res",  ".bakimg", ".bhv",     ".vfs",   ".trace",  ".etl",   ".dmp",
    ".core",
};

QString LowerCasePerCodePoint(QStringView s)
{
    QString out(s.size(), Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    const char16_t *p = s.utf16();
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c < 0x80) {
            o[i] = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
            const char32_t lower = QChar::toLower(QChar::surrogateToUcs4(c, p[i + 1]));
            if (QChar::requiresSurrogates(lower)) {
                o[i] = QChar::highSurrogate(lower);
                o[i + 1] = QChar::lowSurrogate(lower);
            } else {
                o[i] = c;
                o[i + 1] = p[i + 1];
            }
            ++i;
        } else {
            o[i] = static_cast<char16_t>(QChar::toLower(char32_t(c)));
        }
    }
    return out;
}

bool IsSkippedExtension(QStringView ext)
{
    static const QSet<QString> set = [] {
        QSet<QString> s;
        for (const char *e : SkippedExtensions)
            s.insert(QString::fromLatin1(e));
        return s;
    }();
    return !ext.isEmpty() && set.contains(LowerCasePerCodePoint(ext));
}

qsizetype PosIgnoreCase(QStringView haystack, QStringView needle)
{
    if (haystack.isEmpty() || needle.isEmpty())
        return 0;
    const QString h = LowerCasePerCodePoint(haystack);
    const QString n = LowerCasePerCodePoint(needle);
    return h.indexOf(n, 0, Qt::CaseSensitive) + 1;
}

bool IsAsciiOnly(QStringView s)
{
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() <= 127; });
}

qsizetype FindBytes(QByteArrayView data, QByteArrayView pattern)
{
    if (pattern.isEmpty() || pattern.size() > data.size())
        return -1;
    return data.indexOf(pattern);
}

bool FindBytesAsciiIgnoreCase(QByteArrayView data, QByteArrayView pattern)
{
    if (pattern.isEmpty() || pattern.size() > data.size())
        return false;
    // Folded data holds no upper-case letter, so a pattern with one can never match.
    if (std::any_of(pattern.begin(), pattern.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        return false;
    return AsciiCaseInsensitiveFinder(pattern).indexIn(data.data(), data.size()) >= 0;
}

namespace {

// The byte forms a raw scan looks for: the UTF-8 bytes, and for a text beyond ASCII also the
// ANSI bytes when every character has one (a lossy form would match unrelated "?" runs).
struct RawPatterns
{
    QByteArray utf8;
    QByteArray ansi; // empty when not wanted
    bool ascii = false;
};

const RawPatterns &RawPatternsFor(const QString &text)
{
    // A search asks for the same text file after file: encode it once.
    thread_local QString lastText;
    thread_local RawPatterns last;
    if (text != lastText || last.utf8.isEmpty()) {
        last.ascii = IsAsciiOnly(text);
        last.utf8 = text.toUtf8();
        last.ansi = last.ascii ? QByteArray() : EncodeAnsiExact(text);
        if (last.ansi == last.utf8)
            last.ansi.clear();
        lastText = text;
    }
    return last;
}

bool RawScan(const QString &fileName, const QString &text)
{
    const RawPatterns patterns = RawPatternsFor(text);
    if (patterns.utf8.isEmpty())
        return false;
    const AsciiCaseInsensitiveFinder finder(patterns.utf8);
    QString error;
    ReadOnlyFile file = OpenFileForReading(fileName, error);
    if (!file.isOpen())
        return false;
    const qsizetype keep = std::max(patterns.utf8.size(), patterns.ansi.size()) - 1;
    // Window = carried tail of the previous window followed by the chunk just read.
    std::vector<char> window(static_cast<size_t>(keep + kRawScanChunkSize));
    qsizetype carry = 0;
    for (;;) {
        if (IsContentTestCancelled())
            return false;
        const qint64 got = file.read(window.data() + carry, kRawScanChunkSize);
        if (got < 1)
            return false;
        const qsizetype size = carry + got;
        const QByteArrayView data(window.data(), size);
        const bool found =
            patterns.ascii ? finder.indexIn(window.data(), size) >= 0
                           : FindBytes(data, patterns.utf8) >= 0 ||
                                 (!patterns.ansi.isEmpty() && FindBytes(data, patterns.ansi) >= 0);
        if (found)
            return true;
        const qsizetype next = std::min(keep, size);
        std::copy(window.data() + size - next, window.data() + size, window.data());
        carry = next;
    }
}

// Whether the server's text of the file contains Text, ignoring case, matched as the text
// arrives: only the overlap an occurrence can straddle is held, and reading stops at the
// first occurrence. A whole text that was read goes to Cache; a cached one is searched instead
// of asking the server.
bool ServerTextContains(const QString &fileName, const QString &text, ExtractedTextCache *cache)
{
    const QString needle = LowerCasePerCodePoint(text);
    const qsizetype overlap = needle.size() - 1;
    QString window;
    bool found = false;
    const auto search = [&](QStringView piece) {
        // Pieces hold whole characters, and the lower-casing maps each code point alone and
        // keeps lengths: lowering piece by piece equals lowering the whole text.
        window.append(LowerCasePerCodePoint(piece));
        if (window.indexOf(needle, 0, Qt::CaseSensitive) >= 0) {
            found = true;
            return false;
        }
        window.remove(0, std::max<qsizetype>(0, window.size() - overlap));
        return true;
    };
    QString errorText;
    StreamTextThroughCache(fileName, search, errorText, cache);
    return found;
}

bool ExtractedTextContains(const QString &fileName, const QString &text, bool cacheInUse,
                           ExtractedTextCache *cache)
{
    if (!IsTextExtension(FileExtension(fileName)))
        return ServerTextContains(fileName, text, cacheInUse ? TextCacheInUse() : cache);
    // The direct path, reading into a buffer kept per thread, with a shortcut that answers
    // for ASCII text straight on the bytes whenever that is provably the same answer.
    thread_local std::vector<char> buffer;
    const qint64 n = ReadFileHead(fileName, kDefaultExtractionLimit, buffer);
    if (n <= 0)
        return false;
    if (IsAsciiOnly(text)) {
        const AsciiCaseInsensitiveFinder finder(text.toLatin1());
        const PlainTextVerdict verdict = MatchPlainTextFast(buffer.data(), n, finder);
        if (verdict != PlainTextVerdict::NeedsFullDecode)
            return verdict == PlainTextVerdict::Found;
    } else if (const QByteArray fragment = RequiredAsciiFragment(text); fragment.size() >= 2) {
        // Other text: a file whose text lacks the text's longest ASCII run is not decoded.
        const AsciiCaseInsensitiveFinder finder(fragment);
        if (MatchPlainTextFast(buffer.data(), n, finder) == PlainTextVerdict::NotFound)
            return false;
    }
    return PosIgnoreCase(DecodePlainText(buffer.data(), n), text) > 0;
}

} // namespace

namespace {

bool TestFileContents(const QString &fileName, const QString &text, bool cacheInUse,
                      ExtractedTextCache *cache)
{
    if (text.isEmpty())
        return false;
    try {
        if (ExtractedTextContains(fileName, text, cacheInUse, cache))
            return true;
    } catch (...) {
        return false;
    }
    if (!ScanUnrecognizedFormats)
        return false;
    try {
        return RawScan(fileName, text);
    } catch (...) {
        return false;
    }
}

} // namespace

bool FileContainsText(const QString &fileName, const QString &text)
{
    return TestFileContents(fileName, text, true, nullptr);
}

bool FileContainsText(const QString &fileName, const QString &text, ExtractedTextCache *cache)
{
    return TestFileContents(fileName, text, false, cache);
}

} // namespace dv
