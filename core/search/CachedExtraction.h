#pragma once

#include "core/cache/TextCompression.h"
#include "core/search/ExtractionClient.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

namespace dv {

class ExtractedTextCache;

// The cache where the content test and the preview keep the server's texts (process-wide,
// thread-safe): the user's cache (ExtractedTextCache::Instance(), opened at first use) unless
// another is set; nullptr when caching is turned off.
ExtractedTextCache *TextCacheInUse();
// Uses Cache from now on; nullptr returns to the user's cache.
void UseTextCache(ExtractedTextCache *cache);
// Off: no lookup, no store, and the user's cache is never opened.
void SetTextCacheEnabled(bool enabled);
// Writes what the cache in use still holds back, for a process that ends without running its
// destructors (briefly: another program's write is not waited for long); the user's cache is
// flushed only when it was opened.
void FlushTextCacheInUse();

// Whether a file whose server text its first bytes tell already (LocalTextDecision) is read
// here (LocalTextSource), neither sent to the server nor looked up in a cache.
enum class TextSource
{
    ServerOnly,
    LocalWhenKnown
};

// The exchange of StreamTextViaServer, through Cache (nullptr: none), unless Source lets the
// file be read here. When Cache holds the text of this very version of the file (identity taken
// from the open descriptor), the text goes to Sink in one piece (none when empty) and no request is
// sent. Otherwise the server's text is also kept in Cache, but only when it arrived whole (Sink
// never stopped it, not beyond kMaxExtractedTextLength) and the file was the same before and after
// the exchange.
// Failed when the file cannot be opened or the exchange failed; ErrorText then says why, and
// Failure (when given) how, for the user.
// Probe, when given, sees a cached or locally read text first as its UTF-8 bytes, piece by
// piece while it is decompressed or read (Feed returns false once it needs no more); when
// Settled then says it has all it wanted of that text, the text is not decoded nor given to
// Sink.
// Admits, when given, sees the cached text's fingerprint (TextFingerprint) before any of it is
// read: when it says no, the text is not read at all and nothing goes to Sink.
struct CachedTextProbe
{
    TextPieceVisitor feed;
    std::function<bool()> settled;
    std::function<bool(QByteArrayView fingerprint)> admits;
};
ExtractionEnd StreamTextThroughCache(const QString &fileName, const ExtractedTextSink &sink,
                                     QString &errorText, ExtractedTextCache *cache,
                                     const QString &endpoint = ExtractionServerEndpoint(),
                                     int readTimeoutMs = ExtractionReadTimeout(),
                                     ContentTestError *failure = nullptr,
                                     const CachedTextProbe &probe = {},
                                     TextSource source = TextSource::ServerOnly);

// ExtractTextViaServer through Cache, as above.
bool ExtractTextThroughCache(const QString &fileName, QString &text, QString &errorText,
                             ExtractedTextCache *cache, bool *truncated = nullptr,
                             const QString &endpoint = ExtractionServerEndpoint(),
                             int readTimeoutMs = ExtractionReadTimeout(),
                             TextSource source = TextSource::ServerOnly);

} // namespace dv
