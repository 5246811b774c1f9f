// The automatic refresh of the result list on a large tree, offscreen: the search's own time
// with the refresh on against off (the walk watches each folder before listing it; target
// ratio within 1.05), the time from the end of the search until every folder is watched, and
// that reading every file afterwards (what a content search does) causes no change event.
// Corpus: $DELVORA_CORPUS (default: the Linux tree of ../shared/bench/linux-tree.sh).
#include "bench/GuiBench.h"
#include "core/filesearch/TDvShellChangeNotifier.h"
#include "core/platform/FileName.h"
#include "gui/filesearch/TDvFileList.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

using dv::bench::Corpus;
using dv::bench::WaitFor;

// One search of the corpus without text into a fresh list; returns the list.
std::unique_ptr<dv::TDvFileList> Search(bool pRefresh, int &pEnds)
{
    auto list = std::make_unique<dv::TDvFileList>();
    list->SetAutomaticRefresh(pRefresh);
    list->SearchOptions().SetFilter(QStringLiteral("*.*"));
    list->SetOnEndSearch([&pEnds] { ++pEnds; });
    list->Search(Corpus());
    WaitFor([&] { return pEnds > 0; });
    return list;
}

void RunSearch(benchmark::State &state, bool pRefresh)
{
    int rows = 0;
    for (auto _ : state) {
        int ends = 0;
        auto list = Search(pRefresh, ends);
        state.PauseTiming();
        rows = list->ItemCount();
        // The watches of this list are all in place (and then dropped) before the next
        // search, which would otherwise share the processor with them.
        if (pRefresh)
            WaitFor([&] { return list->Notifier().AllWatchesAdded(); });
        list.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
}

void BM_SearchRefreshOff(benchmark::State &state)
{
    RunSearch(state, false);
}
BENCHMARK(BM_SearchRefreshOff)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

void BM_SearchRefreshOn(benchmark::State &state)
{
    RunSearch(state, true);
}
BENCHMARK(BM_SearchRefreshOn)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

// From the end of the search until every folder of the tree has its watch; then every file
// is read and listed, and a file created afterwards must be the only change reported.
void BM_WatchWholeTree(benchmark::State &state)
{
    int watches = 0;
    int eventsFromReads = 0;
    for (auto _ : state) {
        state.PauseTiming();
        int ends = 0;
        auto list = Search(true, ends);
        state.ResumeTiming();
        WaitFor([&] { return list->Notifier().AllWatchesAdded(); });
        state.PauseTiming();
        watches = list->Notifier().WatchCount();

        dv::TDvShellChangeNotifier &notifier = list->Notifier();
        int changes = 0;
        bool sentinelSeen = false;
        const QString sentinel = Corpus() + QStringLiteral("/.delvora-refresh-sentinel");
        auto forward = notifier.OnChange;
        notifier.OnChange = [&](dv::TDvShellChangeNotifier &n, dv::TNotificationEvent e,
                                const QString &p1, const QString &p2) {
            if (p1 == sentinel)
                sentinelSeen = true;
            else
                ++changes;
            forward(n, e, p1, p2);
        };
        char buffer[64 * 1024];
        QDirIterator it(Corpus(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const int fd = ::open(dv::EncodeFileName(it.next()).constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
            ::close(fd);
        }
        QFile(sentinel).open(QIODevice::WriteOnly);
        WaitFor([&] { return sentinelSeen; });
        QFile::remove(sentinel);
        eventsFromReads = changes;
        notifier.OnChange = forward;
        list.reset();
        state.ResumeTiming();
    }
    state.counters["watches"] = watches;
    state.counters["events_from_reads"] = eventsFromReads;
}
BENCHMARK(BM_WatchWholeTree)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return dv::bench::RunGuiBenchmarks(argc, argv);
}
