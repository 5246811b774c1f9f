#include "core/search/CachedExtraction.h"

#include "core/cache/ExtractedTextCache.h"
#include "core/cache/FileIdentity.h"
#include "core/cache/TextCompressor.h"
#include "core/platform/FileName.h"
#include "core/search/LocalTextSource.h"
#include "core/search/ReadOnlyFile.h"
#include "core/search/TextFingerprint.h"

#include <QStringDecoder>

#include <atomic>

namespace dv {

namespace {

std::atomic<bool> cacheEnabled{true};
std::atomic<ExtractedTextCache *> cacheOverride{nullptr};
std::atomic<bool> userCacheOpened{false};

} // namespace

ExtractedTextCache *TextCacheInUse()
{
    if (!cacheEnabled)
        return nullptr;
    if (ExtractedTextCache *cache = cacheOverride)
        return cache;
    userCacheOpened = true;
    return &ExtractedTextCache::Instance();
}

void FlushTextCacheInUse()
{
    if (ExtractedTextCache *cache = cacheOverride)
        cache->flush(true);
    else if (userCacheOpened)
        ExtractedTextCache::Instance().flush(true);
}

void UseTextCache(ExtractedTextCache *cache)
{
    cacheOverride = cache;
}

void SetTextCacheEnabled(bool enabled)
{
    cacheEnabled = enabled;
}

ExtractionEnd StreamTextThroughCache(const QString &fileName, const ExtractedTextSink &sink,
                                     QString &errorText, ExtractedTextCache *cache,
                                     const QString &endpoint, int readTimeoutMs,
                                     ContentTestError *failure, const CachedTextProbe &probe,
                                     TextSource source)
{
    errorText.clear();
    try {
        int openErrno = 0;
        ReadOnlyFile file = OpenFileForReading(fileName, errorText, openErrno);
        if (!file.isOpen()) {
            if (failure)
                *failure = ContentTestError::CannotOpen(openErrno);
            return ExtractionEnd::Failed;
        }
        if (source == TextSource::LocalWhenKnown)
            if (const std::optional<ExtractionEnd> local =
                    LocalTextSource::Read(file, sink, probe, failure))
                return *local;
        const std::optional<FileIdentity> before =
            cache ? FileIdentity::OfDescriptor(file.fd()) : std::nullopt;
        if (!before)
            return StreamFileViaServer(file.fd(), sink, errorText, endpoint, readTimeoutMs,
                                       failure);

        // The name's own bytes: a name that is not UTF-8 is keyed as the disk has it.
        const QByteArray key = EncodeFileName(fileName);
        bool stored = true;
        if (probe.feed) {
            const ExtractedTextCache::Read read =
                cache->readUtf8(key, *before, probe.feed, probe.admits);
            if (read == ExtractedTextCache::Read::RuledOut)
                return ExtractionEnd::Complete;
            stored = read != ExtractedTextCache::Read::Missing;
            if (stored && probe.settled())
                return ExtractionEnd::Complete;
        }
        if (stored) {
            // Decoded a piece at a time, never held whole: a long text costs a piece's memory.
            // The sink cannot take back what it saw, so a damaged text must reach it not at
            // all: its check comes first.
            QStringDecoder decoder(QStringDecoder::Utf8);
            const auto decode = [&](const char *bytes, qsizetype size) {
                const QString piece = decoder(QByteArrayView(bytes, size));
                return piece.isEmpty() || sink(piece);
            };
            switch (cache->readUtf8(key, *before, decode, {}, true)) {
            case ExtractedTextCache::Read::Whole:
                return ExtractionEnd::Complete;
            case ExtractedTextCache::Read::Stopped:
                return ExtractionEnd::Stopped;
            case ExtractedTextCache::Read::Missing:
            case ExtractedTextCache::Read::RuledOut:
                break;
            }
        }
        // The text is compressed for the cache as it arrives, beside the sink's work, and its
        // fingerprint taken: only its frame is held, never the whole text. Past the bound, or
        // once the sink stops, nothing will be stored.
        TextCompressor compressed;
        TextFingerprint fingerprint;
        qsizetype length = 0;
        bool storable = cache->isAvailable();
        const auto keep = [&](QStringView piece) {
            if (storable) {
                length += piece.size();
                storable = length <= kMaxExtractedTextLength && compressed.append(piece);
                if (storable)
                    fingerprint.add(piece);
            }
            return sink(piece);
        };
        const ExtractionEnd end =
            StreamFileViaServer(file.fd(), keep, errorText, endpoint, readTimeoutMs, failure);
        if (end == ExtractionEnd::Complete && storable &&
            FileIdentity::OfDescriptor(file.fd()) == before)
            cache->store(key, *before, compressed, fingerprint.finish());
        return end;
    } catch (...) {
        errorText = QStringLiteral("Error: unknown failure");
        if (failure)
            *failure = ContentTestError::ExchangeFailed(QStringLiteral("unknown failure"));
    }
    return ExtractionEnd::Failed;
}

bool ExtractTextThroughCache(const QString &fileName, QString &text, QString &errorText,
                             ExtractedTextCache *cache, bool *truncated, const QString &endpoint,
                             int readTimeoutMs, TextSource source)
{
    text.clear();
    if (truncated)
        *truncated = false;
    bool cut = false;
    const auto keep = [&](QStringView piece) {
        const qsizetype room = kMaxExtractedTextLength - text.size();
        if (piece.size() <= room) {
            text.append(piece);
            return true;
        }
        qsizetype n = room;
        // Never half a surrogate pair at the end.
        if (n > 0 && piece[n - 1].isHighSurrogate())
            --n;
        text.append(piece.first(n));
        cut = true;
        return false;
    };
    if (StreamTextThroughCache(fileName, keep, errorText, cache, endpoint, readTimeoutMs, nullptr,
                               {}, source) == ExtractionEnd::Failed ||
        text.isEmpty()) {
        text.clear();
        return false;
    }
    if (truncated)
        *truncated = cut;
    return true;
}

} // namespace dv
