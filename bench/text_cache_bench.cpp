// The extracted-text cache: what a hit costs against the text it gives back, and what storing
// costs the writer, for texts of a page, a long article and a book.
#include "core/cache/ExtractedTextCache.h"
#include "core/cache/TextCompression.h"

#include <QRandomGenerator>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>

namespace {

constexpr int kEntries = 64;

// Words drawn from a small vocabulary: compresses about as well as a document's text.
QString DocumentText(qsizetype length, quint32 seed)
{
    static const char *const words[] = {
        "the",      "file",   "search", "Müller", "für",      "extraction", "server",
        "cache",    "of",     "and",    "text",   "document", "page",       "report",
        "annual",   "budget", "2026",   "in",     "with",     "a",          "table",
        "contents", "figure", "is",     "to",     "chapter",  "section",    "results"};
    QRandomGenerator random(seed);
    QString text;
    text.reserve(length + 16);
    while (text.size() < length) {
        text += QString::fromUtf8(words[random.bounded(int(std::size(words)))]);
        text += random.bounded(12) == 0 ? QLatin1Char('\n') : QLatin1Char(' ');
    }
    return text;
}

dv::FileIdentity IdentityFor(int i)
{
    dv::FileIdentity identity;
    identity.device = 2049;
    identity.inode = quint64(1000 + i);
    identity.size = 4096 * (i + 1);
    identity.modifiedNs = 1700000000000000000LL + i;
    identity.changedNs = identity.modifiedNs;
    return identity;
}

QByteArray PathFor(int i)
{
    return "/home/user/Documents/reports/report-" + QByteArray::number(i) + ".pdf";
}

// Lookups of stored texts, one after another as the content test would make them.
void BM_LookupHit(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString text = DocumentText(state.range(0), 1);
    dv::ExtractedTextCache cache(dir.path(), dv::kDefaultTextCacheBytes, 0);
    for (int i = 0; i < kEntries; ++i) {
        cache.store(PathFor(i), IdentityFor(i), text);
        if (i % 4 == 3)
            cache.flush(); // the queue drops what goes beyond its bound (16 MB)
    }
    int i = 0;
    qint64 hits = 0;
    for (auto _ : state) {
        const auto found = cache.lookup(PathFor(i), IdentityFor(i));
        hits += found.has_value();
        benchmark::DoNotOptimize(found);
        i = (i + 1) % kEntries;
    }
    if (hits != state.iterations())
        state.SkipWithError("a lookup missed");
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(BM_LookupHit)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);

// A miss: the path is there, the identity is not (the file changed).
void BM_LookupMiss(benchmark::State &state)
{
    QTemporaryDir dir;
    dv::ExtractedTextCache cache(dir.path(), dv::kDefaultTextCacheBytes, 0);
    for (int i = 0; i < kEntries; ++i)
        cache.store(PathFor(i), IdentityFor(i), DocumentText(4096, quint32(i)));
    cache.flush();
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(cache.lookup(PathFor(i), IdentityFor(i + 1)));
        i = (i + 1) % kEntries;
    }
}
BENCHMARK(BM_LookupMiss);

// Decoding the same text alone (zstd frame to QString), the floor of a hit.
void BM_DecompressOnly(benchmark::State &state)
{
    const QByteArray bytes = DocumentText(state.range(0), 1).toUtf8();
    const QByteArray frame = dv::CompressText(bytes);
    for (auto _ : state) {
        QByteArray out;
        const auto read = [&](qint64 offset, char *buffer, qsizetype size) {
            std::memcpy(buffer, frame.constData() + offset, size_t(size));
            return true;
        };
        dv::DecompressTextPieces(frame.size(), bytes.size(), read,
                                 [&](const char *piece, qsizetype size) {
                                     out.append(piece, size);
                                     return true;
                                 });
        benchmark::DoNotOptimize(QString::fromUtf8(out));
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["ratio"] = double(bytes.size()) / double(frame.size());
}
BENCHMARK(BM_DecompressOnly)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);

// Stores written in batches of kEntries, flushed: the writer's whole cost per text.
void BM_StoreBatch(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString text = DocumentText(state.range(0), 1);
    // A bound small enough that eviction is part of the steady state.
    dv::ExtractedTextCache cache(dir.path(), 32LL << 20, 0);
    int round = 0;
    for (auto _ : state) {
        for (int i = 0; i < kEntries; ++i)
            cache.store(PathFor(round * kEntries + i), IdentityFor(i), text);
        cache.flush();
        ++round;
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
    state.SetBytesProcessed(state.iterations() * kEntries * text.size() * 2);
}
// Real time: the work is done on the cache's writer thread.
BENCHMARK(BM_StoreBatch)->Arg(4 << 10)->Arg(64 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
