// The content test over real source files: the per-file cost of a text search.
// Corpus: $DELVORA_CORPUS (default: the Linux tree of ../shared/bench/linux-tree.sh).
#include "core/search/AsciiCaseInsensitiveFinder.h"
#include "core/search/ContentMatcher.h"
#include "core/search/FileAcceptance.h"
#include "core/search/TextExtraction.h"

#include <QDirIterator>
#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <vector>

namespace {

const QStringList &sourceFiles()
{
    static const QStringList files = [] {
        const char *env = std::getenv("DELVORA_CORPUS");
        const QString root = env ? QString::fromLocal8Bit(env)
                                 : QStringLiteral("/tmp/delvora-corpus/linux-source-6.1");
        QStringList list;
        QDirIterator it(root, {QStringLiteral("*.c"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            list.append(it.next());
        return list;
    }();
    return files;
}

// Runs one per-file content test over every source file, counting the files it accepts.
template <typename Test> void RunOverCorpus(benchmark::State &state, Test test)
{
    const QStringList &files = sourceFiles();
    if (files.isEmpty()) {
        state.SkipWithError("no corpus");
        return;
    }
    const QString text = QStringLiteral("PM_RESUME");
    qint64 matches = 0;
    for (auto _ : state) {
        matches = 0;
        for (const QString &f : files)
            matches += test(f, text);
    }
    state.counters["files"] = static_cast<double>(files.size());
    state.counters["matches"] = static_cast<double>(matches);
}

// What delvora-find does per candidate: the shortcut where it applies.
void BM_AcceptCandidateFile(benchmark::State &state)
{
    RunOverCorpus(state, [](const QString &f, const QString &text) {
        return dv::AcceptCandidateFile(f, text);
    });
}
BENCHMARK(BM_AcceptCandidateFile)->Unit(benchmark::kMillisecond)->MinTime(2);

// The same answer through decoding and PosIgnoreCase, as the preview would get it.
void BM_DecodeThenSearch(benchmark::State &state)
{
    RunOverCorpus(state, [](const QString &f, const QString &text) {
        QString t;
        return dv::ExtractText(f, 0, t) && dv::PosIgnoreCase(t, text) > 0;
    });
}
BENCHMARK(BM_DecodeThenSearch)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_FinderOneMiB(benchmark::State &state)
{
    std::vector<char> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = "static int pm_suspend(struct device *dev)\n{\n\treturn 0;\n}\n"[i % 56];
    const dv::AsciiCaseInsensitiveFinder finder(QByteArrayView("PM_RESUME"));
    for (auto _ : state)
        benchmark::DoNotOptimize(finder.indexIn(data.data(), static_cast<qsizetype>(data.size())));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_FinderOneMiB);

} // namespace

BENCHMARK_MAIN();
