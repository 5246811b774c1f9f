#include "core/search/ContentMatcher.h"

#include "core/search/AsciiCaseInsensitiveFinder.h"
#include "core/search/CachedExtraction.h"
#include "core/search/ContentPattern.h"
#include "core/search/ExtensionSet.h"
#include "core/search/ExtractionClient.h"
#include "core/search/PlainTextMatch.h"
#include "core/search/ReadOnlyFile.h"
#include "core/search/TextExtraction.h"
#include "core/search/TextFingerprint.h"

#include <QChar>

#include <algorithm>
#include <cerrno>
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

bool IsSkippedExtension(QStringView ext)
{
    static const ExtensionSet set(SkippedExtensions);
    return set.contains(ext);
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

bool RawScan(const QString &fileName, const ContentPattern &pattern, ContentTestError &error)
{
    const QByteArray &utf8 = pattern.utf8();
    const QByteArray &ansi = pattern.ansi();
    if (utf8.isEmpty())
        return false;
    QString openError;
    int openErrno = 0;
    ReadOnlyFile file = OpenFileForReading(fileName, openError, openErrno);
    if (!file.isOpen()) {
        error = ContentTestError::CannotOpen(openErrno);
        return false;
    }
    const qsizetype keep = std::max(utf8.size(), ansi.size()) - 1;
    // Window = carried tail of the previous window followed by the chunk just read.
    thread_local std::vector<char> window;
    window.resize(static_cast<size_t>(keep + kRawScanChunkSize));
    qsizetype carry = 0;
    for (;;) {
        if (IsContentTestCancelled()) {
            error = ContentTestError::Cancelled();
            return false;
        }
        errno = 0;
        const qint64 got = file.read(window.data() + carry, kRawScanChunkSize);
        if (got < 0)
            error = ContentTestError::CannotRead(errno);
        if (got < 1)
            return false;
        const qsizetype size = carry + got;
        const QByteArrayView data(window.data(), size);
        const bool found =
            pattern.isAscii()
                ? pattern.asciiFinder().indexIn(window.data(), size) >= 0
                : FindBytes(data, utf8) >= 0 || (!ansi.isEmpty() && FindBytes(data, ansi) >= 0);
        if (found)
            return true;
        const qsizetype next = std::min(keep, size);
        std::copy(window.data() + size - next, window.data() + size, window.data());
        carry = next;
    }
}

// Whether the server's text of the file contains the text, ignoring case, matched as the text
// arrives: only the overlap an occurrence can straddle is held, and reading stops at the
// first occurrence (with no Cache), or at kMaxExtractedTextLength code units (the bound every
// server text has here; a server that never stops sending would hold the search for ever). A
// whole text that was read goes to Cache; a cached one is searched instead of asking the server,
// and so is a file whose first bytes tell its server text (LocalTextSource).
bool ServerTextContains(const QString &fileName, const ContentPattern &pattern,
                        ExtractedTextCache *cache, ContentTestError &error)
{
    const QString &needle = pattern.lowered();
    const qsizetype overlap = needle.size() - 1;
    QString window;
    qsizetype seen = 0;
    bool found = false;
    bool overLimit = false;
    const auto search = [&](QStringView piece) {
        // With a cache the read goes on past the match to the text's end, so that the whole
        // text is kept and the next search of this file sends no request.
        if (found) {
            seen += piece.size();
            return seen <= kMaxExtractedTextLength;
        }
        const qsizetype room = kMaxExtractedTextLength - seen;
        if (piece.size() > room) {
            qsizetype n = room;
            if (n > 0 && piece[n - 1].isHighSurrogate())
                --n; // never half a pair
            piece = piece.first(n);
            overLimit = true;
        }
        seen += piece.size();
        // Pieces hold whole characters, and the lower-casing maps each code point alone and
        // keeps lengths: lowering piece by piece equals lowering the whole text.
        window.append(LowerCasePerCodePoint(piece));
        if (window.indexOf(needle, 0, Qt::CaseSensitive) >= 0) {
            found = true;
            window = QString();
            return cache != nullptr && !overLimit;
        }
        window.remove(0, std::max<qsizetype>(0, window.size() - overlap));
        return !overLimit;
    };
    // A cached text is first looked at as the bytes it is stored in; most texts are settled
    // there and never decoded.
    TextBytesMatcher matcher(pattern);
    CachedTextProbe probe;
    probe.feed = [&](const char *bytes, qsizetype size) { return matcher.feed(bytes, size); };
    probe.settled = [&] {
        const PlainTextVerdict verdict = matcher.verdict();
        found = verdict == PlainTextVerdict::Found;
        return verdict != PlainTextVerdict::NeedsFullDecode;
    };
    // A cached text whose fingerprint lacks a trigram of the text to find is not read.
    const TextFingerprint::Query query(pattern.text());
    probe.admits = [&](QByteArrayView fingerprint) { return query.mayMatch(fingerprint); };
    QString errorText;
    StreamTextThroughCache(fileName, search, errorText, cache, ExtractionServerEndpoint(),
                           ExtractionReadTimeout(), &error, probe, TextSource::LocalWhenKnown);
    if (!found && overLimit)
        error = ContentTestError::ServerTextOverLimit(kMaxExtractedTextLength);
    return found;
}

bool ExtractedTextContains(const QString &fileName, const ContentPattern &pattern, bool cacheInUse,
                           ExtractedTextCache *cache, ContentTestError &error)
{
    if (!IsTextExtension(FileExtensionView(fileName)))
        return ServerTextContains(fileName, pattern, cacheInUse ? TextCacheInUse() : cache, error);
    // The direct path, reading into a buffer kept per thread, with shortcuts that answer
    // straight on the bytes whenever that is provably the same answer. One byte past the limit
    // tells whether the file goes on beyond what is decoded.
    thread_local std::vector<char> buffer;
    const qint64 got = ReadFileHead(fileName, kDefaultExtractionLimit + 1, buffer, &error);
    if (got <= 0)
        return false;
    const qint64 n = std::min<qint64>(got, kDefaultExtractionLimit);
    // Past the limit the rest went unread, unless the head says binary (no text at all).
    const auto unfound = [&] {
        if (got > kDefaultExtractionLimit &&
            LooksLikeText(buffer.data(), std::min<qint64>(n, kBinaryProbeLength)))
            error = ContentTestError::PlainTextOverLimit(kDefaultExtractionLimit);
        return false;
    };
    const PlainTextVerdict verdict = MatchPlainTextFast(buffer.data(), n, pattern);
    if (verdict != PlainTextVerdict::NeedsFullDecode)
        return verdict == PlainTextVerdict::Found || unfound();
    const QString decoded = LowerCasePerCodePoint(DecodePlainText(buffer.data(), n));
    return decoded.indexOf(pattern.lowered(), 0, Qt::CaseSensitive) >= 0 || unfound();
}

ContentTestResult TestFileContents(const QString &fileName, const ContentPattern &pattern,
                                   bool cacheInUse, ExtractedTextCache *cache)
{
    ContentTestResult result;
    if (pattern.text().isEmpty())
        return result;
    // A test that ended while a cancel was set is cancelled, whatever stopped it.
    const auto settle = [&] {
        if (!result.Found && IsContentTestCancelled())
            result.Error = ContentTestError::Cancelled();
        return result;
    };
    try {
        result.Found = ExtractedTextContains(fileName, pattern, cacheInUse, cache, result.Error);
    } catch (...) {
        result.Error = ContentTestError::ExchangeFailed(QStringLiteral("unknown failure"));
        return settle();
    }
    if (result.Found) {
        result.Error = {};
        return result;
    }
    if (!ScanUnrecognizedFormats)
        return settle();
    ContentTestError rawError;
    try {
        result.Found = RawScan(fileName, pattern, rawError);
    } catch (...) {
        rawError = ContentTestError::ExchangeFailed(QStringLiteral("unknown failure"));
    }
    if (result.Found) {
        result.Error = {};
    } else if (rawError.IsSet()) {
        if (!result.Error.IsSet() || result.Error.Failure == ContentTestFailure::OverLimit)
            result.Error = rawError;
    } else if (result.Error.Failure == ContentTestFailure::OverLimit &&
               IsTextExtension(FileExtensionView(fileName))) {
        result.Error = {}; // the raw scan read the plain-text file to its end
    }
    return settle();
}

} // namespace

ContentTestResult TestFileContent(const QString &fileName, const QString &text)
{
    return TestFileContents(fileName, *ContentPattern::forText(text), true, nullptr);
}

ContentTestResult TestFileContent(const QString &fileName, const QString &text,
                                  ExtractedTextCache *cache)
{
    return TestFileContents(fileName, *ContentPattern::forText(text), false, cache);
}

bool FileContainsText(const QString &fileName, const ContentPattern &pattern)
{
    return TestFileContents(fileName, pattern, true, nullptr).Found;
}

bool FileContainsText(const QString &fileName, const QString &text)
{
    return TestFileContent(fileName, text).Found;
}

bool FileContainsText(const QString &fileName, const QString &text, ExtractedTextCache *cache)
{
    return TestFileContent(fileName, text, cache).Found;
}

} // namespace dv
