#pragma once

#include "core/cache/FileIdentity.h"
#include "core/cache/TextCompression.h"
#include "core/cache/TextCompressor.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace dv {

// Default bound of the extracted-text cache: the sum of the stored (compressed) entries.
constexpr qint64 kDefaultTextCacheBytes = 512LL * 1024 * 1024;
// A text is kept only when its file has not changed for this long: a write within the same
// clock tick as the last one leaves the identity as it was, so a text read from a file that
// just changed could outlive the change unseen.
constexpr int kDefaultTextCacheSettleMs = 2000;

// The per-user store of text that the extraction server returned, so that a repeated search or
// preview of an unchanged document skips the extraction. One SQLite database (WAL, text
// compressed with zstd) in a private folder, shared by every program of the user at once;
// an entry is found only under the path's bytes and the file's whole identity.
//
// Only whole texts go in: never a text cut off at a first match or at a length bound.
// Lookups are safe from any thread. Stores are compressed by the caller, queued, and written in
// batches by a thread of the cache's own; the destructor writes what is still queued. Every failure
// (folder unusable, disk full, database locked or corrupt) turns into "not cached": lookups miss
// and stores are dropped; nothing here throws. Waits for other programs are short, and end at once
// when the waiting thread's content test (or the program) is cancelled. A damaged database, or a
// file that is not ours, is renamed to FileName() + ".bad" and a new one is made.
class ExtractedTextCache
{
public:
    // Opens, and creates when needed, the cache in Folder (made with mode 0700). MaxBytes
    // bounds it, least recently used entries going first; SettleMs: see the constant above.
    explicit ExtractedTextCache(const QString &folder, qint64 maxBytes = kDefaultTextCacheBytes,
                                int settleMs = kDefaultTextCacheSettleMs);
    ~ExtractedTextCache();
    ExtractedTextCache(const ExtractedTextCache &) = delete;
    ExtractedTextCache &operator=(const ExtractedTextCache &) = delete;

    // The cache of this user in DefaultFolder(), opened at the first call.
    static ExtractedTextCache &Instance();
    // $XDG_CACHE_HOME/delvora when that variable holds an absolute path, else
    // ~/.cache/delvora.
    static QString DefaultFolder();
    // Name of the database file in the folder.
    static QString FileName();

    // False when the cache could not be opened (or reopened after damage): then every lookup
    // misses and every store is dropped.
    bool isAvailable() const;
    // Why the cache last failed, for a log; empty when nothing failed.
    QString lastError() const;

    // The text stored for Path (the file name's bytes) with exactly this Identity, or nothing.
    std::optional<QString> lookup(const QByteArray &path, const FileIdentity &identity);
    // The same text as its UTF-8 bytes, as stored (a search may answer on them undecoded),
    // into UTF8, whose memory is reused; false, with UTF8 empty, when there is none.
    bool lookupUtf8(const QByteArray &path, const FileIdentity &identity, QByteArray &utf8);
    // How a reading of a stored text ended: none stored (or it turned out damaged on the way,
    // and the pieces seen were not the text), all of it seen, Visit wanted no more, or the
    // text's fingerprint ruled it out and none of it was read.
    enum class Read
    {
        Missing,
        Whole,
        Stopped,
        RuledOut
    };
    // Whether a text with this fingerprint (as stored beside it; empty when none) is to be read.
    using FingerprintFilter = std::function<bool(QByteArrayView fingerprint)>;
    // The same text handed to Visit as its UTF-8 bytes a piece at a time, while it is read and
    // decompressed: a search needs no memory for the whole text, and reads and decompresses
    // none of the rest once it has its answer. Filter, when given, first sees the text's
    // fingerprint. With CheckFirst, a damaged text hands Visit nothing (it is read twice).
    Read readUtf8(const QByteArray &path, const FileIdentity &identity,
                  const TextPieceVisitor &visit, const FingerprintFilter &filter = {},
                  bool checkFirst = false);
    // Queues the whole text of Path, whose contents had Identity when they were read (take it
    // from the open descriptor, before and after reading, and store only when both agree),
    // with a Fingerprint of it (TextFingerprint; none when empty) kept beside it.
    void store(const QByteArray &path, const FileIdentity &identity, const QString &text,
               const QByteArray &fingerprint = {});
    // The same for a text compressed as it arrived (finished here): the caller never holds the
    // whole text.
    void store(const QByteArray &path, const FileIdentity &identity, TextCompressor &text,
               const QByteArray &fingerprint = {});
    // Waits until everything queued so far is written or dropped. Briefly (at exit), another
    // program's write is waited for only a fraction of a second, and what it holds up is dropped.
    void flush(bool briefly = false);

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

} // namespace dv
